// The program killed at any moment (SIGKILL, no chance to clean up) and
// started again in the same directory never leaves a damaged day file and
// never loses what a day file already held.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "reliability/day_file_state.h"
#include "support/temp_dir.h"

namespace tly {
namespace {

namespace fs = std::filesystem;
using testing::ExpectSoundAndGrowing;
using testing::HasTemporaryFile;

// Starts the program with `args` in `dir` (its current directory), output
// discarded. Returns its process id.
pid_t Start(const std::vector<std::string>& args, const std::string& dir) {
  std::vector<std::string> all = {TLY_GENERATOR_EXE};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Waits for `pid`; its exit code, or -signal when a signal ended it.
int Reap(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1000;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// A long backfill killed after a random number of milliseconds, again and
// again in the same directory; each run continues the files the last one left.
TEST(CrashSafety, BackfillKilledAtRandomMomentsLeavesWholeFiles) {
  testing::TempDir dir;
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> delay_ms(5, 400);
  std::map<std::string, testing::SeenDayFile> seen;
  const std::vector<std::string> args = {"backfill",   "--out", dir.path(),  "--from",
                                         "2026-01-01", "--to",  "2026-12-31"};
  int finished = 0;
  int mid_write = 0;  // kills that left a temporary file behind
  for (int kill = 1; kill <= 110; ++kill) {
    const pid_t pid = Start(args, dir.path());
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(random)));
    ::kill(pid, SIGKILL);
    const int code = Reap(pid);
    if (code == 0) ++finished;
    ASSERT_TRUE(code == 0 || code == -SIGKILL) << "exit " << code;
    ExpectSoundAndGrowing(dir.path(), seen, kill);
    if (HasFailure()) return;
    if (HasTemporaryFile(dir.path())) ++mid_write;
  }
  RecordProperty("kills_with_temporary_file", mid_write);
  EXPECT_LT(finished, 10) << "the runs were too short to be killed while writing";

  // A run to the end replaces every leftover temporary file.
  const pid_t pid = Start(args, dir.path());
  ASSERT_EQ(Reap(pid), 0);
  ExpectSoundAndGrowing(dir.path(), seen, 0);
  EXPECT_FALSE(HasTemporaryFile(dir.path()));
  EXPECT_EQ(seen.size(), 365u);
}

// The generator's own run, which saves every 2 seconds in two steps (rows,
// then the sealed header), killed around its saves.
TEST(CrashSafety, RunKilledAroundItsSavesLeavesWholeFiles) {
  testing::TempDir dir;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> delay_ms(1900, 4300);
  std::map<std::string, testing::SeenDayFile> seen;
  for (int kill = 1; kill <= 10; ++kill) {
    const pid_t pid = Start({"run", "--out", dir.path()}, dir.path());
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(random)));
    ::kill(pid, SIGKILL);
    ASSERT_EQ(Reap(pid), -SIGKILL);
    ExpectSoundAndGrowing(dir.path(), seen, kill);
    if (HasFailure()) return;
  }
  ASSERT_FALSE(seen.empty()) << "no run lived long enough to save";

  const pid_t pid = Start({"run", "--out", dir.path(), "--seconds", "3"}, dir.path());
  ASSERT_EQ(Reap(pid), 0);
  ExpectSoundAndGrowing(dir.path(), seen, 0);
  EXPECT_FALSE(HasTemporaryFile(dir.path()));
  EXPECT_FALSE(fs::exists(dir.File("debug.txt")));
}

}  // namespace
}  // namespace tly
