#include "counting/day_file_writer.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "testutil/child_process.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

TDateTime Time(int hour, int minute) {
  return EncodeTime(hour, minute, 0, 0);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last CR LF";
  return lines;
}

size_t FieldCount(const std::string& row) {
  return std::count(row.begin(), row.end(), '\t') + 1u;
}

class DayFileWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { InitDayCounts(day_, 2026, 12, 7); }
  std::string Write(int32_t channels_per_row, TDateTime from = Time(1, 0), TDateTime to = 0) {
    WriteDayRows(day_, file_, "001", from, to, channels_per_row);
    return ReadBytes(file_);
  }

  TempDir dir_;
  std::string file_ = dir_.File("261207.tly");
  DayCounts day_;
};

TEST(DayFileRow, FieldsAndNumberFormat) {
  DayCounts day;
  InitDayCounts(day, 2026, 12, 7);
  const int32_t counts[] = {1, 0, 1, 1, 0, 0, 2, 1, 0, 0};
  std::copy(std::begin(counts), std::end(counts), day.Slots[41].Counts);
  EXPECT_EQ(FormatSlotRow("001", day.Slots[41], 10),
            "001\t07/12/2026\t10:15\t 1\t 0\t 1\t 1\t 0\t 0\t 2\t 1\t 0\t 0");
  EXPECT_EQ(FormatSlotRow("001", day.Slots[0], 0), "001\t07/12/2026\t00:00");
  EXPECT_EQ(FormatSlotRow("", day.Slots[0], -1), "\t07/12/2026\t00:00");

  SlotCounts odd = day.Slots[95];
  odd.Year = 987;
  odd.Counts[0] = -3;
  odd.Counts[1] = std::numeric_limits<int32_t>::min();
  odd.Counts[2] = std::numeric_limits<int32_t>::max();
  odd.Counts[63] = 17;
  EXPECT_EQ(FormatSlotRow("X", odd, 3), "X\t07/12/0987\t23:45\t -3\t -2147483648\t 2147483647");
  const std::string wide = FormatSlotRow("X", odd, 100);
  EXPECT_EQ(FieldCount(wide), 3u + 64u);
  EXPECT_TRUE(wide.ends_with("\t 0\t 17"));
}

// Every count is written as printf's "%d" would, whatever its length: every
// value 0..9999 and its negative, eight-digit values, each length's borders
// and the extremes.
TEST(DayFileRow, CountsOfEveryLength) {
  std::vector<int32_t> values;
  for (int32_t k = 0; k < 10000; ++k) {
    values.push_back(k);
    values.push_back(k * 10000 + (9999 - k));
  }
  for (int64_t power = 1; power <= 1000000000; power *= 10) {
    for (int64_t near : {power - 1, power, power + 1}) values.push_back(static_cast<int32_t>(near));
  }
  values.push_back(std::numeric_limits<int32_t>::max());
  values.push_back(std::numeric_limits<int32_t>::min());
  for (size_t i = 0, n = values.size(); i < n; ++i) values.push_back(-1 - values[i]);

  SlotCounts slot{};
  for (size_t first = 0; first < values.size(); first += kMaxChannels) {
    std::string expected = "1\t00/00/0000\t00:00";
    for (int j = 0; j < kMaxChannels; ++j) {
      slot.Counts[j] = values[(first + j) % values.size()];
      expected += "\t " + std::to_string(slot.Counts[j]);
    }
    ASSERT_EQ(FormatSlotRow("1", slot, kMaxChannels), expected);
  }
}

TEST_F(DayFileWriterTest, WritesUsedAndForcedSlotsOnly) {
  WriteBytes(file_, "#old header\r\n");
  EXPECT_EQ(Write(0), "");  // nothing used: an empty file

  day_.SlotUsed[41] = 1;
  day_.SlotUsed[32] = 1;
  day_.FirstSlot = 32;
  day_.LastSlot = 41;
  day_.Slots[41].Counts[9] = 5;
  day_.ChannelCount = 10;
  std::vector<std::string> rows = Lines(Write(0));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "001\t07/12/2026\t08:00\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0");
  EXPECT_EQ(rows[1], "001\t07/12/2026\t10:15\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 5");

  // The forced range 00:00..01:00 adds slots 0 to 4, but never past LastSlot.
  rows = Lines(Write(0, Time(0, 0), Time(1, 0)));
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_TRUE(rows[4].starts_with("001\t07/12/2026\t01:00\t"));
  day_.LastSlot = 2;
  day_.SlotUsed[41] = day_.SlotUsed[32] = 0;
  EXPECT_EQ(Lines(Write(0, Time(0, 0), Time(1, 0))).size(), 3u);
}

