#include "cli/verify_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "backfill/backfill.h"
#include "backfill/scenario_backfill.h"
#include "cli/command_style.h"
#include "faults/fault_kind.h"
#include "faults/truth_score.h"
#include "scenario/scenario_file.h"
#include "testutil/subcommand_runner.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

testing::CommandOutcome Verify(std::vector<std::string> args, const TempDir& scratch) {
  args.insert(args.begin(), "verify");
  return testing::RunSubcommand<VerifyOptions>(AddVerifyCommand, RunVerifyCommand, std::move(args),
                                               scratch);
}

TEST(VerifyCommand, ReportsEachFileAndTheWorstOutcome) {
  TempDir scratch;
  TempDir dir;
  BackfillRequest request;
  request.out_dir = dir.path();
  request.from = {2026, 12, 7};
  request.to = {2026, 12, 8};
  Backfill(request);
  const std::string good = dir.File("261207.tly");
  const std::string bad = dir.File("261208.tly");
  std::string lf_ends;
  for (char c : ReadBytes(bad)) {
    if (c != '\r') lf_ends += c;
  }
  WriteBytes(bad, lf_ends);

  testing::CommandOutcome outcome = Verify({good}, scratch);
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.out, good + ": OK\n");

  // The first of the problems --json lists: one for all the lines.
  const std::string lf_problem = "line 1 ends with LF without CR (and 118 more lines)";
  outcome = Verify({bad, good}, scratch);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_EQ(outcome.out, bad + ": BAD: " + lf_problem + "\n" + good + ": OK\n");

  // An unreadable file is reported on stderr; the others are still checked.
  const std::string missing = dir.File("261209.tly");
  outcome = Verify({good, missing, bad}, scratch);
  EXPECT_EQ(outcome.exit_code, 2);
  EXPECT_EQ(outcome.out, good + ": OK\n" + bad + ": BAD: " + lf_problem + "\n");
  EXPECT_NE(outcome.err.find("cannot read " + missing), std::string::npos) << outcome.err;
  EXPECT_EQ(Verify({dir.path()}, scratch).exit_code, 2);

  EXPECT_EQ(Verify({}, scratch).exit_code, 2);
}

// What is no day file or no truth is refused (exit code 2) before it takes
// the memory: a file larger than any day file is refused by its size, a
// device or a directory given as the truth is never read.
TEST(VerifyCommand, RefusesWhatIsNoDayFileOrNoTruth) {
  TempDir scratch;
  TempDir dir;
  BackfillRequest request;
  request.out_dir = dir.path();
  request.from = request.to = {2026, 12, 7};
  Backfill(request);
  const std::string good = dir.File("261207.tly");
  const std::string at_bound = dir.File("261208.tly");
  const std::string beyond = dir.File("261209.tly");
  for (const auto& [file, size] :
       {std::pair{at_bound, kMaxDayFileBytes}, std::pair{beyond, kMaxDayFileBytes + 1}}) {
    WriteBytes(file, "");
    std::filesystem::resize_file(file, size);
  }
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{at_bound}, 1, ""},
      {{beyond, good}, 2, "cannot read " + beyond + ": larger than 1 MiB"},
      {{"--truth", "/dev/zero", good},
       2,
       "cannot read the truth file /dev/zero: not a regular file"},
      {{"--truth", dir.path(), good},
       2,
       "cannot read the truth file " + dir.path() + ": Is a directory"},
  };
  for (const Case& c : cases) {
    const testing::CommandOutcome outcome = Verify(c.args, scratch);
    EXPECT_EQ(outcome.exit_code, c.exit_code) << c.args[0] << outcome.err;
    EXPECT_NE(outcome.err.find(c.error), std::string::npos) << outcome.err;
    if (c.args.back() == good) {
      EXPECT_NE(outcome.out.find(good + ": OK"), std::string::npos) << "the others are checked";
    }
  }
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// The example scenario and a QDX site, with every fault kind at `rate` (at
// most 0.25 for those that leave no file, 0.05 for offline periods),
// backfilled into `dir` over two weeks across the end of summer time.
std::vector<std::string> FaultyBackfill(const std::string& dir, const std::string& rate) {
  std::string text = std::string(ExampleScenario()) +
                     "[[site]]\nname = \"gare\"\nshop_code = \"G1\"\nprofile = \"transit\"\n"
                     "[site.layout]\ndevice = \"QDX\"\ndoors = [{ in = 1, out = 3 }, "
                     "{ in = 2, out = 4 }]\n";
  for (size_t at = text.find(" = 0 ", text.find("[faults]")); at < text.find("# A shop with");
       at = text.find(" = 0 ", at + 1)) {
    const size_t line = text.rfind('\n', at) + 1;
    const std::string kind = text.substr(line, at - line);
    const double cap = kind == "offline_days"                          ? 0.05
                       : kind == "missing_day" || kind == "empty_file" ? 0.25
                                                                       : 1;
    text.replace(at, 5, " = " + std::to_string(std::min(std::stod(rate), cap)) + " ");
  }
  const Scenario scenario = ParseScenario(text, "faulty.toml");
  ScenarioBackfillRequest request;
  request.scenario = &scenario;
  request.out_dir = dir;
  request.from = {2027, 10, 25};
  request.to = {2027, 11, 7};
  request.seed = scenario.seed;
  request.jobs = 2;
  ScenarioBackfill(request);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.path().extension() == ".tly") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Every fault after sealing is found, and nothing is raised that no planted
