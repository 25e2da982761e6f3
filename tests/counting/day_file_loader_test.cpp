#include "counting/day_file_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <utility>

#include "counting/day_file_writer.h"
#include "support/clock.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using namespace std::string_literals;
using testing::TempDir;
using testing::WriteBytes;

constexpr char kHeader[] = "#B header line\r\n#Sseal\r\nMagasin\tDate\tHeure\r\nCNL\r\n";

class DayFileLoaderTest : public ::testing::Test {
 protected:
  // Loads `bytes` as the day file named `name` (in a fresh directory) into day_.
  void Load(const std::string& bytes, const std::string& name = "261207.tly") {
    const std::string path = dir_.File(name);
    WriteBytes(path, bytes);
    LoadDayFile(path, day_);
  }

  TempDir dir_;
  DayCounts day_;
};

TEST_F(DayFileLoaderTest, DayOfTheRecord) {
  ManualClock clock(EncodeDate(2026, 3, 4) + 0.5);
  const ScopedClock scoped(clock);

  // No file: the name's date, or today when the name is no date.
  LoadDayFile(dir_.File("261207.tly"), day_);
  EXPECT_EQ(day_.Date, EncodeDate(2026, 12, 7));
  EXPECT_EQ(day_.FirstSlot, 96);
  EXPECT_EQ(day_.LastSlot, -1);
  EXPECT_EQ(day_.ChannelCount, 0);
  LoadDayFile(dir_.File("notes.tly"), day_);
  EXPECT_EQ(day_.Date, EncodeDate(2026, 3, 4));

  // The last row's date wins; every row is merged into that day by its time.
  Load(std::string(kHeader) + "001\t07/12/2026\t10:15\t 4\r\n001\t08/12/2026\t11:00\t 5\r\n");
  EXPECT_EQ(day_.Date, EncodeDate(2026, 12, 8));
  EXPECT_EQ(day_.Slots[41].Day, 8);
  EXPECT_EQ(day_.Slots[41].Counts[0], 4);
  EXPECT_EQ(day_.Slots[44].Counts[0], 5);

  const std::pair<const char*, TDateTime> last_row_dates[] = {
      {"08/12/26", EncodeDate(2026, 12, 8)},   {"08/12/99", EncodeDate(2099, 12, 8)},
      {"08/12", EncodeDate(2026, 12, 8)},      {" 08/12/2026 ", EncodeDate(2026, 12, 8)},
      {"31/02/2026", EncodeDate(2026, 12, 7)}, {"8/12/2026", EncodeDate(2026, 12, 7)},
      {"", EncodeDate(2026, 12, 7)},           {"08/1x/2026", EncodeDate(2026, 12, 7)}};
  for (const auto& [text, expected] : last_row_dates) {
    Load(std::string("001\t") + text + "\t10:15\t 1\r\n");
    EXPECT_EQ(day_.Date, expected) << text;
    EXPECT_EQ(day_.Slots[41].Counts[0], 1) << text;
  }

  // A file that cannot be read keeps the name's date.
  std::filesystem::create_directory(dir_.File("261209.tly"));
  LoadDayFile(dir_.File("261209.tly"), day_);
  EXPECT_EQ(day_.Date, EncodeDate(2026, 12, 9));
  EXPECT_EQ(day_.LastSlot, -1);
}

TEST_F(DayFileLoaderTest, RowTimesSelectSlots) {
  Load(
      "001\t07/12/2026\t10:20\t 1\r\n"
      "001\t07/12/2026\t08.05\t 2\r\n"
      "001\t07/12/2026\t24:00\t 9\r\n"
      "001\t07/12/2026\t9:30\t 9\r\n"
      "001\t07/12/2026\t10:60\t 9\r\n"
      "001\t07/12/2026\t-1:00\t 9\r\n"
      "001\t07/12/2026\t\t 9\r\n"
      "001\t07/12/2026\r\n");
  EXPECT_EQ(day_.FirstSlot, 32);
  EXPECT_EQ(day_.LastSlot, 41);
  EXPECT_EQ(day_.Slots[32].Counts[0], 2);
  EXPECT_EQ(day_.Slots[41].Counts[0], 1);
  for (int s = 0; s < kSlotsPerDay; ++s) EXPECT_EQ(day_.SlotUsed[s], s == 32 || s == 41) << s;

  // Written back, a row takes its slot's own time.
  WriteDayRows(day_, dir_.File("261207.tly"), "001", EncodeTime(1, 0, 0, 0), 0, 0);
  EXPECT_EQ(testing::ReadBytes(dir_.File("261207.tly")),
            "001\t07/12/2026\t08:00\t 2\r\n001\t07/12/2026\t10:15\t 1\r\n");
}

