// A generator that does nothing but tick and save, killed with SIGKILL after
// a random few milliseconds and started again in the same directory: most
// kills land inside a save, also between its two steps.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "config/day_file_check.h"
#include "reliability/day_file_state.h"
#include "reliability/manual_generator.h"
#include "support/safe_file.h"
#include "support/temp_dir.h"

namespace tly {
namespace {

using testing::Generator;

// Ticks ten minutes apart: every tick saves a new row, and after 84 ticks the
// day changes, so several day files are written.
constexpr double kStepSeconds = 600;

pid_t StartSavingChild(const std::string& dir) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    try {
      Generator generator(dir);
      for (;;) generator.Tick(kStepSeconds);
    } catch (...) {
    }
    ::_exit(1);
  }
  return pid;
}

TEST(CrashDuringSave, KilledAnywhereLeavesWholeFilesThatNeverShrink) {
  testing::TempDir dir;
  std::mt19937 random(42);
  std::uniform_int_distribution<int> delay_us(500, 30000);
  std::map<std::string, testing::SeenDayFile> seen;
  std::set<std::string> rows_only;  // files seen between the save's two steps
  int kills_between_steps = 0;
  for (int kill = 1; kill <= 150; ++kill) {
    const pid_t pid = StartSavingChild(dir.path());
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself";
    testing::ExpectSoundAndGrowing(dir.path(), seen, kill);
    if (HasFailure()) return;
    std::set<std::string> now_rows_only;
    for (const auto& [name, sums] : seen) {
      if (!CheckDayFile(testing::ReadBytes(dir.File(name))).ok) now_rows_only.insert(name);
    }
    for (const std::string& name : now_rows_only) {
      if (rows_only.count(name) == 0) {
        ++kills_between_steps;
        break;
      }
    }
    rows_only = std::move(now_rows_only);
  }
  RecordProperty("kills_between_the_two_steps", kills_between_steps);
  EXPECT_FALSE(seen.empty());

  // A save that completes leaves no temporary file of its day behind.
  Generator generator(dir.path());
  ASSERT_TRUE(generator.TickUntilSave());
  EXPECT_FALSE(std::filesystem::exists(TempFileNameFor(generator.day_file())));
  EXPECT_TRUE(CheckDayFile(testing::ReadBytes(generator.day_file())).ok);
}

}  // namespace
}  // namespace tly
