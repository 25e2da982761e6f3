#include "faults/fault_truth_file.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string_view>

#include "support/file_read.h"
#include "support/safe_file.h"

namespace tly {

std::string FaultTruthFileName(int shard_index, int shard_count) {
  if (shard_count <= 1) return "faults.jsonl";
  return "faults.shard-" + std::to_string(shard_index) + "-of-" + std::to_string(shard_count) +
         ".jsonl";
}

bool IsFaultTruthFileName(std::string_view name) {
  for (const std::string_view extension : {".jsonl", ".tmp"}) {
    if (name.size() > extension.size() &&
        name.substr(name.size() - extension.size()) == extension) {
      name.remove_suffix(extension.size());
      if (name == "faults") return true;
      // "faults.shard-K-of-N"
      constexpr std::string_view kShard = "faults.shard-";
      if (name.substr(0, kShard.size()) != kShard) return false;
      name.remove_prefix(kShard.size());
      const size_t of = name.find("-of-");
      const auto digits = [](std::string_view text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
      };
      return of != std::string_view::npos && digits(name.substr(0, of)) &&
             digits(name.substr(of + 4));
    }
  }
  return false;
}

namespace {

std::string SortedText(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

}  // namespace

std::string FaultTruthText(const std::vector<FaultRecord>& records) {
  std::vector<std::string> lines;
  lines.reserve(records.size());
  for (const FaultRecord& record : records) lines.push_back(FaultRecordJson(record));
  return SortedText(std::move(lines));
}

void WriteFaultTruth(const std::string& path, const std::vector<FaultRecord>& records) {
  ReplaceFileWith(path, FaultTruthText(records));
}

void UpdateFaultTruth(const std::string& path, const std::vector<DayTruth>& days) {
  // A record's line begins with its file: {"file":"<file>",...
  std::set<std::string> beginnings;
  for (const DayTruth& day : days) {
    FaultRecord blank;
    blank.file = day.file;
    const std::string json = FaultRecordJson(blank);
    beginnings.insert(json.substr(0, json.find(",\"kind\":") + 1));
  }
  const auto rewritten = [&beginnings](std::string_view line) {
    const size_t comma = line.find(",\"kind\":");
    return comma != std::string_view::npos &&
           beginnings.count(std::string(line.substr(0, comma + 1))) > 0;
  };
  std::vector<std::string> lines;
  if (const std::optional<std::string> old = ReadWholeFile(path)) {
    for (size_t start = 0; start < old->size();) {
      const size_t end = std::min(old->find('\n', start), old->size());
      const std::string_view line(old->data() + start, end - start);
      if (!line.empty() && !rewritten(line)) lines.emplace_back(line);
      start = end + 1;
    }
  }
  for (const DayTruth& day : days) {
    for (const FaultRecord& record : day.records) lines.push_back(FaultRecordJson(record));
  }
  ReplaceFileWith(path, SortedText(std::move(lines)));
}

}  // namespace tly