TEST_F(DayFileLoaderTest, CountFieldsReplaceCountersUpToTheFirstNonInteger) {
  std::string seventy = "001\t07/12/2026\t12:00";
  for (int j = 0; j < 70; ++j) seventy += "\t " + std::to_string(j + 1);
  Load(
      "001\t07/12/2026\t10:15\t 1\t 2\t 3\t 4\t 5\t 6\t 7\t 8\t 9\t 10\r\n"
      "001\t07/12/2026\t10:29\t 11\t 12\t 13\t 14\r\n"
      "001\t07/12/2026\t10:15\t 21\t x\t 23\r\n"
      "001\t07/12/2026\t11:00\r\n"
      "001\t07/12/2026\t11:15\t +5 \t-2147483648\t2147483648\t 7\r\n"
      "001\t07/12/2026\t11:30\t 1e3\t 1\r\n"
      "001\t07/12/2026\t11:45\t 0x10\t 1\r\n"
      "001\t07/12/2026\t12:15\t +-1\t 1\r\n"
      "001\t07/12/2026\t12:30\t - 1\t 1\r\n" +
      seventy + "\r\n");
  const int32_t* slot41 = day_.Slots[41].Counts;
  EXPECT_EQ(slot41[0], 21);
  EXPECT_EQ(slot41[1], 12);
  EXPECT_EQ(slot41[3], 14);
  EXPECT_EQ(slot41[4], 5);
  EXPECT_EQ(slot41[9], 10);
  EXPECT_EQ(day_.SlotUsed[44], 1);
  EXPECT_EQ(day_.Slots[45].Counts[0], 5);
  EXPECT_EQ(day_.Slots[45].Counts[1], INT32_MIN);
  EXPECT_EQ(day_.Slots[45].Counts[2], 0);
  EXPECT_EQ(day_.Slots[45].Counts[3], 0);
  for (int s : {46, 47, 49, 50}) {
    EXPECT_EQ(day_.SlotUsed[s], 1) << s;
    EXPECT_EQ(day_.Slots[s].Counts[1], 0) << s;
  }
  EXPECT_EQ(day_.Slots[48].Counts[63], 64);
  EXPECT_EQ(day_.ChannelCount, 64);

  // Without the wide row, the widest row decides; a row without counts does not count.
  Load("001\t07/12/2026\t10:15\t 1\t 2\t x\r\n001\t07/12/2026\t11:00\r\n");
  EXPECT_EQ(day_.ChannelCount, 2);
}

// Days written by the row writer load back as they were.
TEST_F(DayFileLoaderTest, WrittenDaysLoadBackUnchanged) {
  std::mt19937 random(20261207);
  const auto below = [&random](uint32_t n) { return static_cast<int32_t>(random() % n); };
  for (int trial = 0; trial < 60; ++trial) {
    DayCounts written;
    const TDateTime date = EncodeDate(2000, 1, 1) + below(32000);
    const CivilDate civil = DecodeDate(date);
    InitDayCounts(written, static_cast<uint16_t>(civil.Year), static_cast<uint16_t>(civil.Month),
                  static_cast<uint16_t>(civil.Day));
    const int32_t channels = trial == 0 ? 0 : trial == 1 ? 64 : below(65);
    const int32_t used = trial == 2 ? 0 : below(97);
    for (int i = 0; i < used; ++i) {
      const int32_t s = below(kSlotsPerDay);
      written.SlotUsed[s] = 1;
      written.FirstSlot = std::min(written.FirstSlot, s);
      written.LastSlot = std::max(written.LastSlot, s);
      for (int32_t j = 0; j < channels; ++j)
        written.Slots[s].Counts[j] = static_cast<int32_t>(random());
    }
    written.ChannelCount = written.LastSlot >= 0 ? channels : 0;

    const std::string path = dir_.File(FormatYyMmDd(date) + ".tly");
    WriteDayRows(written, path, "001", EncodeTime(1, 0, 0, 0), 0, 0);
    LoadDayFile(path, day_);

    ASSERT_EQ(day_.Date, written.Date) << trial;
    ASSERT_EQ(day_.ChannelCount, written.ChannelCount) << trial;
    ASSERT_EQ(day_.FirstSlot, written.FirstSlot) << trial;
    ASSERT_EQ(day_.LastSlot, written.LastSlot) << trial;
    for (int s = 0; s < kSlotsPerDay; ++s) {
      ASSERT_EQ(day_.SlotUsed[s], written.SlotUsed[s]) << trial << " slot " << s;
      ASSERT_EQ(FormatSlotRow("", day_.Slots[s], 64), FormatSlotRow("", written.Slots[s], 64))
          << trial << " slot " << s;
    }
  }
}

// Whatever bytes the file holds, loading neither crashes nor breaks the
// record's invariants.
TEST_F(DayFileLoaderTest, SurvivesArbitraryBytes) {
  std::mt19937 random(7);
  std::string garbage(1 << 16, '\0');
  for (char& c : garbage) c = static_cast<char>(random());

  std::string many_fields = "001\t07/12/2026\t10:15";
  for (int j = 0; j < 5000; ++j) many_fields += "\t 1";
  std::string huge_line = "001\t07/12/2026\t10:30\t";
  huge_line.append(4 << 20, '7');

  const std::string inputs[] = {
      garbage,
      "001\t07/12/2026\t10:15\0\t 1\r\n\0\0\r\r\r\n\t\t\t\r\n"s,
      "\r\r\r\r001\t07/12/2026\t10:15\t 1\r 2\r\n",
      many_fields + "\r\n" + huge_line + "\r\n" + garbage,
      std::string(3 << 20, '\t'),
      "001\t99/99/9999\t23:59\t 1\r\n",
  };
  for (const std::string& bytes : inputs) {
    Load(bytes);
    ASSERT_GE(day_.ChannelCount, 0);
    ASSERT_LE(day_.ChannelCount, 64);
    ASSERT_TRUE((day_.FirstSlot == 96 && day_.LastSlot == -1) ||
                (day_.FirstSlot <= day_.LastSlot && day_.FirstSlot >= 0 && day_.LastSlot < 96));
  }
  Load(many_fields + "\r\n" + huge_line + "\r\n");
  EXPECT_EQ(day_.ChannelCount, 64);
  EXPECT_EQ(day_.Slots[41].Counts[63], 1);
  EXPECT_TRUE(day_.SlotUsed[42]);
  EXPECT_EQ(day_.Slots[42].Counts[0], 0);  // 4 MB of digits: out of range, not a count
}

}  // namespace
}  // namespace tly
