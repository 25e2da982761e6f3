#include "live/generation_cycle.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "counting/day_file_writer.h"
#include "flat/default_layout.h"
#include "live/generation_timer.h"
#include "support/clock.h"
#include "support/date_time.h"
#include "testutil/draw_model.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using Row = testing::TickRow;
constexpr double kTwoSeconds = 2.0 / 86400.0;

bool AllZero(const Row& row) {
  for (int64_t value : row)
    if (value != 0) return false;
  return true;
}

// The data rows of a day file, by their "hh:mm" field, with their counts.
std::map<std::string, Row> ReadRows(const std::string& path) {
  std::map<std::string, Row> rows;
  std::istringstream in(testing::ReadBytes(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 2 || line[0] == '#' || line.find("Magasin") != std::string::npos ||
        line.find("CNL") != std::string::npos)
      continue;
    std::vector<std::string> fields;
    std::istringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    EXPECT_EQ(fields.size(), 13u) << line;
    Row row{};
    for (size_t i = 3; i < fields.size() && i < 13; ++i) row[i - 3] = std::stoll(fields[i]);
    rows[fields[2]] = row;
  }
  return rows;
}

Row SlotRow(const DayCounts& day, int slot) {
  Row row{};
  for (int ch = 0; ch < 10; ++ch) row[ch] = day.Slots[slot].Counts[ch];
  return row;
}

std::string SlotName(int slot) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d", slot / 4, slot % 4 * 15);
  return text;
}

class GenerationCycleTest : public ::testing::Test {
 protected:
  GenerationCycleTest()
      : scoped_(clock_),
        cycle_(
            timer_, [this] { return out_dir_; }, [this] { ++refreshes_; }) {}

  void At(int hour, int minute, int second) {
    clock_.Set(day_ + EncodeTime(hour, minute, second, 0));
  }

  // `count` ticks 2 s apart, the draws of each added to `total`.
  void RunTicks(int count, Row& total) {
    for (int i = 0; i < count; ++i) {
      clock_.AdvanceSeconds(2);
      const Row drawn = draws_.Tick();
      for (int ch = 0; ch < 10; ++ch) total[ch] += drawn[ch];
      cycle_.Tick();
    }
  }

  testing::TempDir dir_;
  std::string out_dir_ = dir_.path();
  TDateTime day_ = EncodeDate(2026, 12, 7);
  ManualClock clock_{day_};
  ScopedClock scoped_;
  FlagTimer timer_;
  testing::DrawModel draws_;
  int refreshes_ = 0;
  GenerationCycle cycle_;
};

TEST_F(GenerationCycleTest, DayFileNameFollowsDirectoryAndDate) {
  At(10, 0, 0);
  cycle_.BuildDayFileName();
  EXPECT_EQ(cycle_.DayFileName(), dir_.path() + "/261207.tly");
  EXPECT_EQ(cycle_.DayDate(), day_);
  out_dir_ = dir_.path() + "/";
  cycle_.BuildDayFileName();
  EXPECT_EQ(cycle_.DayFileName(), dir_.path() + "/261207.tly");
  out_dir_.clear();
  cycle_.BuildDayFileName();
  EXPECT_EQ(cycle_.DayFileName(), "/261207.tly");
}

