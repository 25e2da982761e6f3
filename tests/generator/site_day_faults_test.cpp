// Faults planted by scenario backfills: for each kind alone, every file
// differs from the same scenario's clean file exactly as the ground truth
// says and in nothing else; the same faults on any number of threads and
// shards; no fault and no truth file where every rate is 0.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "generator/scenario_backfill.h"
#include "generator/scenario_file.h"
#include "testutil/sha1.h"
#include "testutil/scenario_request.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using Json = nlohmann::json;
using Tree = std::map<std::string, std::string>;
using testing::ReadBytes;
using testing::RequestFor;
using testing::TempDir;

constexpr const char* kKinds[] = {"outage",        "stuck_channel",       "spike",
                                  "swapped_door",  "counter_reset",       "clock_skew",
                                  "duplicate_row", "missing_day",         "bad_seal",
                                  "stray_byte",    "missing_header_line", "lf_line_ends",
                                  "truncated"};

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

// The example scenario with `kinds` at `rate` (it has every kind at 0).
std::string ExampleWith(const std::vector<std::string>& kinds, const std::string& rate) {
  std::string text(ExampleScenario());
  for (const std::string& kind : kinds) {
    const std::string zero = "\n" + kind + " = 0 ";
    const size_t at = text.find(zero);
    EXPECT_NE(at, std::string::npos) << kind;
    if (at != std::string::npos) text.replace(at, zero.size(), "\n" + kind + " = " + rate + " ");
  }
  return text;
}

std::vector<Json> TruthOf(const std::string& path) {
  std::vector<Json> records;
  std::istringstream lines(ReadBytes(path));
  for (std::string line; std::getline(lines, line);) records.push_back(Json::parse(line));
  return records;
}

// Lines without their line ends (CR LF or LF); a last line without one too.
std::vector<std::string> LinesOf(const std::string& bytes) {
  std::vector<std::string> lines;
  std::istringstream in(bytes);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

size_t SealIndex(const std::vector<std::string>& lines) {
  size_t index = 0;
  while (index < lines.size() && lines[index].rfind("#S", 0) != 0) ++index;
  return index;
}

// Whether the "#S" text is the SHA-1 of the rows as a reader reads them,
// each ended by CR LF (computed by OpenSSL).
bool SealMatches(const std::string& bytes) {
  const std::vector<std::string> lines = LinesOf(bytes);
  const size_t seal = SealIndex(lines);
  std::string rows;
  for (size_t i = seal + 3; i < lines.size(); ++i) rows += lines[i] + "\r\n";
  return lines[seal].substr(2) == (rows.empty() ? "" : testing::Sha1UpperHex(rows));
}

std::vector<std::string> FieldsOf(const std::string& row) {
  std::vector<std::string> fields;
  std::istringstream in(row);
  for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
  return fields;
}

int QuarterOf(const std::string& row) {
  const std::string time = FieldsOf(row).at(2);
  return std::stoi(time.substr(0, 2)) * 4 + std::stoi(time.substr(3, 2)) / 15;
}

// The byte offset of line `index` (from 0) in `bytes`.
size_t OffsetOfLine(const std::string& bytes, size_t index) {
  size_t offset = 0;
  for (size_t i = 0; i < index; ++i) offset = bytes.find('\n', offset) + 1;
  return offset;
}

// The byte offset, within `row`, of the blank of count field `channel`.
size_t OffsetOfCount(const std::string& row, int channel) {
  size_t at = 0;
  for (int tab = 0; tab < 2 + channel; ++tab) at = row.find('\t', at) + 1;
  return at;
}

std::string WithoutSealLine(std::vector<std::string> lines) {
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(SealIndex(lines)));
  std::string joined;
  for (const std::string& line : lines) joined += line + "\n";
  return joined;
}

// The counts of the rows of `lines` by quarter hour; each quarter once.
std::map<int, std::vector<std::string>> CountsByQuarter(const std::vector<std::string>& lines) {
  std::map<int, std::vector<std::string>> rows;
  for (size_t i = SealIndex(lines) + 3; i < lines.size(); ++i) {
    std::vector<std::string> fields = FieldsOf(lines[i]);
    EXPECT_TRUE(rows.emplace(QuarterOf(lines[i]),
                             std::vector<std::string>(fields.begin() + 3, fields.end()))
                    .second)
        << lines[i];
  }
  return rows;
}

