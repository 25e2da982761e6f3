// The program killed at any moment (SIGKILL, no chance to clean up) and
// started again in the same directory never leaves a damaged day file and
// never loses what a day file already held.

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "testutil/day_file_state.h"
#include "testutil/program_process.h"
#include "testutil/temp_dir.h"
#include "testutil/wait_for.h"

namespace tly {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;
using testing::ExpectSoundAndGrowing;
using testing::GeneratorProgram;
using testing::HasTemporaryFile;
using testing::Program;

// Starts the program with `args`, working in `dir`; its output goes to
// `scratch`.
std::unique_ptr<Program> Start(const std::vector<std::string>& args, const std::string& dir,
                               const std::string& scratch) {
  return std::make_unique<Program>(GeneratorProgram(), args, scratch, std::vector<std::string>{},
                                   dir);
}

// Lets `program` run until `moment` and kills it then, unless it ended by
// itself before. Returns whether it was still running (the kill landed).
bool KillAt(Program& program, SteadyClock::time_point moment) {
  while (SteadyClock::now() < moment) {
    if (!program.Running()) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (!program.Running()) return false;
  program.Signal(SIGKILL);
  return true;
}

// Watches a directory for new temporary files (inotify).
class TemporaryFileWatch {
 public:
  explicit TemporaryFileWatch(const std::string& dir)
      : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_GE(fd_, 0);
    EXPECT_GE(::inotify_add_watch(fd_, dir.c_str(), IN_CREATE), 0);
  }
  ~TemporaryFileWatch() { ::close(fd_); }
  TemporaryFileWatch(const TemporaryFileWatch&) = delete;
  TemporaryFileWatch& operator=(const TemporaryFileWatch&) = delete;

  // Kills `program` as soon as a temporary file is created after `moment`;
  // returns whether the kill landed (false when the program ended first).
  // The kill follows the creation by the time it takes to wake up, which may
  // or may not be before the file is renamed.
  bool KillAtNextAfter(Program& program, SteadyClock::time_point moment) {
    alignas(inotify_event) char events[4096];
    while (program.Running()) {
      pollfd ready{fd_, POLLIN, 0};
      if (::poll(&ready, 1, 1) <= 0) continue;
      const ssize_t got = ::read(fd_, events, sizeof events);
      const bool due = SteadyClock::now() >= moment;
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        const std::string_view name(event->len > 0 ? event->name : "");
        if (due && name.ends_with(".tmp")) {
          program.Signal(SIGKILL);
          return true;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return false;
  }

 private:
  int fd_;
};

// When a day file in `dir` was last replaced; the earliest time there is when
// there is none.
fs::file_time_type LatestDayFileChange(const std::string& dir) {
  fs::file_time_type latest = fs::file_time_type::min();
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".tly") latest = std::max(latest, entry.last_write_time());
  }
  return latest;
}

// Whether a temporary file in `dir` was written at `since` or later: one that
// a run killed after `since` left behind, not one of an earlier run.
bool TemporaryFileSince(const std::string& dir, fs::file_time_type since) {
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".tmp" && entry.last_write_time() >= since) return true;
  }
  return false;
}

