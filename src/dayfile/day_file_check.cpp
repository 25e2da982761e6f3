#include "dayfile/day_file_check.h"

#include <vector>

#include "dayfile/day_file_findings.h"

namespace tly {
namespace {

// Whether a finding of `kind` is about the file's structure.
bool IsStructural(FindingKind kind) {
  switch (kind) {
    case FindingKind::kStrayByte:
    case FindingKind::kMissingHeaderLine:
    case FindingKind::kFieldCount:
    case FindingKind::kNegativeCount:
    case FindingKind::kShopCode:
    case FindingKind::kNegativeOccupancy:
      return false;
    default:
      return true;
  }
}

}  // namespace

DayFileCheck CheckDayFile(std::string_view bytes) {
  for (const DayFileFinding& finding : InspectDayFile(bytes)) {
    if (IsStructural(finding.kind)) return {false, finding.problem};
  }
  return {};
}

}  // namespace tly
