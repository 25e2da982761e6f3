// Files the program creates in the output directory must land exactly where
// they are named: never through a symbolic or hard link planted under that
// name, never into something that is not a regular file, and with the mode
// 0644 less the umask.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "backfill/backfill.h"
#include "live/generation_cycle.h"
#include "live/generation_timer.h"
#include "support/clock.h"
#include "support/debug_log.h"
#include "support/safe_file.h"
#include "testutil/child_process.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::RunInChild;
using testing::TempDir;
using testing::WriteBytes;

// The umask in force for the scope's lifetime.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(previous_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t previous_;
};

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return 0;
  return info.st_mode;
}

void CreateWith(const std::string& path, std::string_view bytes) {
  NewFile file(path);
  file.Write(bytes);
  file.Close();
}

TEST(SafeFileCreation, PlantedLinksAreReplacedNotFollowed) {
  TempDir dir;
  const std::string victim = dir.File("victim");
  WriteBytes(victim, "victim content");
  const ScopedUmask mask(022);

  // A symbolic link to an existing file, a dangling one (following it would
  // create its target) and a hard link to the victim.
  const std::string through_symlink = dir.File("261207.tly");
  fs::create_symlink(victim, through_symlink);
  const std::string through_dangling = dir.File("261207.tmp");
  fs::create_symlink(dir.File("created-elsewhere"), through_dangling);
  const std::string through_hardlink = dir.File("261208.tmp");
  fs::create_hard_link(victim, through_hardlink);

  for (const std::string& path : {through_symlink, through_dangling, through_hardlink}) {
    SCOPED_TRACE(path);
    CreateWith(path, "new");
    EXPECT_TRUE(S_ISREG(ModeOf(path)));
    EXPECT_EQ(ModeOf(path) & 07777, 0644u);
    EXPECT_EQ(ReadBytes(path), "new");
  }
  EXPECT_EQ(ReadBytes(victim), "victim content");
  EXPECT_FALSE(fs::exists(dir.File("created-elsewhere")));
  EXPECT_EQ(fs::hard_link_count(victim), 1u);
}

TEST(SafeFileCreation, ModeFollowsTheUmask) {
  TempDir dir;
  for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{0}}) {
    const ScopedUmask scoped(mask);
    const std::string path = dir.File("mode-" + std::to_string(mask));
    // A stale file with other permissions does not pass them on.
    WriteBytes(path, "stale");
    ASSERT_EQ(::chmod(path.c_str(), 0777), 0);
    CreateWith(path, "x");
    EXPECT_EQ(ModeOf(path) & 07777, 0644u & ~mask) << "umask " << mask;
  }
}

TEST(SafeFileCreation, RefusesWhatIsNotAFileAndLeavesItAlone) {
  TempDir dir;
  // A directory in the way, with content of its own.
  const std::string taken = dir.File("261207.tly");
  fs::create_directory(taken);
  WriteBytes(taken + "/inside", "kept");
  EXPECT_THROW(CreateWith(taken, "x"), std::system_error);
  EXPECT_EQ(ReadBytes(taken + "/inside"), "kept");

  // A missing directory, and a regular file where the directory should be.
  EXPECT_THROW(CreateWith(dir.File("missing/261207.tly"), "x"), std::system_error);
  WriteBytes(dir.File("plain"), "plain");
  EXPECT_THROW(CreateWith(dir.File("plain/261207.tly"), "x"), std::system_error);
  EXPECT_EQ(ReadBytes(dir.File("plain")), "plain");

  // Renaming over a directory fails and leaves both as they were.
  CreateWith(dir.File("261207.tmp"), "rows");
  EXPECT_THROW(RenameOver(dir.File("261207.tmp"), taken), std::system_error);
  EXPECT_EQ(ReadBytes(taken + "/inside"), "kept");
  EXPECT_EQ(ReadBytes(dir.File("261207.tmp")), "rows");
}

TEST(SafeFileCreation, ReplacingALinkReplacesTheLinkNotItsTarget) {
  TempDir dir;
  const std::string victim = dir.File("victim");
  WriteBytes(victim, "victim content");
  fs::create_symlink(victim, dir.File("261207.tly"));
  CreateWith(dir.File("261207.tmp"), "sealed");
  RenameOver(dir.File("261207.tmp"), dir.File("261207.tly"));
  EXPECT_FALSE(fs::is_symlink(dir.File("261207.tly")));
  EXPECT_EQ(ReadBytes(dir.File("261207.tly")), "sealed");

  // The one-step replacement, with links at both of its names.
  fs::create_symlink(victim, dir.File("261208.tly"));
  fs::create_symlink(victim, TempFileNameFor(dir.File("261208.tly")));
  ReplaceFileWith(dir.File("261208.tly"), "whole");
  EXPECT_EQ(ReadBytes(dir.File("261208.tly")), "whole");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.File("261208.tmp"))));
  EXPECT_EQ(ReadBytes(victim), "victim content");

  // A replacement that fails leaves no temporary file.
  fs::create_directory(dir.File("261209.tly"));
  EXPECT_THROW(ReplaceFileWith(dir.File("261209.tly"), "whole"), std::system_error);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.File("261209.tmp"))));
}