// A backfill of a quarter year on `jobs` threads killed at random moments, again and again
// in the same directory; each run continues the files the last one left. The
// moments are drawn across the time a whole run takes on this machine,
// measured first, so that the kills land inside the work on a fast machine as
// on a slow one. A day file is written in a small part of that time: every
// third kill waits from its moment for the next temporary file to appear, and
// when none of them landed before the file was renamed, more such kills
// follow (up to a limit that only a program that never writes reaches).
void KillBackfillAtRandomMoments(const std::string& jobs) {
  testing::TempDir dir;
  testing::TempDir scratch;
  const std::vector<std::string> args = {"backfill",   "--out",  dir.path(),   "--from",
                                         "2026-01-01", "--to",   "2026-03-31", "--existing",
                                         "continue",   "--jobs", jobs};
  SteadyClock::duration whole_run;
  {
    testing::TempDir measured;
    const auto start = SteadyClock::now();
    Program run(GeneratorProgram(),
                {"backfill", "--out", measured.path(), "--from", "2026-01-01", "--to", "2026-03-31",
                 "--jobs", jobs},
                scratch.path());
    ASSERT_EQ(run.Wait(), 0) << run.Err();
    whole_run = SteadyClock::now() - start;
  }

  std::mt19937 random(20261207);
  std::map<std::string, testing::SeenDayFile> seen;
  constexpr int kKills = 110;
  constexpr int kMostKills = 500;
  int landed = 0;     // kills of a run still working
  int mid_write = 0;  // kills that left a temporary file behind
  for (int kill = 1; kill <= kKills || (mid_write == 0 && kill <= kMostKills); ++kill) {
    const auto start = SteadyClock::now();
    const fs::file_time_type started = fs::file_time_type::clock::now();
    std::uniform_int_distribution<SteadyClock::rep> offset(0, whole_run.count());
    TemporaryFileWatch watch(dir.path());
    const std::unique_ptr<Program> run = Start(args, dir.path(), scratch.path());
    const SteadyClock::time_point moment = start + SteadyClock::duration(offset(random));
    const bool killed =
        kill % 3 == 0 || kill > kKills ? watch.KillAtNextAfter(*run, moment) : KillAt(*run, moment);
    const int code = run->Wait();
    if (killed) {
      ++landed;
    } else {
      // A run shorter than the span measured: later kills aim within it.
      whole_run = std::min(whole_run, SteadyClock::now() - start);
    }
    ASSERT_TRUE(code == 0 || code == -SIGKILL) << "exit " << code << ": " << run->Err();
    ExpectSoundAndGrowing(dir.path(), seen, kill);
    if (::testing::Test::HasFailure()) return;
    if (TemporaryFileSince(dir.path(), started)) ++mid_write;
  }
  ::testing::Test::RecordProperty("kills_with_temporary_file", mid_write);
  ::testing::Test::RecordProperty("kills_that_landed", landed);
  EXPECT_GE(landed, kKills * 3 / 4) << "most kills must land while a run is working";
  EXPECT_GE(mid_write, 1) << "no kill landed while a day file was being written";

  // A run to the end replaces every leftover temporary file.
  const std::unique_ptr<Program> run = Start(args, dir.path(), scratch.path());
  ASSERT_EQ(run->Wait(), 0) << run->Err();
  ExpectSoundAndGrowing(dir.path(), seen, 0);
  EXPECT_FALSE(HasTemporaryFile(dir.path()));
  EXPECT_EQ(seen.size(), 90u);
}

TEST(CrashSafety, BackfillKilledAtRandomMomentsLeavesWholeFiles) {
  KillBackfillAtRandomMoments("1");
}

// Several days generated at once, ahead of the one being written.
TEST(CrashSafety, BackfillOnTwoThreadsKilledAtRandomMomentsLeavesWholeFiles) {
  KillBackfillAtRandomMoments("2");
}

// The generator's own run, which saves every 2 seconds, killed around its
// saves: each run is killed at a random moment within the next two save
// periods after its first save was seen.
TEST(CrashSafety, RunKilledAroundItsSavesLeavesWholeFiles) {
  testing::TempDir dir;
  testing::TempDir scratch;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> delay_ms(0, 4000);
  std::map<std::string, testing::SeenDayFile> seen;
  for (int kill = 1; kill <= 10; ++kill) {
    const fs::file_time_type before = LatestDayFileChange(dir.path());
    const std::unique_ptr<Program> run =
        Start({"run", "--out", dir.path()}, dir.path(), scratch.path());
    ASSERT_TRUE(testing::WaitFor([&] {
      return LatestDayFileChange(dir.path()) != before || !run->Running();
    })) << "no save seen";
    ASSERT_TRUE(KillAt(*run, SteadyClock::now() + std::chrono::milliseconds(delay_ms(random))))
        << run->Err();
    ASSERT_EQ(run->Wait(), -SIGKILL);
    ExpectSoundAndGrowing(dir.path(), seen, kill);
    if (HasFailure()) return;
  }
  ASSERT_FALSE(seen.empty());

  const std::unique_ptr<Program> run =
      Start({"run", "--out", dir.path(), "--seconds", "3"}, dir.path(), scratch.path());
  ASSERT_EQ(run->Wait(), 0) << run->Err();
  ExpectSoundAndGrowing(dir.path(), seen, 0);
  EXPECT_FALSE(HasTemporaryFile(dir.path()));
  EXPECT_FALSE(fs::exists(dir.File("debug.txt")));
}

}  // namespace
}  // namespace tly
