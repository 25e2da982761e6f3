// Scenarios on the command line: the example checks, a bad file is named
// with its line and key, and a day generated live at high speed is the
// backfill's day, byte for byte but for its "#M" line.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "testutil/program_process.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::TempDir;

using Outcome = testing::ProgramOutcome;

Outcome RunProgram(const std::vector<std::string>& args, const std::string& work_dir) {
  return testing::RunGeneratorToEnd(args, work_dir);
}

std::string WithoutUpdateLine(const std::string& file) {
  std::istringstream lines(file);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("#M ", 0) != 0) kept += line + "\n";
  }
  return kept;
}

TEST(ScenarioCommand, TheExampleChecksAndABadFileIsNamedWithLineAndKey) {
  TempDir dir;
  const Outcome example = RunProgram({"scenario", "--example"}, dir.path());
  ASSERT_EQ(example.code, 0);
  testing::WriteBytes(dir.File("example.toml"), example.out);
  const Outcome check = RunProgram(
      {"scenario", "--check", "example.toml", "--from", "2027-01-04", "--to", "2027-01-10"},
      dir.path());
  EXPECT_EQ(check.code, 0) << check.err;
  EXPECT_NE(check.out.find("example.toml: 4 sites, seed 2027; OK"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("7 days, 28 files"), std::string::npos) << check.out;

  testing::WriteBytes(dir.File("bad.toml"), "[[site]]\nname = \"a\"\nshop_code = \"x y\"\n");
  const Outcome bad = RunProgram({"scenario", "--check", "bad.toml"}, dir.path());
  EXPECT_EQ(bad.code, 2);
  EXPECT_EQ(bad.err.rfind("tly-generator scenario: bad.toml:3: site[1].shop_code: ", 0), 0u)
      << bad.err;
  const Outcome refused = RunProgram({"backfill", "--scenario", "bad.toml", "--out", ".", "--from",
                                      "2027-01-01", "--to", "2027-01-01"},
                                     dir.path());
  EXPECT_EQ(refused.code, 2);
  EXPECT_NE(refused.err.find("bad.toml:3: site[1].shop_code"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("a"))) << "nothing written";
}

// Dates and moments a scenario command cannot use are refused before
// anything is written, with the true reason: a day that does not exist, an
// hour past 23, a site's local day outside the years a file name tells apart.
TEST(ScenarioCommand, DatesAndMomentsThatCannotBeAreRefusedWithTheReason) {
  TempDir dir;
  testing::WriteBytes(dir.File("ex.toml"), RunProgram({"scenario", "--example"}, dir.path()).out);
  std::filesystem::create_directory(dir.File("out"));
  const std::vector<std::string> backfill = {"backfill", "--scenario", "ex.toml", "--out", "out"};
  const std::vector<std::string> run = {"run", "--scenario", "ex.toml", "--out", "out"};
  const struct {
    std::vector<std::string> command;
    std::vector<std::string> options;
    const char* says;
  } cases[] = {
      {backfill,
       {"--from", "2027-02-30", "--to", "2027-03-01"},
       "backfill: from date 2027-02-30 does not exist"},
      {backfill,
       {"--from", "2027-02-01", "--to", "2027-02-29"},
       "to date 2027-02-29 does not exist"},
      {backfill,
       {"--from", "0000-01-01", "--to", "2027-03-01"},
       "from date 0000-01-01 does not exist"},
      {{"scenario", "--check", "ex.toml"},
       {"--from", "2027-02-30", "--to", "2027-03-01"},
       "scenario: from date 2027-02-30 does not exist"},
      {run,
       {"--start", "2027-01-01T25:00"},
       "--start 2027-01-01T25:00: the hour 25 is not 00 to 23"},
      {run,
       {"--start", "1990-12-31T23:50", "--end", "1991-01-01T01:00"},
       "--start 1990-12-31T23:50: the local day of site test-bench is outside the years 1991 to "
       "2090"},
      // 16:00 UTC is already 2091 in Tokyo.
      {run,
       {"--start", "2090-12-31T10:00", "--end", "2090-12-31T16:00"},
       "--end 2090-12-31T16:00: the local day of site shinjuku-east is outside the years"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.command;
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome refused = RunProgram(args, dir.path());
    EXPECT_EQ(refused.code, 2) << c.says << "\n" << refused.err;
    EXPECT_NE(refused.err.find(c.says), std::string::npos) << c.says << "\n  got: " << refused.err;
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("out"))) << c.says;
  }

  // Without --end, a live run stops by itself before the first site's day
  // past 2090 (Tokyo's midnight at 15:00 UTC).
  testing::Program open_ended(testing::GeneratorProgram(),
                              {"run", "--scenario", "ex.toml", "--out", "out", "--start",
                               "2090-12-31T14:00", "--speed", "1000000"},
                              dir.path(), {}, dir.path());
  ASSERT_TRUE(testing::WaitFor([&] { return !open_ended.Running(); })) << "still running";
  EXPECT_EQ(open_ended.Wait(), 0) << open_ended.Err();
  EXPECT_NE(open_ended.Out().find("Stopped at 2090-12-31T14:59:59 UTC"), std::string::npos)
      << open_ended.Out();
  EXPECT_FALSE(std::filesystem::exists(dir.File("out/shinjuku-east/910101.tly")));
}

