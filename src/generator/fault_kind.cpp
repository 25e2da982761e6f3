#include "generator/fault_kind.h"

namespace tly {
namespace {

constexpr std::array<std::string_view, kFaultKindCount> kNames = {
    "outage",        "stuck_channel",       "spike",
    "swapped_door",  "counter_reset",       "clock_skew",
    "duplicate_row", "missing_day",         "bad_seal",
    "stray_byte",    "missing_header_line", "lf_line_ends",
    "truncated"};

}  // namespace

std::string_view FaultKindName(FaultKind kind) {
  return kNames[static_cast<size_t>(kind)];
}

std::optional<FaultKind> FaultKindOfName(std::string_view name) {
  for (size_t i = 0; i < kFaultKindCount; ++i) {
    if (kNames[i] == name) return static_cast<FaultKind>(i);
  }
  return std::nullopt;
}

bool IsFileLevelFault(FaultKind kind) {
  return static_cast<size_t>(kind) > static_cast<size_t>(FaultKind::kMissingDay);
}

bool FaultRates::Any() const {
  for (const double value : rate) {
    if (value > 0) return true;
  }
  return false;
}

}  // namespace tly
