// seal: a hand-edited day file gets its header back, with its own layout
// where the header can be read, and the seal of its rows; what is no row is
// refused and left alone.

#include "cli/seal_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include <string>
#include <vector>

#include "backfill/scenario_backfill.h"
#include "cli/command_style.h"
#include "dayfile/day_file_check.h"
#include "dayfile/day_file_findings.h"
#include "scenario/scenario_file.h"
#include "support/file_operations.h"
#include "testutil/current_dir.h"
#include "testutil/failing_file_operations.h"
#include "testutil/subcommand_runner.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

testing::CommandOutcome Seal(std::vector<std::string> args, const TempDir& scratch) {
  args.insert(args.begin(), "seal");
  return testing::RunSubcommand<SealOptions>(AddSealCommand, RunSealCommand, std::move(args),
                                             scratch);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// Every line of `file` but the "#M" and "#S" lines.
std::string WithoutUpdateAndSeal(const std::string& file) {
  std::string kept;
  size_t start = 0;
  while (start < file.size()) {
    const size_t end = file.find('\n', start) + 1;
    const std::string line = file.substr(start, end - start);
    if (line.rfind("#M ", 0) != 0 && line.rfind("#S", 0) != 0) kept += line;
    start = end;
  }
  return kept;
}

TEST(SealCommand, AHandEditedFileGetsItsOwnHeaderAndTheSealOfItsRows) {
  TempDir scratch;
  TempDir dir;
  const Scenario scenario = ParseScenario(ExampleScenario(), "example.toml");
  ScenarioBackfillRequest request;
  request.scenario = &scenario;
  request.out_dir = dir.path();
  request.from = request.to = {2027, 1, 5};
  request.seed = scenario.seed;
  ScenarioBackfill(request);

  // The office's own doors (three, six channels): a test team adds a row of
  // the next day and edits a count, with an editor that writes LF.
  const std::string file = dir.File("la-defense/270105.tly");
  const std::string original = ReadBytes(file);
  // The first count at noon gets a 7 in front.
  std::string edited = Replaced(original, "\t12:00\t ", "\t12:00\t 7");
  edited += "OFF-2\t06/01/2027\t00:00\t 1\t 0\t 0\t 0\t 0\t 0\r\n";
  std::string lf;
  for (const char c : edited) {
    if (c != '\r') lf += c;
  }
  WriteBytes(file, lf);
  ASSERT_FALSE(CheckDayFile(ReadBytes(file)).ok);

  const testing::CommandOutcome sealed = Seal({file}, scratch);
  ASSERT_EQ(sealed.exit_code, 0) << sealed.err;
  EXPECT_EQ(sealed.out, file + ": sealed (its own layout, RV9)\n");
  const std::string result = ReadBytes(file);
  EXPECT_EQ(WithoutUpdateAndSeal(result), WithoutUpdateAndSeal(edited))
      << "the same header and rows, CR LF again";
  std::vector<FindingKind> kinds;
  for (const DayFileFinding& finding : InspectDayFile(result, EncodeDate(2027, 1, 5))) {
    kinds.push_back(finding.kind);
  }
  EXPECT_EQ(kinds, (std::vector<FindingKind>{FindingKind::kWrongDate, FindingKind::kOutOfOrder}))
      << "the seal matches; the crafted row stays for the reader to find";
}

TEST(SealCommand, TheDefaultLayoutWithoutAHeaderAndWhatIsNoRowIsRefused) {
  TempDir scratch;
  TempDir dir;
  const std::string rows_only = dir.File("270105.tly");
  WriteBytes(rows_only, "001\t05/01/2027\t10:00\t 1\t 0\t 2\t 0\t 0\t 0\t 0\t 0\t 0\t 0\r\n");
  testing::CommandOutcome outcome = Seal({rows_only}, scratch);
  ASSERT_EQ(outcome.exit_code, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("sealed (the default layout"), std::string::npos) << outcome.out;
  const std::string sealed = ReadBytes(rows_only);
  EXPECT_TRUE(CheckDayFile(sealed).ok) << CheckDayFile(sealed).problem;
  EXPECT_NE(sealed.find("#C10YX5\r\n"), std::string::npos) << "the program's ten channels";
  EXPECT_TRUE(InspectDayFile(sealed, EncodeDate(2027, 1, 5)).empty());

  const std::string not_rows = dir.File("270106.tly");
  const std::string text = "#TRV9\r\nthis is no row\r\n";
  WriteBytes(not_rows, text);
  outcome = Seal({not_rows, rows_only}, scratch);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.err.find("tly-generator seal: refused " + not_rows + ": data line 1"),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(ReadBytes(not_rows), text) << "left as it was";
  EXPECT_NE(outcome.out.find(rows_only + ": sealed"), std::string::npos) << "the others are sealed";

  EXPECT_EQ(Seal({dir.File("missing.tly")}, scratch).exit_code, 2);
  EXPECT_EQ(Seal({}, scratch).exit_code, 2);
}

// A link is followed: the file it names is sealed, the link stays a link.
TEST(SealCommand, SealsTheFileALinkNames) {
  TempDir scratch;
  TempDir dir;
  const std::string target = dir.File("270105.tly");
  const std::string link = dir.File("link.tly");
  WriteBytes(target, "001\t05/01/2027\t10:00\t 1\t 0\r\n");
  std::filesystem::create_symlink("270105.tly", link);
  const testing::CommandOutcome outcome = Seal({link}, scratch);
  ASSERT_EQ(outcome.exit_code, 0) << outcome.err;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_TRUE(CheckDayFile(ReadBytes(target)).ok);
}

// Refusals say the real reason, and bytes of the file reach the terminal
// escaped; a time of colons only is no time (it once ended seal abruptly).
TEST(SealCommand, RefusalsNameTheirReason) {
  TempDir scratch;
  TempDir dir;
  const std::string binary = dir.File("270105.tly");
  WriteBytes(binary, "\x1b[2J\x01\tno time\r\n");
  const std::string colons = dir.File("270108.tly");
  WriteBytes(colons, "001\t08/01/2027\t:::::\t 1\r\n");
  const std::string large = dir.File("270106.tly");
  WriteBytes(large, std::string(kMaxDayFileBytes + 1, '0'));
  const std::string read_only = dir.File("ro");
  std::filesystem::create_directory(read_only);
  WriteBytes(read_only + "/270107.tly", "001\t07/01/2027\t10:00\t 1\t 0\r\n");
  std::filesystem::permissions(
      read_only, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  struct Case {
    std::string file;
    int exit_code;
    std::string error;
  };
  std::vector<Case> cases = {
      {binary, 1, "(\"\\x1B[2J\\x01\\x09no time\")"},
      {colons, 1, "data line 1 (\"001\\x0908/01/2027\\x09:::::"},
      {large, 2, "cannot read " + large + ": larger than 1 MiB"},
  };
  // The superuser may write into any folder.
  if (::geteuid() != 0) {
    cases.push_back(
        {read_only + "/270107.tly", 1,
         "cannot create the lock file " + read_only + "/.tly-generator.lock: Permission denied"});
  }
  for (const Case& c : cases) {
    const testing::CommandOutcome outcome = Seal({c.file}, scratch);
    EXPECT_EQ(outcome.exit_code, c.exit_code) << c.file;
    EXPECT_NE(outcome.err.find(c.error), std::string::npos) << outcome.err;
  }
  std::filesystem::permissions(read_only, std::filesystem::perms::owner_all);
}

// A file whose replacement is refused (also on the retry) is reported as
// not sealed, and stays as it was.
TEST(SealCommand, ARefusedReplacementIsAFailure) {
  TempDir scratch;
  TempDir dir;
  const testing::ScopedCurrentDir in_scratch(scratch.path());  // for the debug log
  const std::string file = dir.File("270105.tly");
  const std::string rows = "001\t05/01/2027\t10:00\t 1\t 0\r\n";
  WriteBytes(file, rows);
  testing::FailingFileOperations operations;
  operations.FailNth(testing::FailingFileOperations::kRename, 1, EPERM, 2);
  const ScopedFileOperations scope(operations);
  const testing::CommandOutcome outcome = Seal({file}, scratch);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.err.find("cannot seal " + file + ": cannot replace"), std::string::npos)
      << outcome.err;
  EXPECT_EQ(outcome.out.find("sealed"), std::string::npos) << outcome.out;
  EXPECT_EQ(ReadBytes(file), rows);
}

}  // namespace
}  // namespace tly
