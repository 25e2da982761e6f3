#ifndef TLY_FAULTS_FAULT_TRUTH_READER_H_
#define TLY_FAULTS_FAULT_TRUTH_READER_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "faults/fault_kind.h"
#include "faults/fault_record.h"

// The ground truth file of a run with faults read back, as far as a scorer of
// a reader's findings needs it: which file holds which fault.

namespace tly {

// The largest truth file read: 1 GiB. A site-day with every fault kind
// planted adds about 30 KB, so this holds some 35,000 such site-days (years
// of many sites); the bound keeps a wrong path (a huge log, a file that keeps
// growing) from taking the memory.
inline constexpr std::size_t kMaxFaultTruthBytes = std::size_t{1} << 30;

// One planted fault as the truth lists it.
struct TruthEntry {
  std::string file;  // "<site>/<yymmdd>.tly"
  FaultKind kind = FaultKind::kOutage;
  std::optional<int> first_quarter;  // where the fault begins, when it has a span
  bool no_file = false;              // no seal to match: the day has no file (or an empty one)
  std::optional<int> last_quarter;   // where it ends, when it has a span
  // The counts it changed, for showing what is true and what is written;
  // values that are no count of a quarter hour and channel are left out.
  std::vector<FaultValue> values;
};

// The faults of the truth text `text` (JSON Lines; empty lines are skipped).
// Throws std::invalid_argument "<name>:<line>: ..." for a line that is not a
// fault record (a JSON object with the texts "file" and "kind") or names no
// fault kind.
std::vector<TruthEntry> ParseFaultTruth(std::string_view text, const std::string& name);

}  // namespace tly

#endif  // TLY_FAULTS_FAULT_TRUTH_READER_H_
