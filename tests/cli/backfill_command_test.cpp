#include "cli/backfill_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "dayfile/day_file_check.h"
#include "scenario/scenario_file.h"
#include "testutil/subcommand_runner.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::TempDir;

testing::CommandOutcome Backfill(std::vector<std::string> args, const TempDir& scratch) {
  return testing::RunSubcommand<BackfillOptions>(AddBackfillCommand, RunBackfillCommand,
                                                 std::move(args), scratch);
}

size_t EntryCount(const std::string& dir) {
  return testing::EntriesOf(dir).size();
}

TEST(BackfillCommand, WritesEveryDayAndOneSummaryLineWhenNotOnATerminal) {
  TempDir scratch;
  TempDir out;
  const testing::CommandOutcome outcome =
      Backfill({"backfill", "--out", out.path(), "--from", "2026-12-31", "--to", "2027-01-01",
                "--seed", "4294967295"},
               scratch);
  ASSERT_EQ(outcome.exit_code, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out.find('\r'), std::string::npos);
  EXPECT_EQ(outcome.out.find('\n'), outcome.out.size() - 1) << outcome.out;
  EXPECT_NE(outcome.out.find("2 days, 86400 ticks"), std::string::npos) << outcome.out;
  EXPECT_EQ(EntryCount(out.path()), 2u);
  for (const char* name : {"261231.tly", "270101.tly"}) {
    const DayFileCheck check = CheckDayFile(ReadBytes(out.File(name)));
    EXPECT_TRUE(check.ok) << name << ": " << check.problem;
  }

  // Days kept are not counted as written.
  std::vector<std::string> skip = {"backfill",   "--out",      out.path(),   "--from",
                                   "2026-12-31", "--to",       "2027-01-01", "--seed",
                                   "4294967295", "--existing", "skip"};
  const testing::CommandOutcome kept = Backfill(skip, scratch);
  ASSERT_EQ(kept.exit_code, 0) << kept.err;
  EXPECT_EQ(kept.out.rfind("0 days, 0 ticks written to " + out.path(), 0), 0u) << kept.out;
  EXPECT_NE(kept.out.find("; 2 days kept as they were"), std::string::npos) << kept.out;

  // The seed is the random source's initial state: another seed, other files.
  TempDir seed0;
  ASSERT_EQ(
      Backfill({"backfill", "--out", seed0.path(), "--from", "2026-12-31", "--to", "2026-12-31"},
               scratch)
          .exit_code,
      0);
  EXPECT_NE(ReadBytes(seed0.File("261231.tly")), ReadBytes(out.File("261231.tly")));
}

TEST(BackfillCommand, BadArgumentsExitWithTwoBeforeTouchingAnyFile) {
  TempDir scratch;
  TempDir out;
  const std::string dir = out.path();
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"backfill", "--out", dir, "--from", "2026-02-30", "--to", "2026-03-01"}, "does not exist"},
      {{"backfill", "--out", dir, "--from", "2026-3-1", "--to", "2026-03-01"}, "YYYY-MM-DD"},
      {{"backfill", "--out", dir, "--from", "2026-03-01", "--to", "yesterday"}, "YYYY-MM-DD"},
      {{"backfill", "--out", dir, "--from", "2026-03-02", "--to", "2026-03-01"}, "before"},
      {{"backfill", "--out", dir, "--from", "2091-01-01", "--to", "2091-01-02"}, "outside"},
      {{"backfill", "--out", dir + "/none", "--from", "2026-03-01", "--to", "2026-03-01"},
       "does not exist"},
      {{"backfill", "--out", dir, "--from", "2026-03-01", "--to", "2026-03-01", "--seed", "-1"},
       "--seed"},
      {{"backfill", "--out", dir, "--from", "2026-03-01", "--to", "2026-03-01", "--seed",
        "4294967296"},
       "--seed"},
      {{"backfill", "--out", dir, "--from", "2026-03-01", "--to", "2026-03-01", "--seed", "7x"},
       "--seed"},
      {{"backfill", "--out", dir, "--from", "2026-03-01"}, "--to"},
      {{"backfill", "--out", dir, "--from", "2026-03-01", "--to", "2026-03-01", "--jobs", "0"},
       "--jobs 0 is not a whole number from 1 to 256"},
      {{"backfill", "--out", dir, "--from", "2026-03-01", "--to", "2026-03-01", "--jobs", "257"},
       "--jobs 257 is not a whole number from 1 to 256"},
      {{"backfill", "--out", dir, "--from", "2026-03-01", "--to", "2026-03-01", "--jobs", " 2"},
       "--jobs"},
  };
  for (const auto& c : cases) {
    const testing::CommandOutcome outcome = Backfill(c.args, scratch);
    EXPECT_EQ(outcome.exit_code, 2) << c.says;
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.out, "") << c.says;
  }
  EXPECT_EQ(EntryCount(dir), 0u);
}