// fault explains, in faulty and in clean site-days alike.
TEST(VerifyCommand, JsonNamesEveryProblemAndTheTruthScoresTheFindings) {
  TempDir scratch;
  TempDir dir;
  std::vector<std::string> files = FaultyBackfill(dir.path(), "0.3");
  const std::string missing = dir.File("rivoli/991231.tly");
  files.push_back(missing);
  std::vector<std::string> args = {"--json", "--truth", dir.File("faults.jsonl")};
  args.insert(args.end(), files.begin(), files.end());
  const testing::CommandOutcome outcome = Verify(args, scratch);
  EXPECT_EQ(outcome.exit_code, 2) << "a file could not be read";
  EXPECT_NE(outcome.err.find("cannot read " + missing), std::string::npos) << outcome.err;
  const std::vector<nlohmann::json> lines = JsonLines(outcome.out);
  ASSERT_EQ(lines.size(), files.size() + 1);
  int bad = 0;
  int problems = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(lines[i]["file"], files[i]);
    const std::string verdict = lines[i]["verdict"];
    EXPECT_EQ(verdict == "OK", lines[i]["problems"].empty()) << lines[i];
    bad += verdict == "BAD" ? 1 : 0;
    problems += static_cast<int>(lines[i]["problems"].size());
    for (const nlohmann::json& problem : lines[i]["problems"]) {
      EXPECT_TRUE(problem["line"].is_number() && problem["kind"].is_string()) << problem;
    }
  }
  EXPECT_EQ(lines[files.size() - 1]["verdict"], "UNREADABLE");
  EXPECT_GT(bad, 10);
  EXPECT_GT(problems, bad) << "more than the first problem of each file";

  const nlohmann::json& score = lines.back();
  ASSERT_EQ(score["truth"], dir.File("faults.jsonl"));
  std::map<std::string, nlohmann::json> kinds;
  for (const nlohmann::json& kind : score["kinds"]) kinds[kind["kind"]] = kind;
  ASSERT_EQ(kinds.size(), kFaultKindCount + 1);
  // Kinds a reader sees in every file they strike (a clock skew of the last
  // rows forward, or a count fault, may leave a file sound).
  for (const char* always :
       {"empty_file", "truncated", "nul_padding", "counter_wrap", "duplicate_row",
        "wrong_date_name", "stray_byte", "bad_seal", "missing_header_line", "lf_line_ends"}) {
    EXPECT_GT(kinds[always]["planted"], 0) << always;
    EXPECT_EQ(kinds[always]["found"], kinds[always]["planted"]) << always;
  }
  EXPECT_GT(kinds["missing_day"]["planted"], 0);
  for (const auto& [name, kind] : kinds) {
    EXPECT_EQ(kind["false_alarms"], 0) << name;
    EXPECT_EQ(kind["missed"], kind["planted"].get<int>() - kind["found"].get<int>());
    // What the run measured: seen when one was found.
    if (kind["planted"] == 0) {
      EXPECT_TRUE(kind["seen_by_verify"].is_null()) << name;
    } else {
      EXPECT_EQ(kind["seen_by_verify"], kind["found"].get<int>() > 0) << name;
    }
  }

  // The same scenario without faults: every file OK.
  TempDir clean;
  std::vector<std::string> clean_files = FaultyBackfill(clean.path(), "0");
  EXPECT_FALSE(std::filesystem::exists(clean.File("faults.jsonl")));
  const testing::CommandOutcome sound = Verify(clean_files, scratch);
  EXPECT_EQ(sound.exit_code, 0) << sound.out;

  // Every kind at once at 1: still no finding that nothing planted explains.
  TempDir all;
  std::vector<std::string> all_files = FaultyBackfill(all.path(), "1");
  all_files.insert(all_files.begin(), {"--json", "--truth", all.File("faults.jsonl")});
  const std::vector<nlohmann::json> scored = JsonLines(Verify(all_files, scratch).out);
  for (const nlohmann::json& kind : scored.back()["kinds"]) {
    EXPECT_EQ(kind["false_alarms"], 0) << kind;
  }

  // The text table, and a truth that is no truth.
  testing::WriteBytes(scratch.File("bad.jsonl"), "{\"kind\": \"spike\"}\n");
  const testing::CommandOutcome table =
      Verify({"--truth", dir.File("faults.jsonl"), files[0], files[1]}, scratch);
  EXPECT_NE(table.out.find("kind                  planted  found  missed  false alarms"),
            std::string::npos)
      << table.out;
  const testing::CommandOutcome refused =
      Verify({"--truth", scratch.File("bad.jsonl"), files[0]}, scratch);
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_NE(refused.err.find("bad.jsonl:1: not a fault record"), std::string::npos) << refused.err;
}

