#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "program_process.h"
#include "support/date_time.h"
#include "support/temp_dir.h"

namespace tly {
namespace {

using testing::Program;

std::string Sha1Upper(const std::string& bytes, const std::string& scratch) {
  testing::WriteBytes(scratch, bytes);
  FILE* pipe = popen(("sha1sum '" + scratch + "'").c_str(), "r");
  char digest[41] = {};
  const size_t read = std::fread(digest, 1, 40, pipe);
  pclose(pipe);
  std::string text(digest, read);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The rows after the second title line, and the text of the "#S" line.
void SplitDayFile(const std::string& file, std::string& rows, std::string& seal) {
  const size_t titles = file.find("\t\t\tCNL1\tCNL2\tCNL3\tCNL4\r\n");
  ASSERT_NE(titles, std::string::npos) << file;
  rows = file.substr(file.find('\n', titles) + 1);
  const size_t seal_line = file.find("\r\n#S");
  ASSERT_NE(seal_line, std::string::npos);
  seal = file.substr(seal_line + 4, file.find("\r\n", seal_line + 4) - seal_line - 4);
}

int Minute15Slot() {
  return QuarterHourSlot(SystemNow()) + 96 * static_cast<int>(DatePart(SystemNow()));
}

TEST(RunCommand, SevenSecondsLeaveOneSealedRowOfTheFixedSequence) {
  testing::TempDir dir;
  const std::string out = dir.path() + "/out dir";
  std::filesystem::create_directory(out);
  const int slot_before = Minute15Slot();
  Program program(TLY_GENERATOR_EXE, {"run", "--out", out, "--seconds", "7"}, dir.path());
  ASSERT_EQ(program.Wait(), 0) << program.Err();
  if (Minute15Slot() != slot_before) GTEST_SKIP() << "a quarter hour began during the run";

  const std::string name = out + "/" + FormatYyMmDd(SystemNow()) + ".tly";
  std::string rows;
  std::string seal;
  SplitDayFile(testing::ReadBytes(name), rows, seal);
  EXPECT_NE(rows.find("\t 1\t 1\t 2\t 0\t 0\t 0\t 1\t 0\t 2\t 0\r\n"), std::string::npos) << rows;
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 1) << rows;
  EXPECT_EQ(rows.rfind("001\t", 0), 0u);
  EXPECT_EQ(seal, Sha1Upper(rows, dir.File("rows.bin")));
  EXPECT_EQ(program.Out(), "Generating into " + name +
                               " (a tick every 2 s; Ctrl-C or SIGTERM stops)\n"
                               "Stopped; saved 1 quarter-hour row to " +
                               name + "\n");
}

TEST(RunCommand, TerminationSavesTheDayAndExitsZero) {
  testing::TempDir dir;
  const std::string out = dir.File("out");
  std::filesystem::create_directory(out);
  Program program(TLY_GENERATOR_EXE, {"run", "--out", out, "--seed", "4294967295"}, dir.path());
  std::this_thread::sleep_for(std::chrono::milliseconds(2600));
  program.Signal(SIGTERM);
  ASSERT_EQ(program.Wait(), 0) << program.Err();
  EXPECT_NE(program.Out().find("\nStopped; saved "), std::string::npos) << program.Out();
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    EXPECT_EQ(entry.path().extension(), ".tly");
    std::string rows;
    std::string seal;
    SplitDayFile(testing::ReadBytes(entry.path()), rows, seal);
    found = true;
  }
  EXPECT_TRUE(found);
}

TEST(RunCommand, DirectoryMustExistAndComesFromTheSettingsWhenNotGiven) {
  testing::TempDir dir;
  Program missing(TLY_GENERATOR_EXE, {"run", "--out", dir.File("nowhere")}, dir.path());
  EXPECT_EQ(missing.Wait(), 2);
  EXPECT_NE(missing.Err().find(dir.File("nowhere")), std::string::npos) << missing.Err();
  EXPECT_FALSE(std::filesystem::exists(dir.File("nowhere")));

  // A copy of the program beside its own settings file.
  const std::string exe = dir.File("tly-generator");
  std::filesystem::copy_file(TLY_GENERATOR_EXE, exe);
  Program no_settings(exe, {"run", "--seconds", "0"}, dir.path());
  EXPECT_EQ(no_settings.Wait(), 2);
  EXPECT_NE(no_settings.Err().find("--out"), std::string::npos) << no_settings.Err();
  EXPECT_FALSE(std::filesystem::exists(dir.File("tly-generator.ini")));

  const std::string out = dir.File("from ini");
  std::filesystem::create_directory(out);
  const std::string ini = "[General]\r\nOutDir=" + out + "\r\n";
  testing::WriteBytes(dir.File("tly-generator.ini"), ini);
  Program from_settings(exe, {"run", "--seconds", "0"}, dir.path());
  EXPECT_EQ(from_settings.Wait(), 0) << from_settings.Err();
  EXPECT_NE(from_settings.Out().find("saved 0 quarter-hour rows to " + out + "/"),
            std::string::npos)
      << from_settings.Out();
  EXPECT_EQ(testing::ReadBytes(dir.File("tly-generator.ini")), ini) << "run never writes it";

  Program bad_seed(TLY_GENERATOR_EXE, {"run", "--out", out, "--seed", "4294967296"}, dir.path());
  EXPECT_EQ(bad_seed.Wait(), 2);
  Program version(TLY_GENERATOR_EXE, {"--version"}, dir.path());
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.Out(), "tly-generator 1.0.0\n");
}

}  // namespace
}  // namespace tly
