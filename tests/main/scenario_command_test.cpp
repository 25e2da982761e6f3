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
  const Outcome refused =
      RunProgram({"backfill", "--scenario", "bad.toml", "--out", ".", "--from", "2027-01-01",
                  "--to", "2027-01-01"},
                 dir.path());
  EXPECT_EQ(refused.code, 2);
  EXPECT_NE(refused.err.find("bad.toml:3: site[1].shop_code"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("a"))) << "nothing written";
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
  const Outcome continued =
      RunProgram({"run", "--scenario", "example.toml", "--out", "live", "--start",
                  "2027-11-01T00:00", "--seconds", "0"},
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
