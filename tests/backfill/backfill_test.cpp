#include "backfill/backfill.h"

#include <sched.h>
#include <sys/stat.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "config/date_time_separators.h"
#include "config/tly_config.h"
#include "counting/day_file_loader.h"
#include "dayfile/day_file_check.h"
#include "flat/tick_sums.h"
#include "live/generation_cycle.h"
#include "live/generation_timer.h"
#include "support/clock.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::vector<std::string> SplitCrLf(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(bytes.substr(start, end - start));
  }
  return lines;
}

// The file without its "last updated" line, which shows when it was saved.
std::vector<std::string> WithoutUpdateLine(const std::string& bytes) {
  std::vector<std::string> lines = SplitCrLf(bytes);
  std::erase_if(lines, [](const std::string& line) { return line.rfind("#M ", 0) == 0; });
  return lines;
}

std::string UpdateLine(const std::string& bytes) {
  for (const std::string& line : SplitCrLf(bytes)) {
    if (line.rfind("#M ", 0) == 0) return line;
  }
  return {};
}

std::string ExpectedUpdateLine(int year, int month, int day) {
  const DateTimeSeparators sep = LocaleDateTimeSeparators();
  char text[64];
  std::snprintf(text, sizeof text, "#M last updated at %02d%c%02d%c%04d 23%c59", day, sep.Date,
                month, sep.Date, year, sep.Time);
  return text;
}

// A clock for driving the cycle through simulated days. The first reading
// after Set is the tick's time; later readings in the same tick are ten
// minutes on, as if each save took that long. So the cycle saves every few
// hundred ticks rather than on every tick, which only changes how often the
// counts reach the file, not the counts, and keeps the test fast.
class SlowSaveClock final : public Clock {
 public:
  void Set(TDateTime now) {
    now_ = now;
    read_ = false;
  }
  TDateTime Now() const override {
    if (read_) return now_ + 10.0 / (24 * 60);
    read_ = true;
    return now_;
  }

 private:
  TDateTime now_ = 0;
  mutable bool read_ = false;
};

// Runs the real generation cycle over whole days, one tick every 2 seconds of
// simulated time, and stops it (with its final save) at the last day's
// 23:59:58 tick.
void RunCycle(const std::string& dir, TDateTime first_day, int days, uint32_t seed) {
  SlowSaveClock clock;
  clock.Set(first_day);
  ScopedClock scoped(clock);
  FlagTimer timer;
  GenerationCycle cycle(
      timer, [&] { return dir; }, {}, seed);
  cycle.StartGeneration();
  TDateTime t = first_day;
  for (int d = 0; d < days; ++d) {
    for (int k = 0; k < kTicksPerDay; ++k) {
      t = first_day + d + (2.0 * k) / 86400.0;
      clock.Set(t);
      cycle.Tick();
    }
  }
  clock.Set(t);
  cycle.StopGeneration();
  ASSERT_TRUE(cycle.LastSaveOk()) << cycle.LastSaveError();
  ASSERT_GT(cycle.SaveCount(), 2 * static_cast<uint64_t>(days));
}

BackfillRequest Request(const std::string& dir, CivilDate from, CivilDate to, uint32_t seed) {
  BackfillRequest request;
  request.out_dir = dir;
  request.from = from;
  request.to = to;
  request.seed = seed;
  return request;
}

TEST(BackfillTest, WritesWhatTheGenerationCycleWrites) {
  // Two days with a change of day, across the end of February, for the
  // program's seed and another one.
  for (uint32_t seed : {0u, 2026120u}) {
    SCOPED_TRACE(seed);
    TempDir by_cycle;
    TempDir by_backfill;
    RunCycle(by_cycle.path(), EncodeDate(2028, 2, 28), 2, seed);
    Backfill(Request(by_backfill.path(), {2028, 2, 28}, {2028, 2, 29}, seed));

    for (const char* name : {"280228.tly", "280229.tly"}) {
      SCOPED_TRACE(name);
      const std::string cycle_file = ReadBytes(by_cycle.File(name));
      const std::string backfill_file = ReadBytes(by_backfill.File(name));
      ASSERT_FALSE(cycle_file.empty());
      EXPECT_EQ(WithoutUpdateLine(backfill_file), WithoutUpdateLine(cycle_file));
      EXPECT_TRUE(CheckDayFile(backfill_file).ok) << CheckDayFile(backfill_file).problem;
    }
    EXPECT_EQ(UpdateLine(ReadBytes(by_backfill.File("280228.tly"))),
              ExpectedUpdateLine(2028, 2, 28));
    // The cycle's final save ran at 23:59:58 of the second day too.
    EXPECT_EQ(ReadBytes(by_backfill.File("280229.tly")), ReadBytes(by_cycle.File("280229.tly")));
    EXPECT_EQ(testing::EntriesOf(by_backfill.path()),
              (std::vector<std::string>{"280228.tly", "280229.tly"}));
  }
}

