#include "support/process_env.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "testutil/child_process.h"
#include "testutil/env_guard.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

TEST(ProcessEnv, DirectoryOfExecutable) {
  EXPECT_EQ(DirectoryOfExecutable("/opt/gen/tly"), "/opt/gen");
  EXPECT_EQ(DirectoryOfExecutable("/tly"), "/");
  EXPECT_EQ(DirectoryOfExecutable("/opt//tly"), "/opt");
  EXPECT_EQ(DirectoryOfExecutable("tly"), ".");
}

using testing::EnvGuard;

constexpr uid_t kNobody = 65534;

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

// Root may write anywhere, so a child that must meet a read-only folder takes
// the identity of nobody first; an ordinary user stays who it is.
bool BecomeOrdinaryUser() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// An installed program (its folder not writable by the user) leaves the
// temporary directory where the user had it; a program in a folder the user
// owns takes that folder, as it always did.
TEST(ProcessEnv, OnlyAWritableExecutableFolderBecomesTheTemporaryDirectory) {
  testing::TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  const std::string installed = dir.File("installed");
  const std::string portable = dir.File("portable");
  std::filesystem::create_directory(installed);
  std::filesystem::create_directory(portable);
  std::filesystem::permissions(installed, std::filesystem::perms(0555));
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(portable.c_str(), kNobody, kNobody), 0);
  }

  const auto temp_dirs_after_init = [](const std::string& exe) {
    InitProcessEnvironmentFor(exe);
    std::string seen;
    for (const char* name : {"TEMP", "TMP", "TMPDIR"}) {
      const char* value = std::getenv(name);
      seen += std::string(value != nullptr ? value : "<unset>") + "|";
    }
    return seen;
  };
  const EnvGuard temp("TEMP"), tmp("TMP"), tmpdir("TMPDIR");
  ::setenv("TEMP", "/inherited", 1);
  ::unsetenv("TMP");
  ::setenv("TMPDIR", "/inherited/tmpdir", 1);

  EXPECT_EQ(testing::RunInChild([&] {
              if (!BecomeOrdinaryUser()) return 2;
              if (temp_dirs_after_init(installed + "/tly-generator") !=
                  "/inherited|<unset>|/inherited/tmpdir|")
                return 3;
              return AppDir() == installed && !AppDirWritable() ? 0 : 4;
            }),
            0);
  EXPECT_EQ(testing::RunInChild([&] {
              if (!BecomeOrdinaryUser()) return 2;
              if (temp_dirs_after_init(portable + "/tly-generator") !=
                  portable + "|" + portable + "|" + portable + "|")
                return 3;
              return AppDir() == portable && AppDirWritable() ? 0 : 4;
            }),
            0);
}

}  // namespace
}  // namespace tly
