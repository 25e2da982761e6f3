#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "dayfile/day_file_check.h"
#include "support/date_time.h"
#include "testutil/draw_model.h"
#include "testutil/program_process.h"
#include "testutil/sha1.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::GeneratorProgram;
using testing::Program;
using Sums = testing::TickRow;

// The rows after the second title line, and the text of the "#S" line.
void SplitDayFile(const std::string& file, std::string& rows, std::string& seal) {
  const size_t titles = file.find("\t\t\tCNL1\tCNL2\tCNL3\tCNL4\r\n");
  ASSERT_NE(titles, std::string::npos) << file;
  rows = file.substr(file.find('\n', titles) + 1);
  const size_t seal_line = file.find("\r\n#S");
  ASSERT_NE(seal_line, std::string::npos);
  seal = file.substr(seal_line + 4, file.find("\r\n", seal_line + 4) - seal_line - 4);
}

// Adds the count fields of every row of `rows` to `sums`.
void AddRowSums(const std::string& rows, Sums& sums) {
  size_t start = 0;
  while (start < rows.size()) {
    const size_t end = rows.find("\r\n", start);
    std::string_view row(rows.data() + start, end - start);
    for (int field = 0; field < 3; ++field) row.remove_prefix(row.find('\t') + 1);
    for (int channel = 0; channel < 10; ++channel) {
      sums[channel] += std::stoll(std::string(row.substr(1, row.find('\t') - 1)));
      row.remove_prefix(std::min(row.size(), row.find('\t') + 1));
    }
    start = end + 2;
  }
}

// The number of ticks the stop line "Stopped after N ticks; ..." reports.
uint64_t TicksOf(const std::string& out) {
  std::smatch match;
  const std::regex stop("Stopped after ([0-9]+) ticks?; ");
  return std::regex_search(out, match, stop) ? std::stoull(match[1]) : UINT64_MAX;
}

// Whatever moment the run starts (also across a quarter hour or midnight),
// its files hold exactly the counts of the ticks it reports, sealed.
TEST(RunCommand, SavedCountsAreThoseOfTheTicksItReports) {
  testing::TempDir dir;
  const std::string out = dir.path() + "/out dir";
  std::filesystem::create_directory(out);
  Program program(GeneratorProgram(), {"run", "--out", out, "--seconds", "7"}, dir.path());
  ASSERT_EQ(program.Wait(), 0) << program.Err();

  const uint64_t ticks = TicksOf(program.Out());
  ASSERT_NE(ticks, UINT64_MAX) << program.Out();
  // The first tick is due 2 seconds after the start, the last by 6.
  ASSERT_GE(ticks, 1u) << program.Out();
  ASSERT_LE(ticks, 3u) << program.Out();

  Sums on_disk{};
  int files = 0;
  for (const std::string& name : testing::EntriesOf(out)) {
    const std::filesystem::path entry_path = out + "/" + name;
    const std::string bytes = testing::ReadBytes(entry_path);
    EXPECT_TRUE(CheckDayFile(bytes).ok) << entry_path;
    std::string rows;
    std::string seal;
    SplitDayFile(bytes, rows, seal);
    EXPECT_EQ(seal, rows.empty() ? "" : testing::Sha1UpperHex(rows));
    EXPECT_TRUE(rows.empty() || rows.rfind("001\t", 0) == 0) << rows;
    AddRowSums(rows, on_disk);
    ++files;
  }
  EXPECT_GE(files, 1);
  EXPECT_EQ(on_disk, testing::DrawModel().SumOfTicks(ticks));
  EXPECT_EQ(program.Out().rfind("Generating into " + out + "/", 0), 0u) << program.Out();
  EXPECT_NE(program.Out().find(" (a tick every 2 s; Ctrl-C or SIGTERM stops)\nStopped after "),
            std::string::npos)
      << program.Out();
}

