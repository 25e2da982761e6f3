#ifndef TLY_FAULTS_FAULT_TRUTH_FILE_H_
#define TLY_FAULTS_FAULT_TRUTH_FILE_H_

#include <string>
#include <string_view>
#include <vector>

#include "faults/fault_record.h"

// The ground truth file of a run with faults: one JSON object per fault and
// line (JSON Lines), the lines sorted as bytes, so that the same scenario
// and seed give the same file whatever the order the site-days were made in,
// and the shares of shards, sorted together (LC_ALL=C sort), give the whole.

namespace tly {

// "faults.jsonl" for a whole run, "faults.shard-K-of-N.jsonl" for share K of
// N (N > 1).
std::string FaultTruthFileName(int shard_index, int shard_count);

// Whether `name` is a truth file of any run or shard, or the temporary file
// through which one is replaced: names a run writes beside the site
// directories, which a site therefore cannot have.
bool IsFaultTruthFileName(std::string_view name);

// The lines of the truth of `records`, each ended by LF, sorted.
std::string FaultTruthText(const std::vector<FaultRecord>& records);

// Writes FaultTruthText(records) to `path`, replacing it in one step.
// Throws std::system_error when it cannot be written.
void WriteFaultTruth(const std::string& path, const std::vector<FaultRecord>& records);

// The faults planted in one finished site-day: its file ("<site>/<yymmdd>.tly",
// relative to the output directory) and what it holds now (none: a clean
// day).
struct DayTruth {
  std::string file;
  std::vector<FaultRecord> records;
};

// Brings the truth file `path` (made when missing) up to date with `days`:
// the lines of each of their files are replaced by the records of that file
// as it is now, the lines of every other file are kept, and all are sorted,
// each once; replaced in one step. So a live run that is stopped and started
// again keeps the truth of the days it finished before, and one that finishes
// a day again (over the same span) lists only what that file holds now.
// Throws std::system_error when it cannot be read or written.
void UpdateFaultTruth(const std::string& path, const std::vector<DayTruth>& days);

}  // namespace tly

#endif  // TLY_FAULTS_FAULT_TRUTH_FILE_H_
