#include "cli/verify_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "cli/command_style.h"
#include "cli/exit_codes.h"
#include "dayfile/day_file_findings.h"
#include "dayfile/day_file_name.h"
#include "faults/fault_truth_reader.h"
#include "faults/truth_score.h"

namespace tly {

namespace {

// A file that cannot be read is not a bad day file: it has its own code.
constexpr int kExitUnreadable = kExitUsage;

// Keys stay in the order they are written, as the help and the README show them.
using Json = nlohmann::ordered_json;

std::string JsonLine(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void PrintScores(CommandOutput& output, const std::string& truth,
                 const std::vector<KindScore>& scores, bool json) {
  if (json) {
    Json kinds = Json::array();
    for (const KindScore& score : scores) {
      kinds.push_back({{"kind", score.kind},
                       {"seen_by_verify", score.seen ? Json(*score.seen) : Json(nullptr)},
                       {"planted", score.planted},
                       {"found", score.found},
                       {"missed", score.planted - score.found},
                       {"false_alarms", score.false_alarms}});
    }
    output.Line(JsonLine({{"truth", truth}, {"kinds", kinds}}));
    return;
  }
  for (const std::string& line : TruthScoreLines(truth, scores)) output.Line(line);
}

}  // namespace

std::vector<KindScore> ScoreTruthFile(const std::string& path,
                                      const std::vector<CheckedFile>& checked) {
  std::string problem;
  const std::optional<std::string> truth = ReadGivenFile(path, problem, kMaxFaultTruthBytes);
  if (!truth) throw std::invalid_argument("cannot read the truth file " + path + ": " + problem);
  const TruthLines lines = ParseTruth(*truth, path);
  return ScoreAgainstTruth(lines.faults, checked, lines.passages);
}

std::vector<std::string> TruthScoreLines(const std::string& truth,
                                         const std::vector<KindScore>& scores) {
  std::vector<std::string> lines{"Against " + truth + ":"};
  char line[160];
  std::snprintf(line, sizeof line, "%-20s %8s %6s %7s %13s  %s", "kind", "planted", "found",
                "missed", "false alarms", "seen by verify");
  lines.emplace_back(line);
  for (const KindScore& score : scores) {
    std::snprintf(line, sizeof line, "%-20s %8d %6d %7d %13d  %s", score.kind.c_str(),
                  score.planted, score.found, score.planted - score.found, score.false_alarms,
                  !score.seen ? "-" : (*score.seen ? "yes" : "no"));
    lines.emplace_back(line);
  }
  return lines;
}

VerifiedFile CheckReadDayFile(const std::string& path, std::string_view bytes) {
  VerifiedFile verified{{path, InspectDayFile(bytes, DateFromFileName(path)), {}}, {}};
  CheckedFile& file = verified.checked;
  for (const DayFileFinding& finding : file.findings) {
    file.quarters.push_back(QuarterShownAt(bytes, finding.line));
  }
  // The first of the problems --json lists.
  if (!file.findings.empty()) verified.first_problem = file.findings.front().problem;
  return verified;
}

CLI::App* AddVerifyCommand(CLI::App& app, VerifyOptions& options) {
  CLI::App* verify = app.add_subcommand(
      "verify",
      "Check day files as a strict reader would: header from #T to #S, the two title lines, the "
      "rows (their date, order, shop code, count fields, counts and occupancy), CR LF line ends, "
      "single-byte ASCII and the seal. Exit code 0 when all are OK, 1 when one is bad, 2 when "
      "one cannot be read or for a usage error");
  verify->add_flag("--json", options.json,
                   "One JSON object per file and line: its verdict and every problem found, "
                   "each with its line and kind");
  AddValueOption(*verify, "--truth", options.truth, "FILE",
                 "Compare the findings with the ground truth of a run with faults "
                 "(OUT/faults.jsonl): per fault kind, how many were planted in the files "
                 "checked, found (a finding the fault explains was raised in its file), missed, "
                 "false alarms (findings nothing planted explains), and whether verify saw it");
  verify->add_option("FILE", options.files, "Day files to check")->type_name("FILE...")->required();
  return verify;
}

int RunVerifyCommand(const VerifyOptions& options) {
  CommandOutput output("verify");
  int exit_code = kExitOk;
  std::vector<CheckedFile> checked;
  for (const std::string& path : options.files) {
    std::string problem;
    const std::optional<std::string> bytes = ReadGivenFile(path, problem);
    if (!bytes) {
      output.Error(std::string("cannot read ").append(path).append(": ").append(problem));
      if (options.json) {
        Json unreadable = Json::object();
        unreadable["file"] = path;
        unreadable["verdict"] = "UNREADABLE";
        unreadable["problems"] =
            Json::array({Json{{"line", 0}, {"kind", "unreadable"}, {"problem", problem}}});
        output.Line(JsonLine(unreadable));
      }
      exit_code = kExitUnreadable;
      continue;
    }
    VerifiedFile verified = CheckReadDayFile(path, *bytes);
    CheckedFile& file = verified.checked;
    const bool ok = file.findings.empty();
    if (!ok) exit_code = std::max(exit_code, kExitFailed);
    if (options.json) {
      Json problems = Json::array();
      for (const DayFileFinding& finding : file.findings) {
        problems.push_back({{"line", finding.line},
                            {"kind", std::string(FindingKindName(finding.kind))},
                            {"problem", finding.problem}});
      }
      output.Line(JsonLine(
          {{"file", path}, {"verdict", ok ? "OK" : "BAD"}, {"problems", std::move(problems)}}));
    } else if (ok) {
      output.Line(path + ": OK");
    } else {
      output.Line(path + ": BAD: " + verified.first_problem);
    }
    checked.push_back(std::move(file));
  }
  if (!options.truth.empty()) {
    try {
      PrintScores(output, options.truth, ScoreTruthFile(options.truth, checked), options.json);
    } catch (const std::invalid_argument& refused) {
      output.Error(refused.what());
      exit_code = kExitUsage;
    }
  }
  return output.Finish(exit_code);
}

}  // namespace tly
