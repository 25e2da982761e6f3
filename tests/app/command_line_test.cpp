// The command line as a hostile tester uses it: one option style for every
// command, honest exit codes when output is lost, backfills that never add
// to existing files by accident, and no crash without a display.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dayfile/day_file_check.h"
#include "testutil/program_process.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::GeneratorProgram;
using testing::Program;
using testing::ReadBytes;
using testing::TempDir;

using Outcome = testing::ProgramOutcome;

// Runs the program to its end with `args`; stdout goes to `stdout_fd` when
// given.
Outcome RunProgram(const std::vector<std::string>& args, int stdout_fd = -1,
                   std::vector<std::string> env = {}) {
  return testing::RunGeneratorToEnd(args, "", std::move(env), stdout_fd);
}

// The bytes of every file of `dir` by name.
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& name : testing::EntriesOf(dir)) {
    files.emplace_back(name, ReadBytes(dir + "/" + name));
  }
  return files;
}

TEST(CommandLine, EveryCommandReadsItsValuesAlikeAndNamesItselfInErrors) {
  TempDir out;
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"run", "--out", out.path(), "--seconds", "0x10"},
       "tly-generator run: --seconds 0x10 is not a whole number from 0 to 2147483647"},
      {{"run", "--out", out.path(), "--seconds=+1"},
       "tly-generator run: --seconds +1 is not a whole number from 0 to 2147483647"},
      {{"run", "--out", out.path(), "--seed", "0x10"},
       "tly-generator run: --seed 0x10 is not a whole number from 0 to 4294967295"},
      {{"backfill", "--out", out.path(), "--from", "2026-01-01", "--to", "2026-01-01", "--seed",
        "-1"},
       "tly-generator backfill: --seed -1 is not a whole number from 0 to 4294967295"},
      {{"backfill", "--out", out.path(), "--from", "2026-01-01", "--to", "2026-01-01", "--existing",
        "merge"},
       "tly-generator backfill: --existing merge is not continue, replace or skip"},
      {{"verify", "--json-please", "a.tly"},
       "tly-generator verify: there is no option --json-please\n"},
      {{"no-such-command", "x"},
       "tly-generator: no-such-command is not a command (run, backfill, verify, seal, plot, "
       "scenario, deliver, serve, studio, help)\n"},
      {{"--bogus"}, "tly-generator: there is no option --bogus\n"},
      {{"help", "no-such-command"}, "tly-generator help: there is no command no-such-command"},
      // The parser's own texts, in the program's words; words it could not
      // place in the order they were given.
      {{"run", "--x", "verify", "--y", "z"},
       "tly-generator run: there are no options --x, --y; unexpected arguments verify z\n"},
      {{"run", "--seconds", "1", "--seconds=2"},
       "tly-generator run: --seconds is given more than once\n"},
      {{"run", "--out"}, "tly-generator run: --out needs a value: --out DIR\n"},
      {{"verify"}, "tly-generator verify: give at least one FILE\n"},
      {{"backfill", "--out", out.path(), "--from", "2026-01-01"},
       "tly-generator backfill: --to YYYY-MM-DD is missing\n"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = RunProgram(c.args);
    EXPECT_EQ(outcome.code, 2) << c.says;
    EXPECT_EQ(outcome.err.rfind(c.says, 0), 0u) << outcome.err;
  }
  EXPECT_TRUE(testing::EntriesOf(out.path()).empty());

  // Help for each command, the same way.
  for (const char* command : {"run", "backfill", "verify"}) {
    const Outcome help = RunProgram({"help", command});
    EXPECT_EQ(help.code, 0) << command;
    EXPECT_NE(help.out.find(std::string("Usage: tly-generator ") + command), std::string::npos)
        << help.out;
    EXPECT_EQ(help.out, RunProgram({command, "--help"}).out) << command;
  }
  EXPECT_NE(RunProgram({"verify", "--help"}).out.find("\n  FILE...  "), std::string::npos);
  const Outcome overview = RunProgram({"help"});
  EXPECT_EQ(overview.code, 0);
  for (const char* command : {"run", "backfill", "verify", "help"}) {
    EXPECT_NE(overview.out.find(std::string("\n  ") + command + " "), std::string::npos)
        << overview.out;
  }
}