// Two days live at a million times real speed, from the middle of the first
// day (counted from its midnight all the same) to after the last site's
// midnight: both days, in Paris (the day the clocks go back) as in Tokyo, are
// the backfill's days. A site whose layout changed since is not continued.
TEST(ScenarioCommand, ADayGeneratedLiveIsTheBackfillsDay) {
  TempDir dir;
  const Outcome example = RunProgram({"scenario", "--example"}, dir.path());
  testing::WriteBytes(dir.File("example.toml"), example.out);
  std::filesystem::create_directory(dir.File("live"));
  std::filesystem::create_directory(dir.File("history"));
  const Outcome live =
      RunProgram({"run", "--scenario", "example.toml", "--out", "live", "--start",
                  "2027-10-30T12:00", "--end", "2027-11-01T00:00", "--speed", "1000000"},
                 dir.path());
  ASSERT_EQ(live.code, 0) << live.err;
  EXPECT_NE(live.out.find("rivoli: day 271031.tly finished, now 271101.tly"), std::string::npos)
      << live.out;
  const Outcome history = RunProgram({"backfill", "--scenario", "example.toml", "--out", "history",
                                      "--from", "2027-10-30", "--to", "2027-10-31"},
                                     dir.path());
  ASSERT_EQ(history.code, 0) << history.err;
  for (const char* site : {"rivoli", "la-defense", "shinjuku-east", "test-bench"}) {
    for (const char* day : {"/271030.tly", "/271031.tly"}) {
      const std::string name = site + std::string(day);
      const std::string history_file = ReadBytes(dir.File("history/" + name));
      ASSERT_FALSE(history_file.empty()) << name;
      EXPECT_EQ(WithoutUpdateLine(ReadBytes(dir.File("live/" + name))),
                WithoutUpdateLine(history_file))
          << name;
    }
  }

  std::string changed = example.out;
  changed.replace(changed.find("device = \"RV9\"") + 10, 3, "TLY08");
  testing::WriteBytes(dir.File("changed.toml"), changed);
  const std::string file = "live/la-defense/271101.tly";
  const std::string before = ReadBytes(dir.File(file));
  const Outcome refused = RunProgram({"run", "--scenario", "changed.toml", "--out", "live",
                                      "--start", "2027-11-01T00:00", "--seconds", "0"},
                                     dir.path());
  EXPECT_EQ(refused.code, 2);
  EXPECT_NE(refused.err.find(file + " has another layout than the site la-defense"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(ReadBytes(dir.File(file)), before);

  // A file whose counts are no beginning of its day is continued all the
  // same, and said so.
  const std::string edited_file = dir.File("live/rivoli/271101.tly");
  std::string edited = ReadBytes(edited_file);
  edited.replace(edited.find("\t00:00\t ") + 8, 1, "9");
  testing::WriteBytes(edited_file, edited);
  const Outcome continued = RunProgram({"run", "--scenario", "example.toml", "--out", "live",
                                        "--start", "2027-11-01T00:00", "--seconds", "0"},
                                       dir.path());
  EXPECT_EQ(continued.code, 0) << continued.err;
  EXPECT_NE(continued.err.find("continuing live/rivoli/271101.tly, which is not sound: its counts "
                               "are not those of this scenario's day so far"),
            std::string::npos)
      << continued.err;
}

// With faults, the last save of a day a live run finishes is the day as the
// site delivers it: the backfill's faulty day but for "#M", and the same
// truth, which the run adds to OUT/faults.jsonl. So it is after a run stopped
// in the middle of a day and a second one over the same span: the files
// continued and left as they were, the truth listed once.
TEST(ScenarioCommand, ADayFinishedLiveHasTheBackfillsFaultsAndTruth) {
  TempDir dir;
  std::string text = RunProgram({"scenario", "--example"}, dir.path()).out;
  for (size_t at = text.find(" = 0 ", text.find("[faults]")); at < text.find("# A shop with");
       at = text.find(" = 0 ", at + 1)) {
    text.replace(at, 5, " = 0.5 ");
  }
  testing::WriteBytes(dir.File("faulty.toml"), text);
  std::filesystem::create_directory(dir.File("live"));
  std::filesystem::create_directory(dir.File("history"));
  for (const char* end : {"2027-10-31T12:00", "2027-11-01T00:00"}) {
    const Outcome live = RunProgram({"run", "--scenario", "faulty.toml", "--out", "live", "--start",
                                     "2027-10-30T12:00", "--end", end, "--speed", "1000000"},
                                    dir.path());
    ASSERT_EQ(live.code, 0) << live.err;
  }
  const Outcome history = RunProgram({"backfill", "--scenario", "faulty.toml", "--out", "history",
                                      "--from", "2027-10-30", "--to", "2027-10-31"},
                                     dir.path());
  ASSERT_EQ(history.code, 0) << history.err;
  for (const char* site : {"rivoli", "la-defense", "shinjuku-east", "test-bench"}) {
    for (const char* day : {"/271030.tly", "/271031.tly"}) {
      const std::string name = site + std::string(day);
      const bool written = std::filesystem::exists(dir.File("history/" + name));
      EXPECT_EQ(std::filesystem::exists(dir.File("live/" + name)), written) << name;
      if (written) {
        EXPECT_EQ(WithoutUpdateLine(ReadBytes(dir.File("live/" + name))),
                  WithoutUpdateLine(ReadBytes(dir.File("history/" + name))))
            << name;
      }
    }
  }
  const std::string whole = ReadBytes(dir.File("history/faults.jsonl"));
  ASSERT_FALSE(whole.empty());
  std::istringstream lines(ReadBytes(dir.File("live/faults.jsonl")));
  std::string of_those_days;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("/271030.tly\"") != std::string::npos ||
        line.find("/271031.tly\"") != std::string::npos) {
      of_those_days += line + "\n";
    }
  }
  EXPECT_EQ(of_those_days, whole);
}

}  // namespace
}  // namespace tly