TEST(BackfillTest, ContinuesAnExistingDayFileAndWrapsLargeCounts) {
  TempDir dir;
  BackfillRequest request = Request(dir.path(), {2026, 12, 7}, {2026, 12, 7}, 5);
  Backfill(request);
  request.existing = ExistingDayFiles::kContinue;
  const std::string once = ReadBytes(dir.File("261207.tly"));

  DayCounts first{};
  LoadDayFile(dir.File("261207.tly"), first);
  ASSERT_EQ(first.FirstSlot, 0);
  ASSERT_EQ(first.LastSlot, 95);
  ASSERT_EQ(first.ChannelCount, 10);

  // The same draws again on top of what the file holds: every count doubles.
  Backfill(request);
  DayCounts twice{};
  LoadDayFile(dir.File("261207.tly"), twice);
  for (int s = 0; s < kSlotsPerDay; ++s) {
    for (int c = 0; c < 10; ++c) {
      ASSERT_EQ(twice.Slots[s].Counts[c], 2 * first.Slots[s].Counts[c]) << s << " " << c;
    }
  }
  EXPECT_NE(ReadBytes(dir.File("261207.tly")), once);

  // A file with counters near the 32-bit limit and a twelfth channel keeps
  // its channels and wraps instead of overflowing.
  WriteBytes(dir.File("261207.tly"),
             "001\t07/12/2026\t00:00\t 2147483647\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 7\r\n");
  Backfill(request);
  const std::string continued = ReadBytes(dir.File("261207.tly"));
  EXPECT_TRUE(CheckDayFile(continued).ok) << CheckDayFile(continued).problem;
  DayCounts wrapped{};
  LoadDayFile(dir.File("261207.tly"), wrapped);
  EXPECT_EQ(wrapped.ChannelCount, 12);
  EXPECT_LT(wrapped.Slots[0].Counts[0], 0);
  EXPECT_EQ(wrapped.Slots[0].Counts[0],
            static_cast<int32_t>(static_cast<uint32_t>(INT32_MAX) +
                                 static_cast<uint32_t>(first.Slots[0].Counts[0])));
  EXPECT_EQ(wrapped.Slots[0].Counts[11], 7);
}

TEST(BackfillTest, RefusesBadRequestsBeforeTouchingAnyFile) {
  TempDir dir;
  WriteBytes(dir.File("plain-file"), "x");
  const struct {
    BackfillRequest request;
    const char* says;
  } cases[] = {
      {Request(dir.path(), {2026, 2, 29}, {2026, 3, 1}, 0), "does not exist"},
      {Request(dir.path(), {2026, 3, 1}, {2026, 13, 1}, 0), "does not exist"},
      {Request(dir.path(), {2026, 3, 2}, {2026, 3, 1}, 0), "before"},
      {Request(dir.path(), {2090, 12, 31}, {2091, 1, 1}, 0), "outside"},
      {Request(dir.path(), {1990, 12, 31}, {1991, 1, 1}, 0), "outside"},
      {Request(dir.File("missing"), {2026, 3, 1}, {2026, 3, 1}, 0), "does not exist"},
      {Request(dir.File("plain-file"), {2026, 3, 1}, {2026, 3, 1}, 0), "not a directory"},
  };
  for (const auto& c : cases) {
    try {
      CheckBackfillRequest(c.request);
      ADD_FAILURE() << "accepted; expected: " << c.says;
    } catch (const std::invalid_argument& problem) {
      EXPECT_NE(std::string(problem.what()).find(c.says), std::string::npos) << problem.what();
    }
    EXPECT_THROW(Backfill(c.request), std::invalid_argument);
  }
  EXPECT_EQ(testing::EntriesOf(dir.path()), std::vector<std::string>{"plain-file"});
  EXPECT_NO_THROW(CheckBackfillRequest(Request(dir.path(), {2090, 12, 31}, {2090, 12, 31}, 0)));
}

