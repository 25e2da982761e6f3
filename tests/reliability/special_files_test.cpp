// Named pipes planted under the names the program opens: a plain open of a
// pipe waits for the other end forever, and the generator must never hang on
// one.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "counting/day_counts.h"
#include "counting/day_file_loader.h"
#include "support/date_time.h"
#include "support/debug_log.h"
#include "testutil/child_process.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::RunInChild;
using testing::TempDir;
using testing::WriteBytes;

bool IsPipe(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

TEST(SpecialFiles, LoaderComesBackAtOnceFromAPipeInPlaceOfTheDayFile) {
  TempDir temp;
  const std::string day_file = temp.File("261207.tly");
  ASSERT_EQ(::mkfifo(day_file.c_str(), 0644), 0);
  const int code = RunInChild([&] {
    ::alarm(5);  // a hang kills the child, which fails the test
    auto day = std::make_unique<DayCounts>();
    LoadDayFile(day_file, *day);
    return day->Date == EncodeDate(2026, 12, 7) && day->LastSlot == -1 ? 0 : 2;
  });
  EXPECT_EQ(code, 0) << "-1: the loader blocked or crashed";
}

TEST(SpecialFiles, DebugLogLosesTheEntryRatherThanWaitOnAPipe) {
  TempDir dir;
  const int code = RunInChild([&] {
    if (::chdir(dir.path().c_str()) != 0) return 2;
    ::alarm(5);
    if (::mkfifo("debug.txt", 0644) != 0) return 3;
    WriteDebugLog("into a pipe");
    return 0;
  });
  EXPECT_EQ(code, 0) << "-1: the log blocked or crashed";
  EXPECT_TRUE(IsPipe(dir.File("debug.txt")));
  ::unlink(dir.File("debug.txt").c_str());

  // Once the name is free again the log works as before.
  const int after = RunInChild([&] {
    if (::chdir(dir.path().c_str()) != 0) return 2;
    WriteDebugLog("fresh log");
    return 0;
  });
  EXPECT_EQ(after, 0);
  EXPECT_NE(ReadBytes(dir.File("debug.txt")).find("\tfresh log\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tly
