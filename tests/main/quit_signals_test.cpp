#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "config/day_file_check.h"
#include "program_process.h"
#include "support/temp_dir.h"

namespace tly {
namespace {

// A window stopped by SIGTERM (a logout, a kill) goes the way of its Exit
// button: generation stops with a final save and the settings are written.
TEST(QuitSignals, TerminatedWindowSavesTheDayAndTheSettings) {
  testing::TempDir dir;
  const std::string out = dir.File("out");
  std::filesystem::create_directory(out);
  const std::string exe = dir.File("tly-generator");
  std::filesystem::copy_file(TLY_GENERATOR_EXE, exe);
  testing::WriteBytes(dir.File("tly-generator.ini"), "[General]\nOutDir=" + out + "\n");

  testing::Program window(exe, {}, dir.path(), {"QT_QPA_PLATFORM=offscreen"});
  // Past the first tick, before the first save is certain to have happened.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  window.Signal(SIGTERM);
  ASSERT_EQ(window.Wait(), 0) << window.Err();

  int day_files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    ASSERT_EQ(entry.path().extension(), ".tly") << entry.path();
    const DayFileCheck check = CheckDayFile(testing::ReadBytes(entry.path()));
    EXPECT_TRUE(check.ok) << check.problem;
    ++day_files;
  }
  EXPECT_GE(day_files, 1);
  EXPECT_NE(testing::ReadBytes(dir.File("tly-generator.ini")).find("OutDir=" + out),
            std::string::npos);
}

}  // namespace
}  // namespace tly
