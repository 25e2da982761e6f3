// Faults planted by scenario backfills, checked against an independent
// rebuild: every faulty file is its clean twin changed as its truth says, in
// the documented order, and in nothing else; a kind's fault is the same
// whatever the other rates; the same faults on any threads and shards; no
// fault and no truth file where every rate is 0.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "backfill/scenario_backfill.h"
#include "dayfile/day_file_findings.h"
#include "dayfile/day_file_name.h"
#include "faults/fault_table.h"
#include "faults/fault_truth_reader.h"
#include "faults/truth_score.h"
#include "scenario/scenario_file.h"
#include "testutil/scenario_request.h"
#include "testutil/sha1.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using Json = nlohmann::json;
using Tree = std::map<std::string, std::string>;
using testing::ReadBytes;
using testing::RequestFor;
using testing::TempDir;

std::vector<std::string> AllKinds() {
  std::vector<std::string> kinds;
  for (const FaultKindInfo& info : FaultTable()) kinds.emplace_back(info.name);
  return kinds;
}

// The day files below `dir` by their path relative to it.
Tree DayFilesOf(const std::string& dir) {
  Tree tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() == ".tly") {
      tree[entry.path().lexically_relative(dir)] = ReadBytes(entry.path());
    }
  }
  return tree;
}

// A third layout beside the example's two: a QDX device of two doors.
constexpr const char* kThirdLayout = R"toml(
[[site]]
name = "gare"
shop_code = "G1"
profile = "transit"
visitors = 5000
[site.layout]
device = "QDX"
doors = [
  { name = "North", kind = "D", in = 1, out = 3 },
  { name = "South", kind = "D", in = 2, out = 4 },
]
)toml";

// The example scenario and a site of a third layout, with each kind of
// `rates` at its rate (the example has every kind at 0).
Scenario ScenarioWith(const std::map<std::string, std::string>& rates) {
  std::string text = std::string(ExampleScenario()) + kThirdLayout;
  for (const auto& [kind, rate] : rates) {
    const std::string zero = "\n" + kind + " = 0 ";
    const size_t at = text.find(zero);
    EXPECT_NE(at, std::string::npos) << kind;
    if (at != std::string::npos) text.replace(at, zero.size(), "\n" + kind + " = " + rate + " ");
  }
  return ParseScenario(text, "faulty.toml");
}

// Every kind at `rate`, but for the kinds that leave nothing else a place:
// missing and empty files at most 0.25, offline periods (which reach over
// days) at most 0.05.
Scenario EveryKindAt(const std::string& rate) {
  const std::map<FaultKind, double> caps = {{FaultKind::kMissingDay, 0.25},
                                            {FaultKind::kEmptyFile, 0.25},
                                            {FaultKind::kOfflineDays, 0.05}};
  std::map<std::string, std::string> rates;
  for (const FaultKindInfo& info : FaultTable()) {
    const auto cap = caps.find(info.kind);
    rates[std::string(info.name)] =
        cap != caps.end() && std::stod(rate) > cap->second ? std::to_string(cap->second) : rate;
  }
  return ScenarioWith(rates);
}

// The truth by file, each file's records in the order of the table.
std::map<std::string, std::vector<Json>> TruthOf(const std::string& path) {
  std::map<std::string, std::vector<Json>> records;
  std::istringstream lines(ReadBytes(path));
  for (std::string line; std::getline(lines, line);) {
    Json record = Json::parse(line);
    records[record["file"].get<std::string>()].push_back(std::move(record));
  }
  for (auto& [file, list] : records) {
    std::sort(list.begin(), list.end(), [](const Json& a, const Json& b) {
      return FaultKindOfName(a["kind"].get<std::string>()) <
             FaultKindOfName(b["kind"].get<std::string>());
    });
  }
  return records;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

std::string Join(const std::vector<std::string>& parts, char separator) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i)
    text += (i == 0 ? "" : std::string(1, separator)) + parts[i];
  return text;
}

int QuarterOf(const std::vector<std::string>& fields) {
  return std::stoi(fields.at(2).substr(0, 2)) * 4 + std::stoi(fields[2].substr(3, 2)) / 15;
}

std::string TimeOf(int quarter) {
  char time[16];
  std::snprintf(time, sizeof time, "%02d:%02d", quarter / 4, quarter % 4 * 15);
  return time;
}

