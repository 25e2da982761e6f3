#ifndef TLY_MAIN_TRUTH_SCORE_H_
#define TLY_MAIN_TRUTH_SCORE_H_

#include <string>
#include <vector>

#include "dayfile/day_file_findings.h"
#include "generator/fault_truth_reader.h"

// How the findings of `verify` compare with the ground truth of a run with
// faults (OUT/faults.jsonl): per planted kind, how many faults verify found,
// missed, and raised where nothing of that kind was planted.

namespace tly {

// What verify found in one file it read.
struct CheckedFile {
  std::string path;
  std::vector<DayFileFinding> findings;
};

// One line of the table.
struct KindScore {
  std::string kind;      // a fault kind, or "other" for findings no fault kind stands for
  bool seen = true;      // whether verify can see this kind in a file at all
  int planted = 0;       // faults of the kind in the files read (missing_day: of their sites)
  int found = 0;         // of those, in a file where verify found what the kind shows
  int false_alarms = 0;  // files with such a finding that no planted fault explains
};

// Scores `checked` against the faults of the truth: a checked file is the
// truth's "file" when its last two path parts are it.
std::vector<KindScore> ScoreAgainstTruth(const std::vector<TruthEntry>& truth,
                                         const std::vector<CheckedFile>& checked);

}  // namespace tly

#endif  // TLY_MAIN_TRUTH_SCORE_H_