TEST_F(DayFileWriterTest, CountFieldsPerRow) {
  day_.SlotUsed[0] = 1;
  day_.LastSlot = day_.FirstSlot = 0;
  EXPECT_EQ(FieldCount(Lines(Write(0))[0]), 3u);  // ChannelCount 0
  day_.ChannelCount = 10;
  EXPECT_EQ(FieldCount(Lines(Write(0))[0]), 3u + 10u);
  EXPECT_EQ(FieldCount(Lines(Write(2))[0]), 3u + 4u);
  EXPECT_EQ(FieldCount(Lines(Write(-7))[0]), 3u + 4u);
  EXPECT_EQ(FieldCount(Lines(Write(100))[0]), 3u + 64u);
}

TEST(DayFileTempName, ExtensionReplaced) {
  EXPECT_EQ(TempFileNameFor("/out/261207.tly"), "/out/261207.tmp");
  EXPECT_EQ(TempFileNameFor("/out.d/261207"), "/out.d/261207.tmp");
  EXPECT_EQ(TempFileNameFor("261207"), "261207.tmp");
  EXPECT_EQ(TempFileNameFor("/out/261207.tmp"), "/out/261207.tmp.tmp");
}

TEST_F(DayFileWriterTest, ReplacesReadOnlyFileAndNeverFollowsALinkedTemporaryName) {
  WriteBytes(file_, "old");
  ASSERT_EQ(::chmod(file_.c_str(), 0444), 0);
  const std::string victim = dir_.File("victim");
  WriteBytes(victim, "keep");
  std::filesystem::create_symlink(victim, dir_.File("261207.tmp"));

  EXPECT_EQ(Write(0), "");
  EXPECT_EQ(ReadBytes(victim), "keep");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("261207.tmp")));
}

TEST_F(DayFileWriterTest, FailureLeavesThePreviousFileAsItWas) {
  for (int s = 0; s < kSlotsPerDay; ++s) day_.SlotUsed[s] = 1;
  day_.FirstSlot = 0;
  day_.LastSlot = 95;
  day_.ChannelCount = 64;

  // No directory to create the file in, or a file in place of the directory.
  EXPECT_THROW(WriteDayRows(day_, dir_.File("missing/261207.tly"), "001", 0, 0, 0),
               std::system_error);
  WriteBytes(dir_.File("plain"), "x");
  EXPECT_THROW(WriteDayRows(day_, dir_.File("plain/261207.tly"), "001", 0, 0, 0),
               std::system_error);

  // A directory in the way of the final rename.
  std::filesystem::create_directory(dir_.File("261208.tly"));
  EXPECT_THROW(WriteDayRows(day_, dir_.File("261208.tly"), "001", 0, 0, 0), std::system_error);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("261208.tmp")));

  // A write refused half-way: the file size limit stands in for a full disk.
  const std::string previous = "#header\r\n001\t07/12/2026\t00:00\t 1\r\n";
  WriteBytes(file_, previous);
  const int outcome = testing::RunInChild([this] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    try {
      WriteDayRows(day_, file_, "001", 0, 0, 0);
    } catch (const std::system_error& e) {
      return e.code().value() == EFBIG ? 0 : 3;
    }
    return 1;
  });
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(ReadBytes(file_), previous);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("261207.tmp")));

  // Without the limit the same record is saved.
  WriteDayRows(day_, file_, "001", 0, 0, 0);
  EXPECT_EQ(Lines(ReadBytes(file_)).size(), 96u);
}

}  // namespace
}  // namespace tly