TEST(CommandLine, ArgumentsAreUsedAsGiven) {
  TempDir parent;
  std::filesystem::create_directory(parent.File("trail"));
  std::filesystem::create_directory(parent.File("trail "));
  const Outcome outcome = RunProgram({"run", "--out", parent.File("trail "), "--seconds", "0"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_EQ(testing::EntriesOf(parent.File("trail")).size(), 0u);
  EXPECT_EQ(testing::EntriesOf(parent.File("trail ")).size(), 1u);
}

// A lost report is a failure (exit 1, said on stderr); a generator whose
// reader went away keeps generating and still saves at the end.
TEST(CommandLine, LostOutputIsAFailureButNeverStopsGeneration) {
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  TempDir out;
  const Outcome backfill = RunProgram(
      {"backfill", "--out", out.path(), "--from", "2026-01-01", "--to", "2026-01-02"}, full);
  EXPECT_EQ(backfill.code, 1);
  EXPECT_NE(backfill.err.find("tly-generator backfill: could not write to standard output"),
            std::string::npos)
      << backfill.err;
  EXPECT_EQ(testing::EntriesOf(out.path()).size(), 2u);
  const Outcome verify = RunProgram({"verify", out.File("260101.tly")}, full);
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.err.find("tly-generator verify: could not write"), std::string::npos);

  TempDir run_out;
  const Outcome run = RunProgram({"run", "--out", run_out.path(), "--seconds", "3"}, full);
  EXPECT_EQ(run.code, 1);
  // Help and version too.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"--version"}, {"help"}, {"help", "run"}, {"run", "--help"}}) {
    const Outcome answer = RunProgram(args, full);
    EXPECT_EQ(answer.code, 1) << args.back();
    EXPECT_NE(answer.err.find(": could not write to standard output"), std::string::npos)
        << answer.err;
  }
  ::close(full);

  // A pipe whose reader takes one byte and leaves: no SIGPIPE, the run goes
  // on to its end and its final save.
  TempDir piped_out;
  int pipe_ends[2];
  ASSERT_EQ(::pipe2(pipe_ends, O_CLOEXEC), 0);
  TempDir scratch;
  Program piped(GeneratorProgram(), {"run", "--out", piped_out.path(), "--seconds", "3"},
                scratch.path(), {}, scratch.path(), pipe_ends[1]);
  ::close(pipe_ends[1]);
  char byte = 0;
  ASSERT_EQ(::read(pipe_ends[0], &byte, 1), 1);
  ::close(pipe_ends[0]);
  EXPECT_EQ(piped.Wait(), 1) << piped.Err();
  for (const TempDir* dir : {&run_out, &piped_out}) {
    const std::vector<std::string> files = testing::EntriesOf(dir->path());
    ASSERT_FALSE(files.empty());
    EXPECT_TRUE(CheckDayFile(ReadBytes(dir->File(files.front()))).ok);
  }
}

TEST(CommandLine, BackfillWritesOverExistingFilesOnlyWhenToldHow) {
  TempDir out;
  const std::vector<std::string> args = {"backfill",   "--out", out.path(),  "--from",
                                         "2026-01-01", "--to",  "2026-01-03"};
  ASSERT_EQ(RunProgram(args).code, 0);
  const auto written = Snapshot(out.path());
  const Outcome again = RunProgram(args);
  EXPECT_EQ(again.code, 2);
  EXPECT_NE(again.err.find(out.File("260101.tly") + " and 2 more day files"), std::string::npos)
      << again.err;
  EXPECT_EQ(Snapshot(out.path()), written);

  // A directory in the way is named as well, before anything is written.
  TempDir blocked;
  std::filesystem::create_directory(blocked.File("260101.tly"));
  const Outcome in_the_way = RunProgram(
      {"backfill", "--out", blocked.path(), "--from", "2026-01-01", "--to", "2026-01-02"});
  EXPECT_EQ(in_the_way.code, 2);
  EXPECT_NE(in_the_way.err.find(blocked.File("260101.tly") + " is a directory, not a day file"),
            std::string::npos)
      << in_the_way.err;
  const Outcome forced = RunProgram({"backfill", "--out", blocked.path(), "--from", "2026-01-01",
                                     "--to", "2026-01-02", "--existing", "replace"});
  EXPECT_EQ(forced.code, 1);
  EXPECT_NE(forced.err.find("stopped at 2026-01-01; 0 days of 2 done"), std::string::npos)
      << forced.err;
}

// A backfill killed half-way and resumed with --existing skip gives the files
// of one uninterrupted run.
TEST(CommandLine, ASkipResumeAfterAKillEqualsAnUninterruptedBackfill) {
  TempDir whole;
  const std::vector<std::string> range = {"--from", "2026-01-01", "--to", "2026-06-30"};
  std::vector<std::string> args = {"backfill", "--out", whole.path()};
  args.insert(args.end(), range.begin(), range.end());
  ASSERT_EQ(RunProgram(args).code, 0);

  TempDir resumed;
  args[2] = resumed.path();
  {
    TempDir scratch;
    Program killed(GeneratorProgram(), args, scratch.path(), {}, scratch.path());
    // Killed once some days are written, long before all are.
    ASSERT_TRUE(testing::WaitFor(
        [&] { return testing::EntriesOf(resumed.path()).size() >= 3 || !killed.Running(); }));
    killed.Signal(SIGKILL);
    killed.Wait();
  }
  const size_t before = testing::EntriesOf(resumed.path()).size();
  args.insert(args.end(), {"--existing", "skip"});
  const Outcome resume = RunProgram(args);
  ASSERT_EQ(resume.code, 0) << resume.err;
  EXPECT_EQ(Snapshot(resumed.path()), Snapshot(whole.path())) << before << " files before";
}

// Also when the platform the environment names needs a display or does not
// exist: the toolkit would abort the process.
TEST(CommandLine, WithoutADisplayTheWindowSaysHowToGenerateWithoutOne) {
  for (const std::string platform : {"", "wayland", "xcb", "wayland;xcb", "xcb:a=b", "bogus"}) {
    const Outcome outcome =
        RunProgram({}, -1,
                   platform.empty() ? std::vector<std::string>{}
                                    : std::vector<std::string>{"QT_QPA_PLATFORM=" + platform});
    EXPECT_EQ(outcome.code, 2) << platform;
    EXPECT_NE(outcome.err.find("the window needs a display"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("tly-generator run --out DIR"), std::string::npos) << outcome.err;
  }
  const Outcome unreachable = RunProgram({}, -1, {"DISPLAY=:97"});
  EXPECT_EQ(unreachable.code, 2);
  EXPECT_NE(unreachable.err.find(":97 does not answer"), std::string::npos) << unreachable.err;
  const Outcome studio = RunProgram({"studio"}, -1, {"QT_QPA_PLATFORM=bogus"});
  EXPECT_EQ(studio.code, 2);
  EXPECT_NE(studio.err.find("studio: the studio needs a display"), std::string::npos) << studio.err;
}

}  // namespace
}  // namespace tly
