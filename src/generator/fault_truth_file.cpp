#include "generator/fault_truth_file.h"

#include <algorithm>

#include "support/safe_file.h"

namespace tly {

std::string FaultTruthFileName(int shard_index, int shard_count) {
  if (shard_count <= 1) return "faults.jsonl";
  return "faults.shard-" + std::to_string(shard_index) + "-of-" + std::to_string(shard_count) +
         ".jsonl";
}

std::string FaultTruthText(const std::vector<FaultRecord>& records) {
  std::vector<std::string> lines;
  lines.reserve(records.size());
  for (const FaultRecord& record : records) lines.push_back(FaultRecordJson(record));
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

void WriteFaultTruth(const std::string& path, const std::vector<FaultRecord>& records) {
  ReplaceFileWith(path, FaultTruthText(records));
}

}  // namespace tly