// What a fault of `kind` does to the counts: every count that differs from
// the clean file is a value of the record, and every value differs so.
void ExpectValuesAsListed(const std::string& kind, const std::string& clean,
                          const std::string& faulted, const Json& record) {
  const std::vector<std::string> clean_lines = LinesOf(clean);
  const std::vector<std::string> faulted_lines = LinesOf(faulted);
  EXPECT_EQ(std::vector<std::string>(
                clean_lines.begin(),
                clean_lines.begin() + static_cast<std::ptrdiff_t>(SealIndex(clean_lines))),
            std::vector<std::string>(
                faulted_lines.begin(),
                faulted_lines.begin() + static_cast<std::ptrdiff_t>(SealIndex(faulted_lines))))
      << "the header but its seal stays";
  const auto before = CountsByQuarter(clean_lines);
  const auto after = CountsByQuarter(faulted_lines);
  std::map<std::pair<int, int>, std::pair<int64_t, std::optional<int64_t>>> listed;
  for (const Json& value : record["values"]) {
    std::optional<int64_t> written;
    if (!value["written"].is_null()) written = value["written"].get<int64_t>();
    listed[{value["quarter"].get<int>(), value["channel"].get<int>()}] = {
        value["true"].get<int64_t>(), written};
  }
  EXPECT_FALSE(listed.empty()) << record;
  std::set<int> channels;
  for (const Json& channel : record["channels"]) channels.insert(channel.get<int>());
  size_t differing = 0;
  for (const auto& [quarter, counts] : before) {
    const auto row = after.find(quarter);
    for (size_t c = 0; c < counts.size(); ++c) {
      const int channel = static_cast<int>(c) + 1;
      const int64_t was = std::stoll(counts[c]);
      const std::optional<int64_t> is =
          row == after.end() ? std::nullopt : std::optional<int64_t>(std::stoll(row->second.at(c)));
      if (is == was) continue;
      ++differing;
      const auto entry = listed.find({quarter, channel});
      ASSERT_NE(entry, listed.end())
          << kind << " changed quarter " << quarter << " channel " << channel << " unlisted";
      EXPECT_EQ(entry->second.first, was);
      EXPECT_EQ(entry->second.second, is);
      EXPECT_GE(quarter, record["first_quarter"].get<int>());
      EXPECT_LE(quarter, record["last_quarter"].get<int>());
      EXPECT_EQ(channels.count(channel), 1u) << kind << " channel " << channel;
    }
  }
  EXPECT_EQ(differing, listed.size()) << kind << ": listed values that do not differ";
  if (kind != "outage") {
    EXPECT_EQ(before.size(), after.size()) << "no row comes or goes";
  }
  for (const auto& [cell, values] : listed) {
    if (kind == "outage") {
      EXPECT_FALSE(values.second) << "the rows are gone";
    } else if (kind == "stuck_channel") {
      EXPECT_EQ(values.second, 0);
    } else if (kind == "spike") {
      EXPECT_GE(*values.second, 10 * (values.first + 10));
    } else if (kind == "counter_reset") {
      EXPECT_LT(*values.second, values.first);
    }
  }
  if (kind == "swapped_door") {
    ASSERT_EQ(channels.size(), 2u);
    const int in = *channels.begin();
    const int out = *channels.rbegin();
    for (const auto& [quarter, counts] : after) {
      if (quarter < record["first_quarter"].get<int>() || quarter > record["last_quarter"])
        continue;
      EXPECT_EQ(counts[in - 1], before.at(quarter)[out - 1]);
      EXPECT_EQ(counts[out - 1], before.at(quarter)[in - 1]);
    }
  }
}

// The faulted file is the clean one changed as `record` says, and in nothing
// else; the record tells truly whether the seal still matches.
void ExpectShowsRecord(const std::string& kind, const std::string& clean,
                       const std::optional<std::string>& faulted, const Json& record) {
  SCOPED_TRACE(record.dump());
  if (kind == "missing_day") {
    EXPECT_FALSE(faulted) << "a missing day leaves no file";
    return;
  }
  ASSERT_TRUE(faulted);
  EXPECT_EQ(record["seal_matches"].get<bool>(), SealMatches(*faulted));
  const std::vector<std::string> clean_lines = LinesOf(clean);
  const std::vector<std::string> faulted_lines = LinesOf(*faulted);
  const int line = record.contains("line") ? record["line"].get<int>() : 0;
  if (kind == "lf_line_ends") {
    std::string expected;
    for (const char c : clean) {
      if (c != '\r') expected += c;
    }
    EXPECT_EQ(*faulted, expected);
  } else if (kind == "missing_header_line") {
    EXPECT_EQ(clean_lines.at(line - 1), record["text"].get<std::string>());
    std::string expected = clean;
    const size_t at = OffsetOfLine(clean, line - 1);
    expected.erase(at, clean_lines[line - 1].size() + 2);
    EXPECT_EQ(*faulted, expected);
  } else if (kind == "truncated") {
    const size_t kept = record["kept_bytes"].get<size_t>();
    EXPECT_EQ(*faulted, clean.substr(0, kept));
    const size_t row_start = OffsetOfLine(clean, line - 1);
    EXPECT_GT(kept, row_start) << "cut inside the row";
    EXPECT_LT(kept, row_start + clean_lines.at(line - 1).size());
    EXPECT_EQ(QuarterOf(clean_lines[line - 1]), record["first_quarter"].get<int>());
  } else if (kind == "stray_byte" || kind == "bad_seal") {
    const int channel = record["channels"].at(0).get<int>();
    const std::string& row = clean_lines.at(line - 1);
    const size_t field = OffsetOfLine(clean, line - 1) + OffsetOfCount(row, channel);
    std::string expected = clean;
    if (kind == "stray_byte") {
      expected.replace(field, 1, "\xC2\xA0");
    } else {
      const Json& value = record["values"].at(0);
      const std::string was = " " + std::to_string(value["true"].get<int64_t>());
      EXPECT_EQ(clean.substr(field, was.size() + 1),
                was + (channel == static_cast<int>(FieldsOf(row).size()) - 3 ? "\r" : "\t"));
      EXPECT_NE(value["written"], value["true"]);
      expected.replace(field, was.size(), " " + std::to_string(value["written"].get<int64_t>()));
    }
    EXPECT_EQ(*faulted, expected);
  } else if (kind == "duplicate_row") {
    std::vector<std::string> undone = faulted_lines;
    EXPECT_EQ(undone.at(line - 1), undone.at(line - 2)) << "the row repeats the one before";
    undone.erase(undone.begin() + line - 1);
    EXPECT_EQ(WithoutSealLine(undone), WithoutSealLine(clean_lines));
  } else if (kind == "clock_skew") {
    const int shift = record["shift_minutes"].get<int>();
    EXPECT_EQ(shift % 15, 0);
    EXPECT_NE(shift, 0);
    std::vector<std::string> undone = faulted_lines;
    ASSERT_EQ(undone.size(), clean_lines.size());
    int moved = 0;
    for (size_t i = SealIndex(clean_lines) + 3; i < clean_lines.size(); ++i) {
      const int quarter = QuarterOf(clean_lines[i]);
      if (quarter < record["first_quarter"].get<int>() || quarter > record["last_quarter"])
        continue;
      ++moved;
      const int shown = quarter + shift / 15;
      ASSERT_GE(shown, 0);
      ASSERT_LT(shown, 96);
      char time[32];
      std::snprintf(time, sizeof time, "%02d:%02d", shown / 4, shown % 4 * 15);
      EXPECT_EQ(FieldsOf(faulted_lines[i]).at(2), time);
      undone[i] = clean_lines[i];
    }
    EXPECT_GE(moved, 1);
    EXPECT_LE(moved, 12);
    EXPECT_EQ(WithoutSealLine(undone), WithoutSealLine(clean_lines));
  } else {
    ExpectValuesAsListed(kind, clean, *faulted, record);
  }
}

