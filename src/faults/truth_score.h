#ifndef TLY_FAULTS_TRUTH_SCORE_H_
#define TLY_FAULTS_TRUTH_SCORE_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dayfile/day_file_findings.h"
#include "faults/fault_truth_reader.h"

// How the findings of `verify` compare with the ground truth of a run with
// faults (OUT/faults.jsonl): per planted kind, how many faults verify found,
// missed, and raised where nothing planted explains them.

namespace tly {

// What verify found in one file it read.
struct CheckedFile {
  std::string path;
  std::vector<DayFileFinding> findings;
  // For each finding, the quarter hour its line's row shows (-1: none).
  std::vector<int> quarters;
};

// The quarter hour (0 to 95) the row at line `line` (from 1) of `bytes`
// shows, or -1 when that line holds no readable time.
int QuarterShownAt(std::string_view bytes, int line);

// One line of the table.
struct KindScore {
  std::string kind;  // a fault kind, or "other" for findings named after no kind
  // Whether verify saw the kind in this run: it found one of those planted;
  // none when none was planted.
  std::optional<bool> seen;
  int planted = 0;       // faults of the kind in the files read (no file: in the sites read)
  int found = 0;         // of those, in a file where verify raised a finding the fault explains
  int false_alarms = 0;  // files with a finding named after the kind that nothing planted explains
};

// Scores `checked` against the faults of the truth: a checked file is the
// truth's "file" when its last two path parts are it. A planted fault is
// found when verify raised, in its file, a finding the fault explains (the
// findings of its kind's entry in the fault table; one about the occupancy
// only from its first quarter hour on). An occupancy below zero in a file of
// `passages` (whose counter missed passages) is no false alarm: counting
// fewer entries than exits is what a missing count does.
std::vector<KindScore> ScoreAgainstTruth(const std::vector<TruthEntry>& truth,
                                         const std::vector<CheckedFile>& checked,
                                         const std::vector<PassageTruth>& passages = {});

}  // namespace tly

#endif  // TLY_FAULTS_TRUTH_SCORE_H_
