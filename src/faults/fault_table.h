#ifndef TLY_FAULTS_FAULT_TABLE_H_
#define TLY_FAULTS_FAULT_TABLE_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "dayfile/day_file_findings.h"
#include "faults/fault_kind.h"

// Every fault kind in one table: its name, when it strikes, its bounds, what
// a reader of the file sees and how verify shows it. The kind list of the
// scenario files, the example scenario, the README's table, the scoring of
// `verify --truth` and the tests all read it.

namespace tly {

// When a fault strikes the site-day, in the order the file is made.
enum class FaultPhase {
  kDay,     // whether the day's file is written at all
  kCounts,  // the device's counts, before the rows are sealed
  kRows,    // the rows' stamps, dates and number, before they are sealed
  kSealed,  // the sealed file's bytes, in transfer or by hand
};

struct FaultKindInfo {
  FaultKind kind;
  std::string_view name;
  // The number of its random stream: fixed for good, whatever the order of
  // the table, so that a kind's draws stay when kinds are added.
  int32_t stream;
  FaultPhase phase;
  std::string_view bounds;  // in short, for the example scenario's comment
  std::string_view shows;   // what a reader sees in the file
  // What verify may raise because of it: the findings it explains.
  std::span<const FindingKind> findings;
  // The finding named after it: where nothing planted explains one, it is a
  // false alarm of this kind.
  std::optional<FindingKind> named;
};

// The table, in the order of FaultKind.
std::span<const FaultKindInfo> FaultTable();

const FaultKindInfo& FaultInfo(FaultKind kind);

// The phase's name in the README's table.
std::string_view FaultPhaseName(FaultPhase phase);

// The README's table of the kinds (Markdown, lines ended by LF).
std::string FaultTableMarkdown();

// The example scenario's [faults] table: every kind at 0 with its bounds.
std::string FaultRatesExample();

}  // namespace tly

#endif  // TLY_FAULTS_FAULT_TABLE_H_