class FaultKindAlone : public ::testing::TestWithParam<const char*> {};

TEST_P(FaultKindAlone, FilesDifferFromTheCleanOnesExactlyAsTheTruthSays) {
  const std::string kind = GetParam();
  const Scenario clean_scenario = ParseScenario(ExampleScenario(), "example.toml");
  const Scenario faulty = ParseScenario(ExampleWith({kind}, "0.5"), "faulty.toml");
  TempDir clean_dir;
  TempDir faulty_dir;
  ScenarioBackfill(RequestFor(clean_scenario, clean_dir.path()));
  ScenarioBackfill(RequestFor(faulty, faulty_dir.path()));
  EXPECT_FALSE(std::filesystem::exists(clean_dir.File("faults.jsonl")));
  const Tree clean = DayFilesOf(clean_dir.path());
  const Tree faulted = DayFilesOf(faulty_dir.path());
  ASSERT_EQ(clean.size(), 20u);

  std::map<std::string, Json> records;
  for (const Json& record : TruthOf(faulty_dir.File("faults.jsonl"))) {
    EXPECT_EQ(record["kind"], kind);
    const std::string file = record["file"].get<std::string>();
    EXPECT_EQ(file.substr(0, file.find('/')), record["site"]);
    EXPECT_TRUE(records.emplace(file, record).second) << "one fault of a kind per site-day";
  }
  EXPECT_GE(records.size(), 3u) << "a rate of 0.5 over 20 site-days";
  EXPECT_LE(records.size(), 17u);
  for (const auto& [name, bytes] : clean) {
    SCOPED_TRACE(name);
    const auto file = faulted.find(name);
    const std::optional<std::string> written =
        file == faulted.end() ? std::nullopt : std::optional<std::string>(file->second);
    const auto record = records.find(name);
    if (record == records.end()) {
      EXPECT_EQ(written, bytes) << "a site-day without a fault is the clean one";
    } else {
      ExpectShowsRecord(kind, bytes, written, record->second);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, FaultKindAlone, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

TEST(PlantedFaults, TheSameOnAnyThreadsAndShardsAndNoneAtRateZero) {
  std::vector<std::string> all(std::begin(kKinds), std::end(kKinds));
  const Scenario faulty = ParseScenario(ExampleWith(all, "0.3"), "faulty.toml");
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
  EXPECT_EQ(TruthOf(faulty_dir.File("faults.jsonl")).size(), 5u);

  std::filesystem::remove(faulty_dir.File("la-defense/271030.tly"));
  ScenarioBackfillRequest again = RequestFor(faulty, faulty_dir.path());
  again.existing = ExistingDayFiles::kSkip;
  ScenarioBackfill(again);
  EXPECT_EQ(DayFilesOf(faulty_dir.path()), faulted);
  EXPECT_EQ(ReadBytes(faulty_dir.File("faults.jsonl")), truth);
}

}  // namespace
}  // namespace tly