TEST(RunCommand, TerminationSavesTheDayAndExitsZero) {
  testing::TempDir dir;
  const std::string out = dir.File("out");
  std::filesystem::create_directory(out);
  Program program(GeneratorProgram(), {"run", "--out", out, "--seed", "4294967295"}, dir.path());
  // The line is printed once the stop signals are taken over.
  ASSERT_TRUE(program.WaitForOutput("Generating into ")) << program.Err();
  program.Signal(SIGTERM);
  ASSERT_EQ(program.Wait(), 0) << program.Err();
  EXPECT_NE(program.Out().find("\nStopped after "), std::string::npos) << program.Out();
  bool found = false;
  for (const std::string& name : testing::EntriesOf(out)) {
    const std::filesystem::path entry_path = out + "/" + name;
    EXPECT_EQ(entry_path.extension(), ".tly");
    EXPECT_TRUE(CheckDayFile(testing::ReadBytes(entry_path)).ok) << entry_path;
    found = true;
  }
  EXPECT_TRUE(found);
}

// A final save that cannot be done is a failure: said on stderr, exit 1.
TEST(RunCommand, AFailedFinalSaveIsReportedAndExitsOne) {
  testing::TempDir dir;
  const std::string out = dir.File("out");
  std::filesystem::create_directory(out);
  // Directories in the way of today's file (and tomorrow's, should the run
  // start after midnight).
  for (const TDateTime day : {DatePart(SystemNow()), DatePart(SystemNow()) + 1}) {
    const std::string blocked = out + "/" + FormatYyMmDd(day) + ".tly";
    std::filesystem::create_directories(blocked + "/kept");
  }
  Program program(GeneratorProgram(), {"run", "--out", out, "--seconds", "0"}, dir.path(), {},
                  dir.path());
  EXPECT_EQ(program.Wait(), 1) << program.Out();
  EXPECT_NE(program.Err().find("could not save"), std::string::npos) << program.Err();
  EXPECT_EQ(program.Out().find("Stopped after 0 ticks; saved"), std::string::npos) << program.Out();

  // The same for a scenario's site, its error said once, in plain words.
  testing::WriteBytes(dir.File("s.toml"),
                      testing::RunGeneratorToEnd({"scenario", "--example"}).out);
  std::filesystem::create_directories(out + "/rivoli/270105.tly/kept");
  testing::TempDir sites_output;
  Program sites(GeneratorProgram(),
                {"run", "--scenario", "s.toml", "--out", out, "--start", "2027-01-05T10:00",
                 "--seconds", "0"},
                sites_output.path(), {}, dir.path());
  EXPECT_EQ(sites.Wait(), 1) << sites.Out();
  EXPECT_EQ(sites.Err().rfind("tly-generator run: stopped at 2027-01-05T10:00:00 UTC; cannot "
                              "replace " +
                                  out + "/rivoli/270105.tly with ",
                              0),
            0u)
      << sites.Err();

  // Nothing is left behind but the day files: no temporary file, no log in
  // the current directory (the programs' is dir).
  for (const std::string& sub : {std::string(), std::string("/rivoli")}) {
    for (const std::string& name : testing::EntriesOf(out + sub)) {
      EXPECT_NE(std::filesystem::path(name).extension(), ".tmp") << name;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("debug.txt")));
}

// Options that cannot be carried out as given end at once with code 2.
TEST(RunCommand, RefusesWhatItCannotDoAsGiven) {
  testing::TempDir dir;
  testing::WriteBytes(dir.File("s.toml"),
                      testing::RunGeneratorToEnd({"scenario", "--example"}).out);
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--out", "", "--seconds", "0"}, "--out is empty"},
      {{"--scenario", "s.toml", "--out", "", "--seconds", "0"}, "--out is empty"},
      {{"--scenario", "s.toml", "--out", ".", "--speed", "0"}, "--speed 0 is not a number above 0"},
      {{"--scenario", "s.toml", "--out", ".", "--speed", "1."}, "--speed 1. is not"},
      {{"--scenario", "s.toml", "--out", ".", "--speed", "1000000.5"}, "up to 1000000"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"run"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const testing::ProgramOutcome outcome = testing::RunGeneratorToEnd(args, dir.path());
    EXPECT_EQ(outcome.code, 2) << c.says;
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
  }
  EXPECT_EQ(testing::EntriesOf(dir.path()), std::vector<std::string>{"s.toml"});
}