// Days are generated on several threads, ahead of the one being written, and
// finish in any order: the first day that cannot be written stops the
// backfill, every day before it is whole, no day after it is written (not
// even one generated before the failure), and no temporary file remains.
TEST(BackfillTest, StopsAtTheFirstDayThatCannotBeWrittenAndKeepsEveryDayBefore) {
  for (const int jobs : {1, 8}) {
    SCOPED_TRACE(jobs);
    TempDir dir;
    std::filesystem::create_directory(dir.File("261208.tly"));
    std::filesystem::create_directory(dir.File("261211.tly"));
    BackfillRequest request = Request(dir.path(), {2026, 12, 1}, {2026, 12, 20}, 0);
    request.existing = ExistingDayFiles::kReplace;
    request.jobs = jobs;
    std::vector<int> days_done;
    const std::thread::id caller = std::this_thread::get_id();
    bool elsewhere = false;
    try {
      Backfill(request, [&](const BackfillProgress& p) {
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
        days_done.push_back(p.days_done);
        EXPECT_EQ(p.days_total, 20);
        EXPECT_EQ(p.ticks_done, static_cast<uint64_t>(p.days_done) * kTicksPerDay);
      });
      ADD_FAILURE() << "no day failed";
    } catch (const DayNotWritten& failure) {
      EXPECT_EQ(failure.day(), EncodeDate(2026, 12, 8));
      EXPECT_NE(std::string(failure.what()).find("261208.tly"), std::string::npos)
          << failure.what();
      EXPECT_EQ(failure.code(), std::errc::is_a_directory) << failure.code().message();
    }
    EXPECT_FALSE(elsewhere) << "progress called from a pool thread";
    EXPECT_EQ(days_done, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    std::vector<std::string> expected;
    for (int day = 1; day <= 7; ++day) {
      char name[16];
      std::snprintf(name, sizeof name, "2612%02d.tly", day);
      EXPECT_TRUE(CheckDayFile(ReadBytes(dir.File(name))).ok) << name;
      expected.push_back(name);
    }
    expected.insert(expected.end(), {"261208.tly", "261211.tly"});
    EXPECT_EQ(testing::EntriesOf(dir.path()), expected);
  }

  // A day file that cannot be read (a named pipe) is left alone, not replaced
  // by this run's counts without its rows: refused before any day is written.
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("261208.tly").c_str(), 0644), 0);
  BackfillRequest request = Request(dir.path(), {2026, 12, 8}, {2026, 12, 9}, 0);
  request.existing = ExistingDayFiles::kContinue;
  request.jobs = 1;
  EXPECT_THROW(Backfill(request), std::invalid_argument);
  EXPECT_TRUE(std::filesystem::is_fifo(dir.File("261208.tly")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("261209.tly")));
}

// The bytes of every file of `dir` by name.
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& name : testing::EntriesOf(dir)) {
    files.emplace_back(name, ReadBytes(dir + "/" + name));
  }
  return files;
}

// Each day's draws come from jumping the random source to the day's first
// draw, so one thread, two or more threads than days in flight write the same
// bytes: on an empty directory, across 29 February, from the middle of a
// year, and continuing or skipping the files that are there.
TEST(BackfillTest, AnyNumberOfThreadsWritesTheSameFiles) {
  const struct {
    CivilDate from;
    CivilDate to;
  } ranges[] = {{{2028, 2, 20}, {2028, 3, 5}}, {{2026, 6, 17}, {2026, 7, 9}}};
  for (const auto& range : ranges) {
    for (const uint32_t seed : {0u, 4294967295u, 77u}) {
      SCOPED_TRACE(std::to_string(seed) + " from " + std::to_string(range.from.Year) + "-" +
                   std::to_string(range.from.Month));
      TempDir serial;
      BackfillRequest request = Request(serial.path(), range.from, range.to, seed);
      request.jobs = 1;
      Backfill(request);
      const auto expected = Snapshot(serial.path());
      ASSERT_EQ(expected.size(), 15u + (range.from.Year == 2026 ? 8 : 0));
      for (const int jobs : {2, 8}) {
        TempDir parallel;
        request.out_dir = parallel.path();
        request.jobs = jobs;
        Backfill(request);
        EXPECT_EQ(Snapshot(parallel.path()), expected) << jobs << " jobs";
      }
    }
  }

  // Some days exist (one with a channel more than the generator writes,
  // one that ends mid-day); the rest are new.
  TempDir before;
  Backfill(Request(before.path(), {2028, 2, 27}, {2028, 3, 1}, 3));
  WriteBytes(before.File("280303.tly"),
             "001\t03/03/2028\t10:15\t 5\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 9\r\n");
  for (const ExistingDayFiles existing : {ExistingDayFiles::kContinue, ExistingDayFiles::kSkip}) {
    std::vector<std::pair<std::string, std::string>> expected;
    for (const int jobs : {1, 2, 8}) {
      TempDir dir;
      std::filesystem::copy(before.path(), dir.path());
      BackfillRequest request = Request(dir.path(), {2028, 2, 20}, {2028, 3, 5}, 5);
      request.existing = existing;
      request.jobs = jobs;
      Backfill(request);
      if (jobs == 1) {
        expected = Snapshot(dir.path());
        ASSERT_EQ(expected.size(), 15u);
        EXPECT_NE(expected, Snapshot(before.path()));
      } else {
        EXPECT_EQ(Snapshot(dir.path()), expected) << jobs << " jobs";
      }
    }
  }
}