std::string DateAfter(const std::string& date, int days) {
  using namespace std::chrono;
  const year_month_day day{year{std::stoi(date.substr(6, 4))},
                           month{static_cast<unsigned>(std::stoi(date.substr(3, 2)))},
                           std::chrono::day{static_cast<unsigned>(std::stoi(date.substr(0, 2)))}};
  const year_month_day shifted{sys_days{day} + std::chrono::days{days}};
  char text[16];
  std::snprintf(text, sizeof text, "%02u/%02u/%04d", static_cast<unsigned>(shifted.day()),
                static_cast<unsigned>(shifted.month()), static_cast<int>(shifted.year()));
  return text;
}

// The row whose quarter hour (as the clean file shows it) is `quarter`.
size_t RowAt(const std::vector<int>& quarters, int quarter) {
  const auto at = std::find(quarters.begin(), quarters.end(), quarter);
  EXPECT_NE(at, quarters.end()) << "no row of quarter " << quarter;
  return static_cast<size_t>(at - quarters.begin());
}

// The file `clean` with the faults of `records` done to it as their truth
// tells, in the order the file is made: the device's counts and rows, the
// seal, then the sealed file's lines and bytes. None for a day without a file.
std::optional<std::string> Rebuild(const std::string& clean, const std::vector<Json>& records) {
  std::vector<std::string> lines = Split(clean, '\n');
  for (std::string& line : lines) line.pop_back();  // the CR
  size_t seal = 0;
  while (lines[seal].rfind("#S", 0) != 0) ++seal;
  std::vector<std::vector<std::string>> rows;
  std::vector<int> quarters;  // each row's quarter hour in the clean file
  for (size_t i = seal + 3; i < lines.size(); ++i) {
    rows.push_back(Split(lines[i], '\t'));
    quarters.push_back(QuarterOf(rows.back()));
  }
  const auto set_values = [&](const Json& record) {
    for (const Json& value : record["values"]) {
      const size_t row = RowAt(quarters, value["quarter"].get<int>());
      if (value["written"].is_null()) {
        rows[row].clear();  // gone
      } else {
        rows[row].at(2 + value["channel"].get<size_t>()) =
            " " + std::to_string(value["written"].get<int64_t>());
      }
    }
  };
  const auto joined = [&](const std::string& line_end) {
    std::string text;
    for (const std::vector<std::string>& row : rows) {
      if (!row.empty()) text += Join(row, '\t') + line_end;
    }
    return text;
  };
  for (const Json& record : records) {
    const std::string kind = record["kind"];
    if (kind == "empty_file") return "";
    if (record["seal_matches"].is_null()) return std::nullopt;  // no file that day
    const FaultPhase phase = FaultInfo(*FaultKindOfName(kind)).phase;
    if (phase == FaultPhase::kSealed) continue;
    set_values(record);
    const int first = record["first_quarter"].is_null() ? -1 : record["first_quarter"].get<int>();
    if (kind == "clock_skew") {
      for (size_t row = 0; row < rows.size(); ++row) {
        if (quarters[row] >= first && quarters[row] <= record["last_quarter"].get<int>()) {
          rows[row][2] = TimeOf(quarters[row] + record["shift_minutes"].get<int>() / 15);
        }
      }
    } else if (kind == "duplicate_row") {
      const size_t row = RowAt(quarters, first);
      rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(row) + 1, rows[row]);
      quarters.insert(quarters.begin() + static_cast<std::ptrdiff_t>(row) + 1, -1);
    } else if (kind == "wrong_date_name") {
      for (std::vector<std::string>& row : rows) {
        if (!row.empty()) row[1] = DateAfter(row[1], record["shift_days"].get<int>());
      }
    }
  }
  const std::string sealed = joined("\r\n");
  lines[seal] = "#S" + (sealed.empty() ? "" : testing::Sha1UpperHex(sealed));
  std::string line_end = "\r\n";
  for (const Json& record : records) {
    const std::string kind = record["kind"];
    if (kind == "stray_byte") {
      const size_t row = RowAt(quarters, record["first_quarter"].get<int>());
      rows[row].at(2 + record["channels"][0].get<size_t>()).replace(0, 1, "\xC2\xA0");
    } else if (kind == "bad_seal") {
      set_values(record);
    } else if (kind == "missing_header_line") {
      EXPECT_EQ(lines.at(record["line"].get<size_t>() - 1), record["text"]);
      lines.erase(lines.begin() + record["line"].get<std::ptrdiff_t>() - 1);
      --seal;
    } else if (kind == "lf_line_ends") {
      line_end = "\n";
    }
  }
  std::string bytes;
  for (size_t i = 0; i < seal + 3; ++i) bytes += lines[i] + line_end;
  bytes += joined(line_end);
  for (const Json& record : records) {
    if (record["kind"] == "truncated") {
      const size_t kept = record["kept_bytes"].get<size_t>();
      EXPECT_LT(kept, bytes.size());
      EXPECT_NE(bytes.substr(0, kept).back(), '\n') << "cut inside a row";
      bytes.resize(kept);
    } else if (record["kind"] == "nul_padding") {
      bytes.append(record["padding_bytes"].get<size_t>(), '\0');
      EXPECT_EQ(bytes.size() % 4096, 0u);
    }
  }
  return bytes;
}

