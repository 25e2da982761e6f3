#include "support/process_env.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "testutil/env_guard.h"

namespace tly {
namespace {

TEST(ProcessEnv, DirectoryOfExecutable) {
  EXPECT_EQ(DirectoryOfExecutable("/opt/gen/tly"), "/opt/gen");
  EXPECT_EQ(DirectoryOfExecutable("/tly"), "/");
  EXPECT_EQ(DirectoryOfExecutable("/opt//tly"), "/opt");
  EXPECT_EQ(DirectoryOfExecutable("tly"), ".");
}

using testing::EnvGuard;

TEST(ProcessEnv, TemporaryDirectoryIsTheExecutablesOwnForItAndItsChildren) {
  const EnvGuard temp("TEMP"), tmp("TMP"), tmpdir("TMPDIR");
  ::setenv("TEMP", "/inherited", 1);
  ::setenv("TMP", "/inherited", 1);
  ::unsetenv("TMPDIR");

  InitProcessEnvironment();

  const std::string expected =
      std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
  EXPECT_EQ(AppDir(), expected);
  for (const char* name : {"TEMP", "TMP", "TMPDIR"}) {
    ASSERT_NE(std::getenv(name), nullptr) << name;
    EXPECT_EQ(std::string(std::getenv(name)), expected) << name;
  }

  FILE* child = ::popen("printf '%s|%s|%s' \"$TEMP\" \"$TMP\" \"$TMPDIR\"", "r");
  ASSERT_NE(child, nullptr);
  char seen[4096] = {};
  const size_t length = std::fread(seen, 1, sizeof seen - 1, child);
  ::pclose(child);
  EXPECT_EQ(std::string(seen, length), expected + "|" + expected + "|" + expected);
}

}  // namespace
}  // namespace tly
