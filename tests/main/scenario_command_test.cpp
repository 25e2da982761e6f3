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

// Two days live at a million times real speed, from before the first site's
// midnight to after the last one's: the whole day in between, in Paris (the
// day the clocks go back) as in Tokyo, is the backfill's day.
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
  const Outcome history = RunProgram({"backfill", "--scenario", "example.toml", "--out",
                                      "history", "--from", "2027-10-31", "--to", "2027-10-31"},
                                     dir.path());
  ASSERT_EQ(history.code, 0) << history.err;
  for (const char* site : {"rivoli", "la-defense", "shinjuku-east", "test-bench"}) {
    const std::string live_file = ReadBytes(dir.File(std::string("live/") + site + "/271031.tly"));
    const std::string history_file =
        ReadBytes(dir.File(std::string("history/") + site + "/271031.tly"));
    ASSERT_FALSE(history_file.empty()) << site;
    EXPECT_EQ(WithoutUpdateLine(live_file), WithoutUpdateLine(history_file)) << site;
  }
}

// With faults, the last save of a day a live run finishes is the day as the
// site delivers it: the backfill's faulty day but for "#M", and the same
// truth, which the run adds to OUT/faults.jsonl.
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
  const Outcome live =
      RunProgram({"run", "--scenario", "faulty.toml", "--out", "live", "--start",
                  "2027-10-30T12:00", "--end", "2027-11-01T00:00", "--speed", "1000000"},
                 dir.path());
  ASSERT_EQ(live.code, 0) << live.err;
  const Outcome history = RunProgram({"backfill", "--scenario", "faulty.toml", "--out",
                                      "history", "--from", "2027-10-31", "--to", "2027-10-31"},
                                     dir.path());
  ASSERT_EQ(history.code, 0) << history.err;
  for (const char* site : {"rivoli", "la-defense", "shinjuku-east", "test-bench"}) {
    const std::string name = std::string(site) + "/271031.tly";
    const bool written = std::filesystem::exists(dir.File("history/" + name));
    EXPECT_EQ(std::filesystem::exists(dir.File("live/" + name)), written) << name;
    if (written) {
      EXPECT_EQ(WithoutUpdateLine(ReadBytes(dir.File("live/" + name))),
                WithoutUpdateLine(ReadBytes(dir.File("history/" + name))))
          << name;
    }
  }
  const std::string whole = ReadBytes(dir.File("history/faults.jsonl"));
  ASSERT_FALSE(whole.empty());
  std::istringstream lines(ReadBytes(dir.File("live/faults.jsonl")));
  std::string of_that_day;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("/271031.tly\"") != std::string::npos) of_that_day += line + "\n";
  }
  EXPECT_EQ(of_that_day, whole);
}

}  // namespace
}  // namespace tly
