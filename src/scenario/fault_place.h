#ifndef TLY_SCENARIO_FAULT_PLACE_H_
#define TLY_SCENARIO_FAULT_PLACE_H_

#include <array>
#include <bitset>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "counting/day_counts.h"
#include "faults/fault_record.h"
#include "scenario/scenario.h"
#include "scenario/site_day.h"
#include "scenario/stream_random.h"
#include "support/date_time.h"

// What the planters of the fault kinds share: the clean site-day on which
// every kind draws its place (so that its draws never depend on another
// kind), the place a fault takes, and the file as the faults make it.

namespace tly {

// The clean site-day, as every planter sees it.
struct SiteDayPlan {
  const SiteSettings* site = nullptr;
  uint32_t seed = 0;
  TDateTime date = 0;
  SiteDayClock clock;  // the local day's real quarter hours
  const DayCounts* clean = nullptr;
  int channels = 0;                        // count fields of a row
  std::vector<int> active;                 // the layout's channels, ascending
  std::vector<int> rows;                   // the slots of the clean rows, in order
  std::array<bool, kSlotsPerDay> shown{};  // the quarter hours the local clock shows that day

  int32_t Count(int slot, int channel) const { return clean->Slots[slot].Counts[channel - 1]; }
};

// A row of the file under work: the quarter hour it belongs to, and its
// stamps and counts as written; `copy` for the second of a duplicated row.
struct WorkRow {
  int slot = 0;
  SlotCounts counts{};
  bool copy = false;
};

// The file as the faults make it, step by step.
struct FileWork {
  bool written = true;
  DayCounts counts{};              // the device's counts
  std::vector<WorkRow> rows;       // the rows, in file order
  std::vector<std::string> lines;  // the sealed file's lines, without line ends
  size_t rows_begin = 0;           // the line of the first row
  std::string line_end;
  std::string bytes;     // the file
  size_t rows_kept = 0;  // rows (from the first) still in the file
  std::string shop_code;

  // The index in `rows` of the row of `slot` (its first copy).
  size_t RowOf(int slot) const;
  // The row `index` of `rows` as its line is written.
  std::string RowLine(size_t index) const;
  // Where line `index` of `lines` starts in `bytes`.
  size_t LineStart(size_t index) const;
};

// When a fault does what it does, in the order the file is made.
enum class FaultStep { kDay, kCounts, kRows, kLines, kBytes };

// The place one fault takes: what it claims of the site-day (no later fault
// may claim it too) and what it does to the file.
struct FaultPlace {
  FaultRecord record;                      // what it tells of itself
  std::vector<std::pair<int, int>> cells;  // (slot, channel): counts it may change
  bool whole_file = false;                 // the whole day: nothing else happens to it
  bool file_end = false;                   // the end of the file
  bool breaks_seal = false;                // the seal no longer matches the rows
  bool needs_seal = false;                 // shows only through a seal no other fault broke
  std::optional<int> line_slot;            // the record's line is the row of this slot
  bool line_of_copy = false;               // ... its second copy
  std::function<void(FileWork&, FaultRecord&)> apply;
};

// The stream of `kind` for `site` (HashOfName of its name; 0 for draws of
// the whole fleet) on the day number `day`.
StreamRandom FaultStream(uint32_t seed, uint64_t site, int64_t day, FaultKind kind);

// What every kind's planter does: draws its place from `random`, its own
// stream, on the clean day of `plan`; none when the day has no place for it.
using FaultPlanter = std::optional<FaultPlace> (*)(const SiteDayPlan& plan, StreamRandom& random);

// The planter of `kind` and the step in which its fault is applied.
FaultPlanter PlanterOf(FaultKind kind);
FaultStep StepOf(FaultKind kind);
// Whether the faults of `kind` on a day are drawn from the streams of other
// days too (a period begun before it, a span in UTC): then its planter draws
// whether it strikes, not the day's own first draw.
bool DrawsOverDays(FaultKind kind);

}  // namespace tly

#endif  // TLY_SCENARIO_FAULT_PLACE_H_