// A directory held open keeps receiving its files by name after its path is
// renamed, needs no permission to read it, and names its files in messages
// by the path it was opened with.
TEST(SafeFileCreation, AnOpenDirectoryKeepsItsFilesWhereverItsPathGoes) {
  TempDir dir;
  fs::create_directory(dir.File("out"));
  const OpenDirectory out(dir.File("out"));
  fs::rename(dir.File("out"), dir.File("moved"));
  fs::create_directory(dir.File("out"));
  out.ReplaceFileWith("261207.tly", "whole");
  EXPECT_EQ(ReadBytes(dir.File("moved/261207.tly")), "whole");
  EXPECT_TRUE(fs::is_empty(dir.File("out")));

  ASSERT_EQ(::chmod(dir.File("moved").c_str(), 0300), 0);
  {
    const OpenDirectory unreadable(dir.File("moved"));
    unreadable.ReplaceFileWith("261208.tly", "also");
  }
  ASSERT_EQ(::chmod(dir.File("moved").c_str(), 0700), 0);
  EXPECT_EQ(ReadBytes(dir.File("moved/261208.tly")), "also");

  fs::create_directory(dir.File("moved/261209.tly"));
  try {
    out.ReplaceFileWith("261209.tly", "x");
    ADD_FAILURE() << "replaced a directory";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find(out.PathOf("261209.tly")), std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.File("moved/261209.tmp"))));
  EXPECT_THROW(OpenDirectory(dir.File("missing")), std::system_error);
}

// The whole save (rows, then the sealed header, each through the temporary
// file) with links planted at both names the save writes.
TEST(SafeFileCreation, SaveNeitherFollowsLinksNorWidensTheMode) {
  TempDir dir;
  const std::string victim = dir.File("victim");
  WriteBytes(victim, "victim content");
  ManualClock clock(EncodeDate(2026, 12, 7) + EncodeTime(10, 0, 0, 0));
  const ScopedClock scoped(clock);
  FlagTimer timer;
  GenerationCycle cycle(timer, [&] { return dir.path(); }, {});
  cycle.StartGeneration();
  const std::string day_file = cycle.DayFileName();
  for (int i = 0; i < 5; ++i) {
    clock.AdvanceSeconds(2);
    cycle.Tick();
  }

  for (const mode_t mask : {mode_t{022}, mode_t{077}}) {
    const ScopedUmask scoped_mask(mask);
    fs::remove(day_file);
    fs::create_symlink(victim, day_file);
    fs::create_symlink(victim, TempFileNameFor(day_file));
    ASSERT_TRUE(cycle.SaveDay()) << cycle.LastSaveError();
    EXPECT_TRUE(S_ISREG(ModeOf(day_file)));
    EXPECT_EQ(ModeOf(day_file) & 07777, 0644u & ~mask);
    EXPECT_FALSE(fs::exists(fs::symlink_status(TempFileNameFor(day_file))));
    EXPECT_EQ(ReadBytes(victim), "victim content");
  }
}

// The backfill writes each day in one step through the same temporary name.
TEST(SafeFileCreation, BackfillNeitherFollowsLinksNorWidensTheMode) {
  TempDir dir;
  const std::string victim = dir.File("victim");
  WriteBytes(victim, "victim content");
  fs::create_symlink(victim, dir.File("261207.tly"));
  fs::create_symlink(dir.File("created-elsewhere"), dir.File("261208.tly"));
  fs::create_symlink(victim, dir.File("261208.tmp"));
  const ScopedUmask mask(027);
  // A link under the writer's lock file: the backfill neither locks nor
  // writes its id through it, and so refuses to run.
  fs::create_symlink(victim, dir.File(".tly-generator.lock"));
  const BackfillRequest request{
      dir.path(), {2026, 12, 7}, {2026, 12, 8}, 0, ExistingDayFiles::kContinue, {}};
  EXPECT_THROW(Backfill(request), std::system_error);
  EXPECT_EQ(ReadBytes(victim), "victim content");
  fs::remove(dir.File(".tly-generator.lock"));

  Backfill(request);
  for (const char* name : {"261207.tly", "261208.tly", ".tly-generator.lock"}) {
    EXPECT_TRUE(S_ISREG(ModeOf(dir.File(name)))) << name;
    EXPECT_EQ(ModeOf(dir.File(name)) & 07777, 0640u) << name;
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.File("261208.tmp"))));
  EXPECT_FALSE(fs::exists(dir.File("created-elsewhere")));
  EXPECT_EQ(ReadBytes(victim), "victim content");
}

// Links under the log's name, to a victim and dangling (a following open
// would create the dangling link's target): the log writes through neither,
// and its own file gets no wider mode than the umask allows.
TEST(SafeFileCreation, DebugLogNeverWritesThroughALink) {
  TempDir dir;
  WriteBytes(dir.File("victim"), "victim content");
  const int code = RunInChild([&] {
    if (::chdir(dir.path().c_str()) != 0) return 2;
    if (::symlink("victim", "debug.txt") != 0) return 3;
    WriteDebugLog("through a link");
    ::unlink("debug.txt");
    if (::symlink("created-elsewhere", "debug.txt") != 0) return 4;
    WriteDebugLog("through a dangling link");
    ::unlink("debug.txt");
    ::umask(077);
    WriteDebugLog("fresh log");
    return 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadBytes(dir.File("victim")), "victim content");
  EXPECT_FALSE(fs::exists(dir.File("created-elsewhere")));
  EXPECT_EQ(ModeOf(dir.File("debug.txt")) & 07777, 0600u);
  EXPECT_EQ(ReadBytes(dir.File("debug.txt")).find("through a"), std::string::npos);
}

}  // namespace
}  // namespace tly