// The tick due at the very end of --seconds still comes, and a scenario's
// ticks are those of simulated time (2.5 x 2 s: 5 s, 2 ticks), at any speed
// with decimals.
TEST(RunCommand, SecondsEndAfterTheirLastTick) {
  testing::TempDir dir;
  testing::WriteBytes(dir.File("s.toml"),
                      testing::RunGeneratorToEnd({"scenario", "--example"}).out);
  testing::TempDir flat_output;
  Program flat(GeneratorProgram(), {"run", "--out", ".", "--seconds", "2"}, flat_output.path(), {},
               dir.path());
  testing::TempDir sites_output;
  Program sites(GeneratorProgram(),
                {"run", "--scenario", "s.toml", "--out", ".", "--start", "2027-01-05T10:00",
                 "--speed", "2.5", "--seconds", "2"},
                sites_output.path(), {}, dir.path());
  ASSERT_EQ(flat.Wait(), 0) << flat.Err();
  EXPECT_EQ(TicksOf(flat.Out()), 1u) << flat.Out();
  ASSERT_EQ(sites.Wait(), 0) << sites.Err();
  EXPECT_NE(sites.Out().find("Stopped at 2027-01-05T10:00:05 UTC (simulated) after 2 ticks;"),
            std::string::npos)
      << sites.Out();
}

TEST(RunCommand, DirectoryMustExistAndComesFromTheSettingsWhenNotGiven) {
  testing::TempDir dir;
  Program missing(GeneratorProgram(), {"run", "--out", dir.File("nowhere")}, dir.path());
  EXPECT_EQ(missing.Wait(), 2);
  EXPECT_NE(missing.Err().find(dir.File("nowhere")), std::string::npos) << missing.Err();
  EXPECT_FALSE(std::filesystem::exists(dir.File("nowhere")));

  // A copy of the program beside its own settings file, where programs may
  // be executed.
  const testing::TempDir exe_dir(testing::TestProgramDir());
  const std::string exe = exe_dir.File("tly-generator");
  const std::string ini_file = exe_dir.File("tly-generator.ini");
  std::filesystem::copy_file(GeneratorProgram(), exe);
  Program no_settings(exe, {"run", "--seconds", "0"}, dir.path());
  EXPECT_EQ(no_settings.Wait(), 2);
  EXPECT_NE(no_settings.Err().find("--out"), std::string::npos) << no_settings.Err();
  EXPECT_FALSE(std::filesystem::exists(ini_file));

  const std::string out = dir.File("from ini");
  std::filesystem::create_directory(out);
  const std::string ini = "[General]\r\nOutDir=" + out + "\r\n";
  testing::WriteBytes(ini_file, ini);
  Program from_settings(exe, {"run", "--seconds", "0"}, dir.path());
  EXPECT_EQ(from_settings.Wait(), 0) << from_settings.Err();
  EXPECT_NE(from_settings.Out().find("saved 0 quarter-hour rows to " + out + "/"),
            std::string::npos)
      << from_settings.Out();
  EXPECT_EQ(testing::ReadBytes(ini_file), ini) << "run never writes it";

  Program bad_seed(GeneratorProgram(), {"run", "--out", out, "--seed", "4294967296"}, dir.path());
  EXPECT_EQ(bad_seed.Wait(), 2);
  Program version(GeneratorProgram(), {"--version"}, dir.path());
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.Out(), "tly-generator 1.0.0\n");
}

}  // namespace
}  // namespace tly