// What stands under a day file's name and cannot be continued or kept as
// the day asked for is refused before anything is written: an entry that is
// no file, a site's file of another layout. A site directory that cannot be
// made fails with nothing written.
TEST(BackfillCommand, WhatCannotBeContinuedOrKeptIsRefused) {
  TempDir scratch;
  TempDir out;
  std::filesystem::create_directory(out.File("261207.tly"));
  testing::WriteBytes(out.File("s.toml"), std::string(ExampleScenario()));
  std::string changed(ExampleScenario());
  changed.replace(changed.find("device = \"RV9\"") + 10, 3, "TLY08");
  testing::WriteBytes(out.File("changed.toml"), changed);
  const std::string sites = out.File("sites");
  std::filesystem::create_directory(sites);
  const std::vector<std::string> scenario = {"backfill", "--scenario", out.File("s.toml"), "--out",
                                             sites,      "--from",     "2027-01-05"};
  std::vector<std::string> first = scenario;
  first.insert(first.end(), {"--to", "2027-01-05", "--jobs",
                             std::to_string(std::thread::hardware_concurrency() + 1)});
  const testing::CommandOutcome written = Backfill(first, scratch);
  ASSERT_EQ(written.exit_code, 0) << written.err;
  EXPECT_EQ(written.err, "") << "as many threads as asked for, without a word";
  std::filesystem::create_directory(sites + "/rivoli/270106.tly");
  TempDir blocked;
  testing::WriteBytes(blocked.File("rivoli"), "");

  const std::vector<std::string> plain = {"backfill",   "--out", out.path(),  "--from",
                                          "2026-12-07", "--to",  "2026-12-08"};
  const auto with = [](std::vector<std::string> args, std::vector<std::string> more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const struct {
    std::vector<std::string> args;
    int exit_code;
    std::string says;
  } cases[] = {
      {plain, 2, out.File("261207.tly") + " is a directory, not a day file"},
      {with(plain, {"--existing", "skip"}), 2, "261207.tly is a directory"},
      {with(plain, {"--existing", "continue"}), 2, "261207.tly is a directory"},
      {with(scenario, {"--to", "2027-01-06", "--existing", "skip"}), 2,
       sites + "/rivoli/270106.tly is a directory, not a day file"},
      {{"backfill", "--scenario", out.File("changed.toml"), "--out", sites, "--from", "2027-01-05",
        "--to", "2027-01-05", "--existing", "continue"},
       2,
       sites + "/la-defense/270105.tly has another layout than the site la-defense of the "
               "scenario (its device type is \"RV9\", the site's \"TLY08\")"},
      {{"backfill", "--scenario", out.File("s.toml"), "--out", blocked.path(), "--from",
        "2027-01-05", "--to", "2027-01-05"},
       1,
       "(no site-day was written)"},
  };
  const std::vector<std::string> before = testing::EntriesOf(sites + "/la-defense");
  const std::string la_defense = ReadBytes(sites + "/la-defense/270105.tly");
  for (const auto& c : cases) {
    const testing::CommandOutcome outcome = Backfill(c.args, scratch);
    EXPECT_EQ(outcome.exit_code, c.exit_code) << c.says;
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.out, "") << c.says;
  }
  EXPECT_EQ(EntryCount(out.path()), 4u);
  EXPECT_EQ(testing::EntriesOf(sites + "/la-defense"), before);
  EXPECT_EQ(ReadBytes(sites + "/la-defense/270105.tly"), la_defense);
  EXPECT_EQ(EntryCount(sites + "/rivoli"), 2u) << "its day file and the directory";
}