// Whether the "#S" text is the SHA-1 (by OpenSSL) of the rows as a reader
// reads them: every line after the titles of two characters or more, each
// ended by CR LF.
bool SealMatches(const std::string& bytes) {
  std::vector<std::string> lines = Split(bytes, '\n');
  size_t seal = 0;
  while (seal < lines.size() && lines[seal].rfind("#S", 0) != 0) ++seal;
  std::string rows;
  for (size_t i = seal + 3; i < lines.size(); ++i) {
    if (!lines[i].empty() && lines[i].back() == '\r') lines[i].pop_back();
    if (lines[i].size() >= 2) rows += lines[i] + "\r\n";
  }
  std::string stored = lines.at(seal).substr(2);
  if (!stored.empty() && stored.back() == '\r') stored.pop_back();
  return stored == (rows.empty() ? "" : testing::Sha1UpperHex(rows));
}

// What a record tells of itself holds: its span within the kind's bounds and
// the day, an effect on the file, a true word on the seal.
void ExpectTrueToItsKind(const Json& record, const std::optional<std::string>& faulty) {
  SCOPED_TRACE(record.dump());
  const std::string kind = record["kind"];
  const FaultPhase phase = FaultInfo(*FaultKindOfName(kind)).phase;
  if (!faulty || faulty->empty()) {
    EXPECT_TRUE(record["seal_matches"].is_null());
  } else {
    EXPECT_EQ(record["seal_matches"], SealMatches(*faulty));
  }
  if (record["first_quarter"].is_null()) return;
  const int first = record["first_quarter"];
  const int last = record["last_quarter"];
  EXPECT_LE(0, first);
  EXPECT_LE(first, last);
  EXPECT_LE(last, 95);
  const std::map<std::string, std::pair<int, int>> spans = {
      {"outage", {2, 16}}, {"stuck_channel", {4, 32}}, {"swapped_door", {4, 32}}};
  if (const auto span = spans.find(kind); span != spans.end()) {
    EXPECT_GE(last - first + 1, span->second.first);
    EXPECT_LE(last - first + 1, span->second.second);
  }
  if (phase == FaultPhase::kCounts || kind == "bad_seal") {
    EXPECT_FALSE(record["values"].empty()) << "a fault that changes nothing";
  }
  if (kind == "clock_skew") {
    const int shift = record["shift_minutes"];
    EXPECT_TRUE(shift % 15 == 0 && shift != 0 && std::abs(shift) <= 60) << shift;
  }
}

// Backfills `scenario` into `dir` over `from` to `to` and checks every file
// against its clean twin in `clean`: rebuilt from it and its truth byte for
// byte, and every record true to its kind. Returns the truth.
std::map<std::string, std::vector<Json>> ExpectRebuiltFromTheTruth(
    const Scenario& scenario, const Tree& clean, const std::string& dir,
    ScenarioBackfillRequest request) {
  request.scenario = &scenario;
  request.out_dir = dir;
  ScenarioBackfill(request);
  const Tree faulty = DayFilesOf(dir);
  std::map<std::string, std::vector<Json>> truth;
  if (std::filesystem::exists(dir + "/faults.jsonl")) truth = TruthOf(dir + "/faults.jsonl");
  for (const auto& [name, bytes] : clean) {
    SCOPED_TRACE(name);
    const auto file = faulty.find(name);
    const std::optional<std::string> written =
        file == faulty.end() ? std::nullopt : std::optional<std::string>(file->second);
    const std::vector<Json>& records = truth[name];
    EXPECT_EQ(Rebuild(bytes, records), written);
    for (const Json& record : records) ExpectTrueToItsKind(record, written);
    if (written && bytes.size() > 92 * 40) {
      // A site that writes a row for every quarter hour its day has: no
      // stamp it does not have (a skew on the day the clocks change).
      std::set<std::string> times;
      for (const std::string& line : Split(bytes, '\n')) {
        const std::vector<std::string> fields = Split(line, '\t');
        if (fields.size() > 3) times.insert(fields[2]);
      }
      for (const std::string& line : Split(*written, '\n')) {
        const std::vector<std::string> fields = Split(line, '\t');
        if (fields.size() > 3 && fields[2].size() == 5) {
          EXPECT_EQ(times.count(fields[2]), 1u) << line;
        }
      }
    }
  }
  return truth;
}

