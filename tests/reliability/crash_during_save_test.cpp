// A generator that does nothing but tick and save, killed with SIGKILL at a
// random moment and started again in the same directory. The moments are
// drawn across a few saves as long as this machine takes for them (measured
// first), and the test counts how many kills really landed inside a save,
// killing more where too few did.

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

#include "dayfile/day_file_check.h"
#include "support/safe_file.h"
#include "testutil/day_file_state.h"
#include "testutil/manual_generator.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;
using testing::Generator;

// Ticks ten minutes apart: every tick saves a new row, and after 84 ticks the
// day changes, so several day files are written.
constexpr double kStepSeconds = 600;

// A child that sets up its generator, writes one byte to `ready` and then
// ticks and saves `ticks` times (forever when negative).
pid_t StartSavingChild(const std::string& dir, int ready, int ticks) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    try {
      Generator generator(dir);
      const char byte = 1;
      if (::write(ready, &byte, 1) != 1) ::_exit(2);
      for (int i = 0; ticks < 0 || i < ticks; ++i) generator.Tick(kStepSeconds);
      ::_exit(0);
    } catch (...) {
    }
    ::_exit(1);
  }
  return pid;
}

// Starts a saving child and returns once it is ready to tick.
pid_t StartReadyChild(const std::string& dir, int ticks) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return -1;
  const pid_t pid = StartSavingChild(dir, pipe_ends[1], ticks);
  ::close(pipe_ends[1]);
  char byte = 0;
  const bool ready = ::read(pipe_ends[0], &byte, 1) == 1;
  ::close(pipe_ends[0]);
  return ready ? pid : -1;
}

// Removes the temporary files in `dir`; returns how many there were.
int RemoveTemporaryFiles(const std::string& dir) {
  int removed = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".tmp") removed += fs::remove(entry.path()) ? 1 : 0;
  }
  return removed;
}

// Runs in this process what the children run: the first saves, a day change
// and the reload of an existing day file. Under an emulator (qemu-user) code
// is translated the first time it runs, and a forked child inherits only what
// its parent translated; a child that translated its first save for itself
// would mostly be killed before any save began, far off the span measured.
void WarmUpSaving() {
  testing::TempDir dir;
  {
    Generator generator(dir.path());
    for (int i = 0; i < 90; ++i) generator.Tick(kStepSeconds);
  }
  Generator again(dir.path());
  again.Tick(kStepSeconds);
}

TEST(CrashDuringSave, KilledAnywhereLeavesWholeFilesThatNeverShrink) {
  testing::TempDir dir;
  WarmUpSaving();
  // How long one tick with its save takes here.
  constexpr int kMeasuredTicks = 40;
  SteadyClock::duration per_save;
  {
    testing::TempDir measured;
    const pid_t pid = StartReadyChild(measured.path(), kMeasuredTicks);
    ASSERT_GT(pid, 0);
    const auto start = SteadyClock::now();
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    per_save = (SteadyClock::now() - start) / kMeasuredTicks;
  }

  std::mt19937 random(42);
  std::uniform_int_distribution<SteadyClock::rep> delay(0, 3 * per_save.count());
  std::map<std::string, testing::SeenDayFile> seen;
  // At least kKills kills, and more while too few landed inside a save to
  // tell: the share of a tick spent writing the file differs between machines
  // (an emulator slows the computing, not the file calls).
  constexpr int kKills = 150;
  constexpr int kEnoughInsideASave = kKills / 30;
  constexpr int kMostKills = 10 * kKills;
  int kills = 0;
  int inside_a_save = 0;
  while (kills < kKills || (inside_a_save < kEnoughInsideASave && kills < kMostKills)) {
    const int kill = ++kills;
    const pid_t pid = StartReadyChild(dir.path(), -1);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(SteadyClock::duration(delay(random)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself";
    testing::ExpectSoundAndGrowing(dir.path(), seen, kill);
    if (HasFailure()) return;
    // A temporary file left behind: the kill came while a save was writing.
    if (RemoveTemporaryFiles(dir.path()) > 0) ++inside_a_save;
  }
  RecordProperty("kills", kills);
  RecordProperty("kills_inside_a_save", inside_a_save);
  EXPECT_FALSE(seen.empty());
  EXPECT_GE(inside_a_save, kEnoughInsideASave)
      << "too few of " << kills << " kills landed inside a save to tell";

  // A save that completes leaves no temporary file of its day behind.
  Generator generator(dir.path());
  ASSERT_TRUE(generator.TickUntilSave());
  EXPECT_FALSE(fs::exists(TempFileNameFor(generator.day_file())));
  EXPECT_TRUE(CheckDayFile(testing::ReadBytes(generator.day_file())).ok);
}

}  // namespace
}  // namespace tly