TEST(BackfillCommand, HelpNamesEveryOption) {
  TempDir scratch;
  const testing::CommandOutcome outcome = Backfill({"backfill", "--help"}, scratch);
  EXPECT_EQ(outcome.exit_code, 0);
  for (const char* text :
       {"--out", "--from", "--to", "--seed", "--existing", "YYYY-MM-DD", "0 to 4294967295",
        "23:59:58", "continue", "replace", "skip", "--jobs", "1 to 256"}) {
    EXPECT_NE(outcome.out.find(text), std::string::npos) << text << "\n" << outcome.out;
  }
}

// Continuing a file whose seal no longer matches (or whose rows are bad) is
// said on stderr, file and first problem, and done all the same.
TEST(BackfillCommand, ContinuingAFileThatIsNotSoundIsSaid) {
  TempDir scratch;
  TempDir out;
  const std::vector<std::string> args = {"backfill",   "--out",      out.path(),
                                         "--from",     "2026-12-07", "--to",
                                         "2026-12-07", "--existing", "continue"};
  ASSERT_EQ(Backfill(args, scratch).exit_code, 0);
  testing::CommandOutcome outcome = Backfill(args, scratch);
  ASSERT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.err, "") << "a sound file goes without a word";

  const std::string file = out.File("261207.tly");
  std::string edited = ReadBytes(file);
  edited.replace(edited.find("\t00:15\t ") + 8, 1, "9");
  testing::WriteBytes(file, edited);
  outcome = Backfill(args, scratch);
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.err.rfind("tly-generator backfill: continuing " + file +
                                  ", which is not sound: line 21: the seal",
                              0),
            0u)
      << outcome.err;
  EXPECT_TRUE(CheckDayFile(ReadBytes(file)).ok) << "continued and sealed anew";

  // The same for the sites of a scenario: a row of another shop.
  TempDir sites;
  testing::WriteBytes(sites.File("s.toml"), std::string(ExampleScenario()));
  const std::vector<std::string> scenario_args = {
      "backfill",   "--scenario", sites.File("s.toml"), "--out",      sites.path(), "--from",
      "2027-01-05", "--to",       "2027-01-05",         "--existing", "continue"};
  ASSERT_EQ(Backfill(scenario_args, scratch).exit_code, 0);
  const std::string site_file = sites.File("rivoli/270105.tly");
  std::string other_shop = ReadBytes(site_file);
  other_shop.replace(other_shop.find("101\t05/01/2027\t12:00"), 3, "102");
  testing::WriteBytes(site_file, other_shop);
  outcome = Backfill(scenario_args, scratch);
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_NE(outcome.err.find("continuing " + site_file + ", which is not sound: line "),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(outcome.err.find("la-defense"), std::string::npos) << outcome.err;
}

// Days are generated on several threads, ahead of the one being written:
// the message names the day that failed, and the days before it are whole.
TEST(BackfillCommand, AFailedDayInTheMiddleIsNamed) {
  TempDir scratch;
  TempDir out;
  std::filesystem::create_directory(out.File("260306.tly"));
  const testing::CommandOutcome outcome =
      Backfill({"backfill", "--out", out.path(), "--from", "2026-03-01", "--to", "2026-03-20",
                "--existing", "replace", "--jobs", "8"},
               scratch);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.err.find("260306.tly"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("(stopped at 2026-03-06; 5 days of 20 done)"), std::string::npos)
      << outcome.err;
  for (const char* name : {"260301.tly", "260302.tly", "260303.tly", "260304.tly", "260305.tly"}) {
    EXPECT_TRUE(CheckDayFile(ReadBytes(out.File(name))).ok) << name;
  }

  // The sites of a scenario stop the same way, site by site and day by day:
  // rivoli's three days, then la-defense's first.
  testing::WriteBytes(out.File("s.toml"), std::string(ExampleScenario()));
  std::filesystem::create_directories(out.File("sites/la-defense/270106.tly"));
  const testing::CommandOutcome sites =
      Backfill({"backfill", "--scenario", out.File("s.toml"), "--out", out.File("sites"), "--from",
                "2027-01-05", "--to", "2027-01-07", "--existing", "replace", "--jobs", "8"},
               scratch);
  EXPECT_EQ(sites.exit_code, 1);
  EXPECT_NE(sites.err.find("(stopped at 2027-01-06 of la-defense; 4 site-days of 12 done)"),
            std::string::npos)
      << sites.err;
}

}  // namespace
}  // namespace tly