// verify's score of the run in `dir`, checked as verify checks its files:
// nothing raised that no planted fault explains, and each kind found as
// often as its faults lie in files with a finding the kind may cause (the
// occupancy below zero on a row from the fault's first quarter hour on, but
// where a clock skew re-stamps the rows).
void ExpectScoredByTheFindings(const std::string& dir,
                               const std::map<std::string, std::vector<Json>>& truth) {
  std::vector<CheckedFile> checked;
  std::map<std::string, int> flagged;
  for (const auto& [name, bytes] : DayFilesOf(dir)) {
    CheckedFile file{dir + "/" + name, InspectDayFile(bytes, DateFromFileName(name)), {}};
    for (const DayFileFinding& finding : file.findings) {
      file.quarters.push_back(QuarterShownAt(bytes, finding.line));
    }
    const auto found = truth.find(name);
    const std::vector<Json> records = found == truth.end() ? std::vector<Json>() : found->second;
    const bool skewed = std::any_of(records.begin(), records.end(), [](const Json& record) {
      return record["kind"] == "clock_skew";
    });
    const std::vector<std::string> lines = Split(bytes, '\n');
    for (const Json& record : records) {
      const auto explains = FaultInfo(*FaultKindOfName(record["kind"].get<std::string>())).findings;
      const auto explained = [&](const DayFileFinding& finding) {
        if (std::find(explains.begin(), explains.end(), finding.kind) == explains.end())
          return false;
        if (finding.kind != FindingKind::kNegativeOccupancy || skewed ||
            record.value("first_quarter", Json()).is_null()) {
          return true;
        }
        const std::string time = Split(lines.at(finding.line - 1), '\t').at(2);
        return record["first_quarter"] <= std::stoi(time) * 4 + std::stoi(time.substr(3)) / 15;
      };
      flagged[record["kind"]] += std::any_of(file.findings.begin(), file.findings.end(), explained);
    }
    checked.push_back(std::move(file));
  }
  const std::string text = ReadBytes(dir + "/faults.jsonl");
  for (const KindScore& score : ScoreAgainstTruth(ParseFaultTruth(text, "faults.jsonl"), checked)) {
    EXPECT_EQ(score.false_alarms, 0) << score.kind;
    if (score.kind != "other") {
      EXPECT_EQ(score.found, flagged[score.kind]) << score.kind;
    }
  }
}

ScenarioBackfillRequest Week(int year, unsigned month, unsigned from, unsigned to) {
  ScenarioBackfillRequest request;
  request.from = {year, static_cast<int>(month), static_cast<int>(from)};
  request.to = {year, static_cast<int>(month), static_cast<int>(to)};
  request.seed = 2027;
  request.jobs = 2;
  return request;
}

class FaultKindAlone : public ::testing::TestWithParam<std::string> {};

// One kind alone at 0.5, over the five days across the end of summer time.
TEST_P(FaultKindAlone, FilesAreTheirCleanTwinsChangedAsTheTruthSays) {
  const Scenario clean_scenario = ScenarioWith({});
  TempDir clean_dir;
  ScenarioBackfill(RequestFor(clean_scenario, clean_dir.path()));
  EXPECT_FALSE(std::filesystem::exists(clean_dir.File("faults.jsonl")));
  const Tree clean = DayFilesOf(clean_dir.path());
  ASSERT_EQ(clean.size(), 25u);
  const Scenario faulty = ScenarioWith({{GetParam(), "0.5"}});
  TempDir dir;
  const auto truth =
      ExpectRebuiltFromTheTruth(faulty, clean, dir.path(), RequestFor(faulty, dir.path()));
  size_t records = 0;
  for (const auto& [file, list] : truth) {
    records += list.size();
    EXPECT_LE(list.size(), 1u) << file << ": one fault of a kind per site-day";
  }
  EXPECT_GE(records, 4u) << "a rate of 0.5 over 25 site-days";
}