TEST_F(GenerationCycleTest, FirstTicksAddTheFixedSequenceAndStopSavesAtOnce) {
  At(10, 0, 0);
  cycle_.StartGeneration();
  EXPECT_TRUE(cycle_.IsGenerating());
  EXPECT_TRUE(timer_.IsEnabled());
  const std::array<Row, 3> expected = {Row{0, 0, 1, 0, 0, 0, 0, 0, 0, 0},
                                       Row{0, 0, 1, 0, 0, 0, 1, 0, 1, 0},
                                       Row{1, 1, 2, 0, 0, 0, 1, 0, 2, 0}};
  for (int tick = 0; tick < 3; ++tick) {
    clock_.AdvanceSeconds(2);
    cycle_.Tick();
    EXPECT_EQ(SlotRow(cycle_.DayData(), 40), expected[tick]) << "tick " << tick + 1;
  }
  EXPECT_EQ(refreshes_, 3);
  EXPECT_EQ(cycle_.DayData().FirstSlot, 40);
  EXPECT_EQ(cycle_.DayData().LastSlot, 40);

  // The stop writes the day even though the last save was just now.
  cycle_.StopGeneration();
  EXPECT_FALSE(cycle_.IsGenerating());
  EXPECT_TRUE(cycle_.LastSaveOk());
  const auto rows = ReadRows(dir_.File("261207.tly"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.at("10:00"), expected[2]);
}

TEST_F(GenerationCycleTest, ExitsNeverExceedEntriesAndAZeroTickChangesNothing) {
  At(6, 0, 0);
  cycle_.StartGeneration();
  testing::DrawModel draws;
  int zero_ticks = 0;
  for (int tick = 0; tick < 2000; ++tick) {
    clock_.AdvanceSeconds(2);
    const int slot = QuarterHourSlot(clock_.Now());
    const Row before = SlotRow(cycle_.DayData(), slot);
    const DayCounts whole_before = cycle_.DayData();
    const uint64_t saves = cycle_.SaveCount();
    const int refreshes = refreshes_;
    const Row drawn = draws.Tick();
    cycle_.Tick();
    const Row after = SlotRow(cycle_.DayData(), slot);
    for (int door = 0; door < 4; ++door)
      EXPECT_LE(after[2 * door + 1] - before[2 * door + 1], after[2 * door] - before[2 * door]);
    if (AllZero(drawn)) {
      ++zero_ticks;
      EXPECT_EQ(std::memcmp(&whole_before, &cycle_.DayData(), sizeof(DayCounts)), 0);
      EXPECT_EQ(refreshes_, refreshes);
      EXPECT_EQ(cycle_.SaveCount(), saves) << "a due save waits for a tick with counts";
    }
  }
  EXPECT_GT(zero_ticks, 10);
}

TEST_F(GenerationCycleTest, StopAndStartWithinADayContinueTheSameFile) {
  At(9, 59, 50);
  cycle_.StartGeneration();
  testing::DrawModel draws;
  std::map<std::string, Row> expected;
  auto run_ticks = [&](int count) {
    for (int i = 0; i < count; ++i) {
      clock_.AdvanceSeconds(2);
      const Row drawn = draws.Tick();
      Row& row = expected[SlotName(QuarterHourSlot(clock_.Now()))];
      for (int ch = 0; ch < 10; ++ch) row[ch] += drawn[ch];
      cycle_.Tick();
    }
  };
  run_ticks(20);
  cycle_.StopGeneration();
  clock_.AdvanceSeconds(30);
  cycle_.StartGeneration();
  EXPECT_EQ(cycle_.DayFileName(), dir_.File("261207.tly"));
  EXPECT_EQ(SlotRow(cycle_.DayData(), 39), expected["09:45"]) << "reloaded from the file";
  run_ticks(20);
  cycle_.StopGeneration();
  for (auto it = expected.begin(); it != expected.end();)
    it = AllZero(it->second) ? expected.erase(it) : std::next(it);
  EXPECT_EQ(ReadRows(dir_.File("261207.tly")), expected);
}

TEST_F(GenerationCycleTest, MissingDirectoryKeepsCountsInMemoryUntilItReturns) {
  At(12, 0, 0);
  cycle_.StartGeneration();
  Row total{};
  auto run_ticks = [&](int count) { RunTicks(count, total); };
  run_ticks(10);
  EXPECT_TRUE(cycle_.LastSaveOk());
  std::filesystem::remove_all(dir_.path());
  const uint64_t saves = cycle_.SaveCount();
  run_ticks(10);
  EXPECT_GT(cycle_.SaveCount(), saves);
  EXPECT_FALSE(cycle_.LastSaveOk());
  EXPECT_FALSE(cycle_.LastSaveError().empty());
  EXPECT_TRUE(cycle_.IsGenerating());
  EXPECT_EQ(SlotRow(cycle_.DayData(), 48), total);

  std::filesystem::create_directory(dir_.path());
  run_ticks(10);
  cycle_.StopGeneration();
  EXPECT_TRUE(cycle_.LastSaveOk());
  const auto rows = ReadRows(dir_.File("261207.tly"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.at("12:00"), total);
}

// The save builds the sealed file in memory and replaces the day file once.
// Its bytes are those of the two steps it replaces: the rows written alone,
// then the header rewrite reading them back and sealing them. A loaded file
// with more channels, negative counts and an odd time makes sure the rows are
// the day's, not a copy of what was read.
TEST_F(GenerationCycleTest, OneStepSaveWritesTheBytesOfRowsThenHeaderRewrite) {
  testing::WriteBytes(
      dir_.File("261207.tly"),
      "001\t07/12/2026\t09:20\t 5\t -3\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 44\r\n");
  At(9, 40, 0);
  cycle_.StartGeneration();
  Row total{};
  RunTicks(700, total);  // across several quarter hours
  cycle_.StopGeneration();
  ASSERT_TRUE(cycle_.LastSaveOk()) << cycle_.LastSaveError();

  const std::string two_steps = dir_.File("two-steps.tly");
  TTlyConfig config;
  ApplyDefaultLayout(config);
  WriteDayRows(cycle_.DayData(), two_steps, "001", EncodeTime(1, 0, 0, 0), 0, 0);
  config.SetHeaderToFile(two_steps);
  const std::string one_step = testing::ReadBytes(dir_.File("261207.tly"));
  EXPECT_EQ(one_step, testing::ReadBytes(two_steps));
  EXPECT_NE(one_step.find("\t 44\r\n"), std::string::npos) << "the loaded twelfth channel";
}

// A day file that exists but cannot be read when the day is loaded (here a
// named pipe, which no reader may block on; for a user without read access it
// is a file of someone else's) must not be replaced by the counts made since:
// that would drop every row it held. Once it can be read again, the save
// continues it with the counts kept in memory.
TEST_F(GenerationCycleTest, UnreadableDayFileIsNotOverwrittenAndIsContinuedWhenReadable) {
  At(8, 0, 0);
  cycle_.StartGeneration();
  Row total{};
  auto run_ticks = [&](int count) { RunTicks(count, total); };
  run_ticks(10);
  cycle_.StopGeneration();
  const std::string day_file = dir_.File("261207.tly");
  const std::string saved = testing::ReadBytes(day_file);
  const std::string aside = dir_.File("aside");
  std::filesystem::rename(day_file, aside);
  ASSERT_EQ(::mkfifo(day_file.c_str(), 0644), 0);

  cycle_.StartGeneration();
  run_ticks(10);
  EXPECT_FALSE(cycle_.SaveDay());
  EXPECT_NE(cycle_.LastSaveError().find("cannot be read"), std::string::npos)
      << cycle_.LastSaveError();
  EXPECT_TRUE(std::filesystem::is_fifo(day_file)) << "replaced while unreadable";

  std::filesystem::rename(aside, day_file);
  run_ticks(10);
  cycle_.StopGeneration();
  EXPECT_TRUE(cycle_.LastSaveOk()) << cycle_.LastSaveError();
  const auto rows = ReadRows(day_file);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.at("08:00"), total) << "the file's rows and every count since";
  EXPECT_EQ(SlotRow(cycle_.DayData(), 32), total);
  EXPECT_NE(saved, testing::ReadBytes(day_file));
}

// A whole simulated day, one tick every 2 seconds from 00:00:00 to 23:59:58.
// The clock moves on 18 s within each tick, as if the save were that slow, so
// only every tenth tick finds a save due: the file is still rewritten and read
// back thousands of times, and the test stays quick. The day's file must hold
// every count, slot by slot, and the first tick after midnight must go to the
// next day's file, which is continued because it already exists.
TEST_F(GenerationCycleTest, WholeDayEndsInItsFileAndMidnightMovesOn) {
  const TDateTime next_day = day_ + 1;
  Row next_day_before{};
  {
    ManualClock other_clock(next_day + EncodeTime(0, 0, 30, 0));
    ScopedClock other_scope(other_clock);
    FlagTimer other_timer;
    GenerationCycle other(
        other_timer, [this] { return out_dir_; }, {}, 12345);
    other.StartGeneration();
    for (int i = 0; i < 5; ++i) {
      other_clock.AdvanceSeconds(2);
      other.Tick();
    }
    other.StopGeneration();
    ASSERT_TRUE(other.LastSaveOk());
    next_day_before = SlotRow(other.DayData(), 0);
  }

  GenerationCycle cycle(
      timer_, [this] { return out_dir_; },
      [this] {
        ++refreshes_;
        clock_.AdvanceSeconds(18);
      });
  At(0, 0, 0);
  cycle.StartGeneration();
  testing::DrawModel draws;
  std::array<Row, kSlotsPerDay> expected{};
  constexpr int kTicks = 43200;
  for (int i = 0; i < kTicks; ++i) {
    clock_.Set(day_ + i * kTwoSeconds);
    const Row drawn = draws.Tick();
    Row& row = expected[i / 450];
    for (int ch = 0; ch < 10; ++ch) row[ch] += drawn[ch];
    cycle.Tick();
  }
  EXPECT_GT(cycle.SaveCount(), 4000u);
  EXPECT_LT(cycle.SaveCount(), 4500u);
  EXPECT_EQ(cycle.DayFileName(), dir_.File("261207.tly"));

  Row midnight{};
  do {
    clock_.Set(next_day + kTwoSeconds);
    midnight = draws.Tick();
    cycle.Tick();
  } while (AllZero(midnight));
  EXPECT_EQ(cycle.DayFileName(), dir_.File("261208.tly"));
  EXPECT_EQ(cycle.DayDate(), next_day);
  EXPECT_EQ(cycle.DayData().Date, next_day);

  const auto rows = ReadRows(dir_.File("261207.tly"));
  ASSERT_EQ(rows.size(), static_cast<size_t>(kSlotsPerDay));
  for (int slot = 0; slot < kSlotsPerDay; ++slot)
    EXPECT_EQ(rows.at(SlotName(slot)), expected[slot]) << SlotName(slot);

  Row next_day_expected = next_day_before;
  for (int ch = 0; ch < 10; ++ch) next_day_expected[ch] += midnight[ch];
  EXPECT_EQ(SlotRow(cycle.DayData(), 0), next_day_expected);
  cycle.StopGeneration();
  const auto next_rows = ReadRows(dir_.File("261208.tly"));
  ASSERT_EQ(next_rows.size(), 1u);
  EXPECT_EQ(next_rows.at("00:00"), next_day_expected);
}

}  // namespace
}  // namespace tly