// Which planted fault a finding is credited to: one its kind may cause; an
// occupancy below zero only from the fault's first quarter hour on (but in a
// file whose rows are re-stamped); else a false alarm of the kind named
// after the finding, or of "other". A day without a file counts where its
// site was read; an occupancy below zero is no false alarm where the truth
// lists missed passages.
TEST(TruthScore, CreditsEachFindingToAFaultThatExplainsIt) {
  const std::string spike_late = R"({"file":"a/270101.tly","kind":"spike","first_quarter":50})";
  const std::string swap_early =
      R"({"file":"a/270101.tly","kind":"swapped_door","first_quarter":30})";
  const std::string skew = R"({"file":"a/270101.tly","kind":"clock_skew","first_quarter":60})";
  const std::string missing = R"({"file":"a/270102.tly","kind":"missing_day","seal_matches":null})";
  const std::string elsewhere =
      R"({"file":"b/270102.tly","kind":"missing_day","seal_matches":null})";
  // A counter that missed passages explains an occupancy below zero.
  std::string none_missed = "[0";
  for (int q = 1; q < 96; ++q) none_missed += ",0";
  const std::string missed = R"({"file":"a/270101.tly","kind":"missed_passages","channels":[1],)"
                             R"("missed":[)" +
                             none_missed + "]]}";
  const CheckedFile occupancy{"out/a/270101.tly", {{9, FindingKind::kNegativeOccupancy, ""}}, {40}};
  const CheckedFile header{"out/a/270101.tly", {{1, FindingKind::kHeader, ""}}, {-1}};
  const struct {
    std::vector<std::string> truth;
    CheckedFile file;
    std::map<std::string, std::vector<int>> scores;  // planted, found, false alarms
  } cases[] = {
      {{spike_late, swap_early}, occupancy, {{"spike", {1, 0, 0}}, {"swapped_door", {1, 1, 0}}}},
      {{spike_late}, occupancy, {{"spike", {1, 0, 0}}, {"swapped_door", {0, 0, 1}}}},
      {{spike_late, missed}, occupancy, {{"spike", {1, 0, 0}}, {"swapped_door", {0, 0, 0}}}},
      {{spike_late, skew}, occupancy, {{"spike", {1, 1, 0}}, {"clock_skew", {1, 0, 0}}}},
      {{missing, elsewhere}, header, {{"missing_day", {1, 0, 0}}, {"other", {0, 0, 1}}}},
  };
  for (const auto& c : cases) {
    std::string text;
    for (const std::string& line : c.truth) text += line + "\n";
    std::map<std::string, std::vector<int>> scores;
    const TruthLines lines = ParseTruth(text, "t");
    for (const KindScore& score : ScoreAgainstTruth(lines.faults, {c.file}, lines.passages)) {
      if (c.scores.count(score.kind) != 0) {
        scores[score.kind] = {score.planted, score.found, score.false_alarms};
      }
    }
    EXPECT_EQ(scores, c.scores) << text;
  }
}

}  // namespace
}  // namespace tly