INSTANTIATE_TEST_SUITE_P(EveryKind, FaultKindAlone, ::testing::ValuesIn(AllKinds()),
                         [](const ::testing::TestParamInfo<std::string>& test) {
                           return test.param;
                         });

// Every kind at once, at 0.25 and at 1 (the whole-day kinds at 0.25), over a week with a clock
// change and three layouts: still every file is rebuilt from its twin and its truth, and a kind's
// fault, where it is not left out, is the one it is alone; verify's score of the run is its
// findings.
TEST(PlantedFaults, EveryKindAtOnceComposesExactly) {
  const ScenarioBackfillRequest week = Week(2027, 3, 22, 28);  // summer time from the 28th
  const Scenario clean_scenario = ScenarioWith({});
  TempDir clean_dir;
  ScenarioBackfillRequest clean_request = week;
  clean_request.scenario = &clean_scenario;
  clean_request.out_dir = clean_dir.path();
  ScenarioBackfill(clean_request);
  const Tree clean = DayFilesOf(clean_dir.path());
  for (const char* rate : {"0.25", "1"}) {
    SCOPED_TRACE(rate);
    const Scenario all = EveryKindAt(rate);
    TempDir dir;
    const auto truth = ExpectRebuiltFromTheTruth(all, clean, dir.path(), week);
    std::set<std::string> kinds;
    for (const auto& [file, list] : truth) {
      for (const Json& record : list) kinds.insert(record["kind"]);
    }
    EXPECT_GE(kinds.size(), std::string(rate) == "1" ? 12u : 15u) << "kinds that found a place";
    ExpectScoredByTheFindings(dir.path(), truth);
    if (std::string(rate) != "1") continue;
    for (const std::string& kind : {std::string("outage"), std::string("clock_skew"),
                                    std::string("bad_seal"), std::string("swapped_door")}) {
      const Scenario alone = ScenarioWith({{kind, rate}});
      TempDir alone_dir;
      const auto alone_truth = ExpectRebuiltFromTheTruth(alone, clean, alone_dir.path(), week);
      for (const auto& [file, list] : truth) {
        for (const Json& record : list) {
          if (record["kind"] != kind) continue;
          Json own = alone_truth.at(file).at(0);
          for (const char* key :
               {"first_quarter", "last_quarter", "channels", "values", "shift_minutes", "door"}) {
            EXPECT_EQ(own.value(key, Json()), record.value(key, Json())) << file << " " << key;
          }
        }
      }
    }
  }
}

// On the day the clocks go forward in Paris, over many seeds: no row is
// stamped in the hour the day does not have.
TEST(PlantedFaults, ClockSkewStampsOnlyQuarterHoursTheDayHas) {
  const Scenario clean_scenario = ScenarioWith({});
  const Scenario skewed = ScenarioWith({{"clock_skew", "1"}});
  ScenarioBackfillRequest day = Week(2027, 3, 28, 28);
  int near_the_gap = 0;
  for (uint32_t seed = 1; seed <= 15; ++seed) {
    day.seed = seed;
    TempDir clean_dir;
    ScenarioBackfillRequest clean_request = day;
    clean_request.scenario = &clean_scenario;
    clean_request.out_dir = clean_dir.path();
    ScenarioBackfill(clean_request);
    TempDir dir;
    for (const auto& [file, records] :
         ExpectRebuiltFromTheTruth(skewed, DayFilesOf(clean_dir.path()), dir.path(), day)) {
      if (records.empty()) continue;
      const Json& record = records.at(0);
      const int shift = record["shift_minutes"].get<int>() / 15;
      near_the_gap += record["last_quarter"].get<int>() + std::abs(shift) >= 8 &&
                      record["first_quarter"].get<int>() - std::abs(shift) <= 11;
    }
  }
  EXPECT_GE(near_the_gap, 3) << "skews that could have reached 02:00 to 02:45";
}

