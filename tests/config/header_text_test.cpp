#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "config/date_time_separators.h"
#include "config/tly_config.h"
#include "dayfile/day_file_lines.h"
#include "dayfile/header_layout.h"
#include "support/clock.h"
#include "support/date_time.h"
#include "testutil/env_guard.h"
#include "testutil/german_locale.h"

namespace tly {
namespace {

using Lines = std::vector<std::string>;

class HeaderText : public ::testing::Test {
 protected:
  HeaderText() : clock_(EncodeDate(2026, 3, 7) + EncodeTime(9, 5, 59, 0)), scoped_(clock_) {}

  // The "#M" line for the test's clock in the user's locale.
  static std::string UpdatedLine() {
    const DateTimeSeparators s = LocaleDateTimeSeparators();
    return std::string("#M last updated at 07") + s.Date + "03" + s.Date + "2026 09" + s.Time +
           "05";
  }

  static Lines Build(const TTlyConfig& config) {
    Lines lines{"stale line"};
    config.BuildHeaderLines(lines);
    return lines;
  }

  ManualClock clock_;
  ScopedClock scoped_;
};

TEST_F(HeaderText, NewConfiguration) {
  const TTlyConfig config;
  const Lines expected = {"#TTLY01",  "",       "#D1DDoor", "#D2DDoor", "#D3DDoor",
                          "#D4DDoor", "#C1YE1", "#C2IE2",   "#C3IE3",   "#C4IE4",
                          "#C5IX1",   "#C6IX2", "#C7IX3",   "#C8IX4",   "#R2222111111111111",
                          "#K1.000",  "#F0",    "#S"};
  Lines want = expected;
  want[1] = UpdatedLine();
  EXPECT_EQ(Build(config), want);

  std::string joined;
  for (const std::string& line : want) joined += line + "\r\n";
  EXPECT_EQ(config.GetHeaderText(), joined);
}

TEST_F(HeaderText, Tly01StateComesFromTheDoors) {
  TTlyConfig config;
  // The channel entries say otherwise; for this device the doors decide.
  DoorTable& doors = config.GetDoorTable();
  doors[2].Active = true;
  doors[2].HasOut = true;
  doors[4].HasOut = true;
  ChannelTable& channels = config.GetChannelTable();
  channels[1].IsOut = true;
  channels[1].Kind = 1;
  channels[6].Kind = 2;
  channels[6].Active = false;
  channels[3].DoorIndex = 17;
  const Lines lines = Build(config);
  const Lines channel_lines(lines.begin() + 6, lines.begin() + 14);
  EXPECT_EQ(channel_lines, (Lines{"#C1YA1", "#C2YE2", "#C3IE3", "#C4IE4", "#C5IX1", "#C6YD2",
                                  "#C7IX3", "#C8IX4"}));
}

TEST_F(HeaderText, Rv9LineCountsFollowTheHighestActiveEntries) {
  TTlyConfig config;
  config.SetDeviceType("RV9");
  for (DoorEntry& door : config.GetDoorTable()) door.Active = false;
  for (ChannelEntry& channel : config.GetChannelTable()) channel.Active = false;
  Lines lines = Build(config);
  ASSERT_EQ(lines.size(), 2u + 4u + 8u + 4u);
  EXPECT_EQ(lines[5], "#D4DDoor");
  EXPECT_EQ(lines[13], "#C8IE1");

  config.GetChannelTable()[12].Active = true;
  config.GetDoorTable()[7].Active = true;
  lines = Build(config);
  ASSERT_EQ(lines.size(), 2u + 7u + 12u + 4u);
  EXPECT_EQ(lines[8], "#D7DDoor");
  int inactive = 0;
  for (int i = 9; i < 21; ++i)
    inactive += lines[i][lines[i].find_first_not_of("#C0123456789")] == 'I';
  EXPECT_EQ(inactive, 11);
  EXPECT_EQ(lines[20], "#C12YE1");
}

TEST_F(HeaderText, LineCountsOfTheOtherDeviceTypes) {
  TTlyConfig config;
  config.SetDeviceType("QDX");
  EXPECT_EQ(Build(config).size(), 2u + 32u + 64u + 4u);
  config.SetDeviceType("TLY08");
  EXPECT_EQ(Build(config).size(), 2u + 8u + 8u + 4u);
  // A type stored without normalisation writes four doors and no channels.
  config.DeviceType = "ABC";
  const Lines lines = Build(config);
  ASSERT_EQ(lines.size(), 2u + 4u + 4u);
  EXPECT_EQ(lines[0], "#TABC");
  EXPECT_EQ(lines[6], "#R2222111111111111");
}

TEST_F(HeaderText, ChannelLettersAndNames) {
  TTlyConfig config;
  config.SetDeviceType("QDX");
  ChannelEntry& channel = config.GetChannelTable()[9];
  channel = ChannelEntry{true, true, 3, 2, FixedText<64>("North\tgate #2")};
  EXPECT_EQ(Build(config)[2 + 32 + 8], "#C9YD3 North\tgate #2");
  channel = ChannelEntry{false, false, 3, 1, FixedText<64>("N")};
  EXPECT_EQ(Build(config)[2 + 32 + 8], "#C9IA3 N");
  channel = ChannelEntry{true, false, 3, 7, {}};
  EXPECT_EQ(Build(config)[2 + 32 + 8], "#C9YE3");
}

// What the header says about doors and channels is read back as written, for
// every channel letter and direction, names with blanks and TABs, and the
// doors that decide a TLY01's channels.
TEST_F(HeaderText, DoorsAndChannelsReadBackAsWritten) {
  TTlyConfig config;
  config.SetDeviceType("QDX");
  for (int d = 1; d <= kDoorCount; ++d) {
    config.GetDoorTable()[d] =
        DoorEntry{d % 3 == 0, FixedText<32>("Gate\t" + std::to_string(d)), "DCP"[d % 3], false, 0};
  }
  for (int n = 1; n <= kChannelCount; ++n) {
    config.GetChannelTable()[n] =
        ChannelEntry{n % 5 != 0, n % 3 == 0, (n * 7) % 32 + 1, n % 4 == 3 ? 7 : n % 4,
                     FixedText<64>(n % 2 == 0 ? "ch " + std::to_string(n) : "")};
  }
  const HeaderLayout layout = ParseHeaderLayout(config.GetHeaderText());
  EXPECT_TRUE(layout.problems.empty());
  ASSERT_EQ(layout.doors.size(), static_cast<size_t>(kDoorCount));
  for (int d = 1; d <= kDoorCount; ++d) {
    EXPECT_EQ(layout.doors[d - 1].number, d);
    EXPECT_EQ(layout.doors[d - 1].kind, config.GetDoorTable()[d].Kind);
    EXPECT_EQ(layout.doors[d - 1].name, config.GetDoorTable()[d].Name.Str());
  }
  ASSERT_EQ(layout.channels.size(), static_cast<size_t>(kChannelCount));
  for (int n = 1; n <= kChannelCount; ++n) {
    const ChannelEntry& written = config.GetChannelTable()[n];
    const HeaderChannel& read = layout.channels[n - 1];
    EXPECT_EQ(read.number, n);
    EXPECT_EQ(read.active, written.Active) << n;
    EXPECT_EQ(read.out, written.IsOut) << n;
    EXPECT_EQ(read.door, written.DoorIndex) << n;
    EXPECT_EQ(read.name, written.Name.Str()) << n;
  }

  TTlyConfig tly01;
  tly01.GetDoorTable()[3].Active = true;
  tly01.GetDoorTable()[3].HasOut = true;
  const HeaderLayout pairs = ParseHeaderLayout(tly01.GetHeaderText());
  ASSERT_EQ(pairs.channels.size(), 8u);
  for (const HeaderChannel& channel : pairs.channels) {
    EXPECT_EQ(channel.out, channel.number > 4);
    EXPECT_EQ(channel.door, (channel.number - 1) % 4 + 1);
    EXPECT_EQ(channel.active, channel.number == 1 || channel.number == 3 || channel.number == 7);
  }
}

TEST_F(HeaderText, ValuesAreWrittenAsStored) {
  TTlyConfig config;
  config.ShopName = "Le #1\tshop";
  config.GetDoorTable()[2].Name = " ";
  config.GetDoorTable()[3].Kind = 'P';
  config.Flags = 0x0FFFF000u;
  config.FValue = -42;
  config.Seal = "0123456789ABCDEF0123456789ABCDEF01234567";
  const Lines lines = Build(config);
  EXPECT_EQ(lines[0], "#TTLY01");
  EXPECT_EQ(lines[1], "# Shop name: Le #1\tshop");
  EXPECT_EQ(lines[2], UpdatedLine());
  EXPECT_EQ(lines[4], "#D2D ");
  EXPECT_EQ(lines[5], "#D3PDoor");
  EXPECT_EQ(lines[15], "#R2222222222222222");
  EXPECT_EQ(lines[17], "#F-42");
  EXPECT_EQ(lines[18], "#S0123456789ABCDEF0123456789ABCDEF01234567");

  config.Flags = 0x00001000u | 0x08000000u;  // first and last mark only
  EXPECT_EQ(Build(config)[15], "#R2111111111111112");
}

// The "#K" line of `config` with KValue set to `value`.
std::string KLine(TTlyConfig& config, double value) {
  config.KValue = value;
  std::vector<std::string> lines;
  config.BuildHeaderLines(lines);
  return lines[lines.size() - 3];
}

void ExpectKLines() {
  TTlyConfig config;
  EXPECT_EQ(KLine(config, 1.0), "#K1.000");
  EXPECT_EQ(KLine(config, 12.5), "#K12.500");
  EXPECT_EQ(KLine(config, 0.0), "#K0.000");
  EXPECT_EQ(KLine(config, -1.0), "#K-1.000");
  EXPECT_EQ(KLine(config, 0.0005), "#K0.001");
  EXPECT_EQ(KLine(config, 123456.25), "#K123456.250");
  EXPECT_EQ(KLine(config, 1e300).size(), 2u + 301u + 4u);
}

TEST_F(HeaderText, KValueHasThreeDecimalsAndAMinimumWidth) {
  ExpectKLines();
}

TEST_F(HeaderText, KValueKeepsItsPointInADecimalCommaLocale) {
  const testing::GermanLocalePath locale_path;
  if (testing::GermanLocaleDir().empty()) GTEST_SKIP() << "no German locale could be compiled";
  const std::string previous = setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(setlocale(LC_NUMERIC, testing::kGermanLocale), nullptr);
  ASSERT_EQ(*localeconv()->decimal_point, ',');
  ExpectKLines();
  setlocale(LC_NUMERIC, previous.c_str());
}

// The "#M" line follows the user's locale as the environment names it, also
// when the environment changes while the program runs.
TEST_F(HeaderText, UpdateMomentFollowsTheUsersLocale) {
  const testing::GermanLocalePath locale_path;
  if (testing::GermanLocaleDir().empty()) GTEST_SKIP() << "no German locale could be compiled";
  const testing::EnvGuard lc_all("LC_ALL");
  const TTlyConfig config;
  ::setenv("LC_ALL", "C", 1);
  EXPECT_EQ(Build(config)[1], "#M last updated at 07/03/2026 09:05");
  ::setenv("LC_ALL", testing::kGermanLocale, 1);
  EXPECT_EQ(Build(config)[1], "#M last updated at 07.03.2026 09:05");
  ::setenv("LC_ALL", "C", 1);
  EXPECT_EQ(Build(config)[1], "#M last updated at 07/03/2026 09:05");
}

TEST(DateTimeSeparatorsTest, CLocaleAndUnknownLocalesGiveSlashAndColon) {
  const DateTimeSeparators c = LocaleDateTimeSeparators("C");
  EXPECT_EQ(c.Date, '/');
  EXPECT_EQ(c.Time, ':');
  const DateTimeSeparators missing = LocaleDateTimeSeparators("xx_NOWHERE.UTF-8");
  EXPECT_EQ(missing.Date, '/');
  EXPECT_EQ(missing.Time, ':');
}

TEST(DateTimeSeparatorsTest, GermanLocaleWritesDots) {
  const testing::GermanLocalePath locale_path;
  if (testing::GermanLocaleDir().empty()) GTEST_SKIP() << "no German locale could be compiled";
  const DateTimeSeparators german = LocaleDateTimeSeparators(testing::kGermanLocale);
  EXPECT_EQ(german.Date, '.');
  EXPECT_EQ(german.Time, ':');
}

TEST(HeaderLineTests, TellHeaderTitleAndDataLinesApart) {
  EXPECT_TRUE(IsTagLine("#S"));
  EXPECT_TRUE(IsTagLine("#TRV9"));
  EXPECT_FALSE(IsTagLine("#"));
  EXPECT_FALSE(IsTagLine("x#S"));
  EXPECT_TRUE(IsSealLine("#S"));
  EXPECT_TRUE(IsSealLine("#SABC"));
  EXPECT_FALSE(IsSealLine("# Shop name: S"));
  EXPECT_FALSE(IsSealLine("S"));

  EXPECT_TRUE(IsDataLine("Ma"));
  EXPECT_TRUE(IsDataLine("0001\t07/03/2026\t09:00\t1\t2"));
  EXPECT_TRUE(IsDataLine("magasin cnl"));  // the tests are case-sensitive
  EXPECT_FALSE(IsDataLine(""));
  EXPECT_FALSE(IsDataLine("x"));
  EXPECT_FALSE(IsDataLine("#C1YE1"));
  EXPECT_FALSE(IsDataLine(kTitleLine1));
  EXPECT_FALSE(IsDataLine(kTitleLine2));
  EXPECT_FALSE(IsDataLine("row with CNL inside"));
  EXPECT_FALSE(IsDataLine("xMagasin"));
  EXPECT_EQ(kTitleLine1, "Magasin \tDate \tHeure \t CANALS\t\t\t");
  EXPECT_EQ(kTitleLine2, "\t\t\tCNL1\tCNL2\tCNL3\tCNL4");

  TTlyConfig config;
  config.Seal = "old";
  config.ParseSealLine("#S");
  EXPECT_EQ(config.Seal, "");
  config.ParseSealLine("#SAB CD");
  EXPECT_EQ(config.Seal, "AB CD");
}

}  // namespace
}  // namespace tly
