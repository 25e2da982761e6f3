#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "dayfile/day_file_check.h"
#include "support/date_time.h"
#include "testutil/program_process.h"
#include "testutil/temp_dir.h"
#include "testutil/wait_for.h"

namespace tly {
namespace {

// A window stopped by SIGTERM (a logout, a kill) goes the way of its Exit
// button: generation stops with a final save and the settings are written.
TEST(QuitSignals, TerminatedWindowSavesTheDayAndTheSettings) {
  testing::TempDir dir;
  const std::string out = dir.File("out");
  std::filesystem::create_directory(out);
  const testing::TempDir exe_dir(testing::TestProgramDir());
  const std::string exe = exe_dir.File("tly-generator");
  std::filesystem::copy_file(testing::GeneratorProgram(), exe);
  testing::WriteBytes(exe_dir.File("tly-generator.ini"), "[General]\nOutDir=" + out + "\n");

  testing::Program window(exe, {}, dir.path(), {"QT_QPA_PLATFORM=offscreen"});
  // The first save happens in a timer tick, inside the event loop, so the
  // signal handling installed before it is in place. (The writer's lock file
  // appears earlier, before the loop runs.)
  ASSERT_TRUE(testing::WaitFor([&] {
    return std::filesystem::exists(out + "/" + FormatYyMmDd(SystemNow()) + ".tly") ||
           std::filesystem::exists(out + "/" + FormatYyMmDd(SystemNow() - 1) + ".tly") ||
           !window.Running();
  })) << window.Err();
  window.Signal(SIGTERM);
  ASSERT_EQ(window.Wait(), 0) << window.Err();

  int day_files = 0;
  for (const std::string& name : testing::EntriesOf(out)) {
    const std::filesystem::path entry_path = out + "/" + name;
    ASSERT_EQ(entry_path.extension(), ".tly") << entry_path;
    const DayFileCheck check = CheckDayFile(testing::ReadBytes(entry_path));
    EXPECT_TRUE(check.ok) << check.problem;
    ++day_files;
  }
  EXPECT_GE(day_files, 1);
  EXPECT_NE(testing::ReadBytes(exe_dir.File("tly-generator.ini")).find("OutDir=" + out),
            std::string::npos);
}

}  // namespace
}  // namespace tly