TEST(PlantedFaults, TheSameOnAnyThreadsAndShardsAndNoneAtRateZero) {
  const Scenario faulty = EveryKindAt("0.3");
  TempDir serial;
  ScenarioBackfill(RequestFor(faulty, serial.path(), 1));
  const Tree whole = DayFilesOf(serial.path());
  const std::string truth = ReadBytes(serial.File("faults.jsonl"));
  ASSERT_FALSE(truth.empty());

  TempDir threaded;
  ScenarioBackfill(RequestFor(faulty, threaded.path(), 3));
  EXPECT_EQ(DayFilesOf(threaded.path()), whole);
  EXPECT_EQ(ReadBytes(threaded.File("faults.jsonl")), truth);

  // Three shards as on three machines: their files and their truths are
  // apart, and together the whole; the truths sorted together are the truth.
  Tree united;
  std::vector<std::string> truth_lines;
  for (int k = 1; k <= 3; ++k) {
    TempDir shard;
    ScenarioBackfill(RequestFor(faulty, shard.path(), 2, Shard{k, 3}));
    EXPECT_FALSE(std::filesystem::exists(shard.File("faults.jsonl")));
    std::istringstream lines(
        ReadBytes(shard.File("faults.shard-" + std::to_string(k) + "-of-3.jsonl")));
    for (std::string line; std::getline(lines, line);) truth_lines.push_back(line + "\n");
    for (auto& [name, bytes] : DayFilesOf(shard.path())) {
      EXPECT_TRUE(united.emplace(name, std::move(bytes)).second) << name;
    }
  }
  EXPECT_EQ(united, whole);
  std::sort(truth_lines.begin(), truth_lines.end());
  std::string sorted;
  for (const std::string& line : truth_lines) sorted += line;
  EXPECT_EQ(sorted, truth);

  // Every rate at 0, or no [faults] at all: the clean files, no truth file.
  std::string without(ExampleScenario());
  without.erase(without.find("[faults]"), without.find("# A shop with") - without.find("[faults]"));
  const Scenario zero = ParseScenario(ExampleScenario(), "zero.toml");
  const Scenario none = ParseScenario(without, "none.toml");
  TempDir zero_dir;
  TempDir none_dir;
  ScenarioBackfill(RequestFor(zero, zero_dir.path()));
  ScenarioBackfill(RequestFor(none, none_dir.path()));
  EXPECT_EQ(DayFilesOf(zero_dir.path()), DayFilesOf(none_dir.path()));
  EXPECT_EQ(testing::EntriesOf(zero_dir.path()), testing::EntriesOf(none_dir.path()));
  EXPECT_FALSE(std::filesystem::exists(zero_dir.File("faults.jsonl")));
}

// A site's own rates: the faults land in its files only, and kept files
// (skip) are still in the truth.
TEST(PlantedFaults, OnlyTheFaultySiteAndKeptDaysStillInTheTruth) {
  std::string text(ExampleScenario());
  const std::string office = "name = \"la-defense\"\n";
  text.insert(text.find(office) + office.size(), "faults = { truncated = 1 }\n");
  const Scenario faulty = ParseScenario(text, "faulty.toml");
  const Scenario clean = ParseScenario(ExampleScenario(), "clean.toml");
  TempDir faulty_dir;
  TempDir clean_dir;
  ScenarioBackfill(RequestFor(faulty, faulty_dir.path()));
  ScenarioBackfill(RequestFor(clean, clean_dir.path()));
  const Tree faulted = DayFilesOf(faulty_dir.path());
  for (const auto& [name, bytes] : DayFilesOf(clean_dir.path())) {
    if (name.rfind("la-defense/", 0) == 0) {
      EXPECT_NE(faulted.at(name), bytes) << name;
    } else {
      EXPECT_EQ(faulted.at(name), bytes) << name;
    }
  }
  const std::string truth = ReadBytes(faulty_dir.File("faults.jsonl"));
  EXPECT_EQ(std::count(truth.begin(), truth.end(), '\n'), 5);

  std::filesystem::remove(faulty_dir.File("la-defense/271030.tly"));
  ScenarioBackfillRequest again = RequestFor(faulty, faulty_dir.path());
  again.existing = ExistingDayFiles::kSkip;
  ScenarioBackfill(again);
  EXPECT_EQ(DayFilesOf(faulty_dir.path()), faulted);
  EXPECT_EQ(ReadBytes(faulty_dir.File("faults.jsonl")), truth);
}

}  // namespace
}  // namespace tly
