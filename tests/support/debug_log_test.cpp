#include "support/debug_log.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "support/clock.h"
#include "testutil/child_process.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::RunInChild;
using testing::WriteBytes;

// Runs each test in a fresh current directory, where the log lands.
class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  testing::TempDir dir_;
  std::filesystem::path previous_;
};

TEST_F(DebugLogTest, CreatesThenAppendsStampedSingleLineEntries) {
  ManualClock clock(EncodeDate(2026, 12, 7) + EncodeTime(9, 5, 3, 700));
  const ScopedClock scoped(clock);

  WriteDebugLog("first");
  EXPECT_EQ(ReadBytes("debug.txt"), "07/12/2026 09:05:03\tfirst\r\n");

  clock.Set(EncodeDate(2027, 1, 31) + EncodeTime(23, 59, 59, 999));
  WriteDebugLog("a\r\nb\rc\nd\r\r\n");
  AppendLogLine("");
  EXPECT_EQ(ReadBytes("debug.txt"),
            "07/12/2026 09:05:03\tfirst\r\n"
            "31/01/2027 23:59:59\ta b\rc\nd\r \r\n"
            "\r\n");
}

TEST_F(DebugLogTest, FailuresLoseTheEntrySilently) {
  // A link planted under the log's name is not followed.
  WriteBytes("target.txt", "untouched");
  std::filesystem::create_symlink("target.txt", "debug.txt");
  WriteDebugLog("through the link");
  EXPECT_EQ(ReadBytes("target.txt"), "untouched");
  EXPECT_TRUE(std::filesystem::is_symlink("debug.txt"));
  std::filesystem::remove("debug.txt");

  // A directory in the way.
  std::filesystem::create_directory("debug.txt");
  WriteDebugLog("into a directory");
  std::filesystem::remove("debug.txt");

  // A read-only log. Permission bits do not bind root, so the child gives up
  // root before it writes.
  WriteBytes("debug.txt", "old\r\n");
  ASSERT_EQ(::chmod("debug.txt", 0444), 0);
  ASSERT_EQ(::chmod(".", 0755), 0);
  EXPECT_EQ(RunInChild([] {
              if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 2;
              WriteDebugLog("read-only");
              return 0;
            }),
            0);
  EXPECT_EQ(ReadBytes("debug.txt"), "old\r\n");

  // A write refused half-way (the file size limit stands in for a full disk).
  ASSERT_EQ(::chmod("debug.txt", 0644), 0);
  EXPECT_EQ(RunInChild([] {
              std::signal(SIGXFSZ, SIG_IGN);
              const rlimit limit{5, 5};
              if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
              WriteDebugLog("does not fit");
              return 0;
            }),
            0);
  EXPECT_EQ(ReadBytes("debug.txt"), "old\r\n");
}

}  // namespace
}  // namespace tly
