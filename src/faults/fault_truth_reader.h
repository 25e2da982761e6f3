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

// The passages a site-day's counter missed, as the truth lists them: each
// count of its file (or a fault's true value, where a fault changed it) plus
// its misses is the true count of that quarter hour and channel.
struct PassageTruth {
  std::string file;                          // "<site>/<yymmdd>.tly"
  std::vector<int> channels;                 // ascending
  std::vector<std::vector<int64_t>> missed;  // per channel, the misses of quarter hours 0 to 95
};

// A truth file's lines: its faults, and the passages missed of the site-days
// whose counters miss some (a day without such a line missed none).
struct TruthLines {
  std::vector<TruthEntry> faults;
  std::vector<PassageTruth> passages;
};

// The lines of the truth text `text` (JSON Lines; empty lines are skipped).
// Throws std::invalid_argument "<name>:<line>: ..." for a line that is not a
// fault record (a JSON object with the texts "file" and "kind"), names no
// fault kind, or lists missed passages other than as one list of 96
// counts from 0 for each of its channels (1 to 64).
TruthLines ParseTruth(std::string_view text, const std::string& name);

// The faults of ParseTruth(text, name), as far as a scorer or a view of the
// faults needs them.
std::vector<TruthEntry> ParseFaultTruth(std::string_view text, const std::string& name);

}  // namespace tly

#endif  // TLY_FAULTS_FAULT_TRUTH_READER_H_
