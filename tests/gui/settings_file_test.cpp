#include "gui/settings_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/text_trim.h"
#include "testutil/env_guard.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

// What any INI reader sees: the value of `key` in `section`, or "<none>".
std::string IniValue(const std::string& text, const std::string& section, const std::string& key) {
  std::istringstream in(text);
  std::string line;
  bool in_section = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      in_section = line == "[" + section + "]";
    } else if (in_section && line.rfind(key + "=", 0) == 0) {
      return line.substr(key.size() + 1);
    }
  }
  return "<none>";
}

TEST(SettingsFile, IniFileSitsBesideTheExecutable) {
  EXPECT_EQ(IniFileNameFor("/opt/gen/tly-generator"), "/opt/gen/tly-generator.ini");
  EXPECT_EQ(IniFileNameFor("/opt/gen/tly.exe"), "/opt/gen/tly.ini");
  EXPECT_EQ(IniFileNameFor("/opt/v1.2/tly"), "/opt/v1.2/tly.ini");
  const std::string exe = ExecutablePath();
  EXPECT_EQ(exe.front(), '/');
  EXPECT_NE(exe.find("gui_tests"), std::string::npos);
}

TEST(SettingsFile, TrimsBlanksAndControlCharactersAtBothEndsOnly) {
  EXPECT_EQ(TrimBlanksAndControls("  \t/data/tly out \r\n"), "/data/tly out");
  EXPECT_EQ(TrimBlanksAndControls(" \x01\x1f "), "");
  EXPECT_EQ(TrimBlanksAndControls("/d\xc3\xa9j\xc3\xa0"), "/d\xc3\xa9j\xc3\xa0");
}

TEST(SettingsFile, ReadsHandWrittenFilesAndWritesPlainIni) {
  testing::TempDir dir;
  const std::string ini = dir.File("gen.ini");
  EXPECT_EQ(ReadOutDirSetting(ini), "");
  EXPECT_FALSE(std::filesystem::exists(ini)) << "reading never creates the file";

  testing::WriteBytes(ini, "[General]\r\nOutDir=/data/tly out\r\n");
  EXPECT_EQ(ReadOutDirSetting(ini), "/data/tly out");
  testing::WriteBytes(ini, "[Other]\nOutDir=/wrong\n[General]\nOutDir=  /data/a,b  \n");
  EXPECT_EQ(ReadOutDirSetting(ini), "/data/a,b");

  ASSERT_TRUE(WriteOutDirSetting(ini, "/srv/tly files/day"));
  const std::string written = testing::ReadBytes(ini);
  EXPECT_EQ(IniValue(written, "General", "OutDir"), "/srv/tly files/day") << written;
  EXPECT_EQ(IniValue(written, "Other", "OutDir"), "/wrong") << "other entries stay";
  EXPECT_EQ(ReadOutDirSetting(ini), "/srv/tly files/day");

  EXPECT_FALSE(WriteOutDirSetting(dir.path(), "/x")) << "a directory cannot be written";
}

// The user's settings follow XDG_CONFIG_HOME, also when it changes while the
// program runs, and fall back to ~/.config; a missing folder is created by
// the first write.
TEST(SettingsFile, UserSettingsLiveInTheConfigurationFolder) {
  const testing::EnvGuard config("XDG_CONFIG_HOME"), home("HOME");
  testing::TempDir dir;
  ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
  EXPECT_EQ(UserSettingsFileName(), dir.File("config/tly-generator.ini"));
  ASSERT_TRUE(WriteOutDirSetting(UserSettingsFileName(), "/data/tly"));
  EXPECT_EQ(ReadOutDirSetting(dir.File("config/tly-generator.ini")), "/data/tly");

  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", dir.path().c_str(), 1);
  EXPECT_EQ(UserSettingsFileName(), dir.File(".config/tly-generator.ini"));
}

}  // namespace
}  // namespace tly