// Confined to one core shared with a busy thread of normal priority, the
// generating threads of low priority get almost no time: threads of normal
// priority take over from them partway through the range, and the files are
// still those of an unhindered run.
TEST(BackfillTest, GeneratingThreadsStarvedByOtherWorkStillGiveTheSameFiles) {
  TempDir unhindered;
  Backfill(Request(unhindered.path(), {2026, 3, 1}, {2026, 4, 30}, 11));

  cpu_set_t allowed;
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  int core = 0;
  while (!CPU_ISSET(core, &allowed)) ++core;
  cpu_set_t one_core;
  CPU_ZERO(&one_core);
  CPU_SET(core, &one_core);
  // Threads started from here on inherit the one core.
  ASSERT_EQ(sched_setaffinity(0, sizeof one_core, &one_core), 0);
  TempDir starved;
  {
    std::atomic<bool> done{false};
    std::jthread busy([&done] {
      while (!done.load(std::memory_order_relaxed)) {
      }
    });
    BackfillRequest request = Request(starved.path(), {2026, 3, 1}, {2026, 4, 30}, 11);
    request.jobs = 2;
    Backfill(request);
    done = true;
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof allowed, &allowed), 0);
  EXPECT_EQ(Snapshot(starved.path()), Snapshot(unhindered.path()));
}

// Day files of the range that exist already are written over only as the
// request says, and the same request on an empty directory always gives the
// same files.
TEST(BackfillTest, ExistingDayFilesAreHandledAsTheRequestSays) {
  TempDir fresh;
  Backfill(Request(fresh.path(), {2027, 2, 27}, {2027, 3, 2}, 9));
  const std::vector<std::string> names = {"270227.tly", "270228.tly", "270301.tly", "270302.tly"};
  ASSERT_EQ(testing::EntriesOf(fresh.path()), names);

  TempDir dir;
  BackfillRequest request = Request(dir.path(), {2027, 2, 27}, {2027, 3, 2}, 9);
  Backfill(request);
  for (const std::string& name : names) {
    EXPECT_EQ(ReadBytes(dir.File(name)), ReadBytes(fresh.File(name))) << name;
  }

  // Without a choice nothing is written, and the message names the first.
  WriteBytes(dir.File("270301.tly"), "kept as it is");
  try {
    Backfill(request);
    ADD_FAILURE() << "wrote over existing files";
  } catch (const DayFilesExist& existing) {
    EXPECT_NE(std::string(existing.what()).find("270227.tly and 3 more day files"),
              std::string::npos)
        << existing.what();
  }
  EXPECT_EQ(ReadBytes(dir.File("270301.tly")), "kept as it is");

  // Skip keeps what is there, writes what is missing with the draws of its
  // own day (as if the days before had been written), and removes what an
  // interrupted run left under a temporary name.
  std::filesystem::remove(dir.File("270228.tly"));
  std::filesystem::remove(dir.File("270302.tly"));
  WriteBytes(dir.File("270302.tmp"), "left by a killed run");
  request.existing = ExistingDayFiles::kSkip;
  Backfill(request);
  EXPECT_EQ(ReadBytes(dir.File("270301.tly")), "kept as it is");
  for (const char* name : {"270227.tly", "270228.tly", "270302.tly"}) {
    EXPECT_EQ(ReadBytes(dir.File(name)), ReadBytes(fresh.File(name))) << name;
  }
  EXPECT_EQ(testing::EntriesOf(dir.path()), names);

  // Replace writes every day as on an empty directory.
  request.existing = ExistingDayFiles::kReplace;
  Backfill(request);
  for (const std::string& name : names) {
    EXPECT_EQ(ReadBytes(dir.File(name)), ReadBytes(fresh.File(name))) << name;
  }
}

}  // namespace
}  // namespace tly
