#ifndef TLY_FAULTS_FAULT_KIND_H_
#define TLY_FAULTS_FAULT_KIND_H_

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

// The ways a real counting site's day files go wrong, and how often each
// happens in a scenario. Every rate is the probability that one site-day gets
// one fault of that kind; kinds are drawn apart from each other. What each
// kind does, and how a reader and verify see it, is in fault_table.h.

namespace tly {

// In the order faults take their place in a site-day: a fault whose place
// overlaps the place of a fault before it is left out (site_day_faults.h).
enum class FaultKind {
  kMissingDay,         // the day's file never written
  kOfflineDays,        // the device off for 1 to 7 days from a moment on
  kFleetOutage,        // the network down for a span of one day at many sites at once
  kEmptyFile,          // the file written with no bytes at all
  kTruncated,          // the file cut short inside a data row
  kNulPadding,         // NUL bytes after the last line: the device lost power
  kOutage,             // no rows for a span of quarter hours: the device was off
  kStuckChannel,       // one channel reports 0 for a span while the others count on
  kSpike,              // one quarter hour of one channel far above its count
  kSwappedDoor,        // a door's entry and exit counts exchanged for a span
  kCounterReset,       // a quarter hour's counts restart low: the device rebooted in it
  kCounterWrap,        // one count written after its counter wrapped: far below zero
  kClockSkew,          // a span of rows stamped whole quarter hours off
  kDuplicateRow,       // a row written twice, one after the other
  kWrongDateName,      // every row dated a day off the day the file is named for
  kStrayByte,          // a count's blank written as the UTF-8 no-break space C2 A0
  kBadSeal,            // a count edited after sealing
  kMissingHeaderLine,  // one header line left out
  kLfLineEnds,         // every CR LF turned into LF
};

inline constexpr size_t kFaultKindCount = 19;

// The name of `kind` in scenario files and in the ground truth.
std::string_view FaultKindName(FaultKind kind);

// The kind named `name`, if any.
std::optional<FaultKind> FaultKindOfName(std::string_view name);

// How often each kind happens to a site-day: probabilities from 0 to 1.
struct FaultRates {
  std::array<double, kFaultKindCount> rate{};
  // The site's counter misses passages: each day's misses go to the truth,
  // with its faults.
  bool passages_missed = false;

  double& operator[](FaultKind kind) { return rate[static_cast<size_t>(kind)]; }
  double operator[](FaultKind kind) const { return rate[static_cast<size_t>(kind)]; }
  // Whether any kind can happen at all, or passages be missed: whether a
  // site-day has anything to tell the truth.
  bool Any() const;
};

}  // namespace tly

#endif  // TLY_FAULTS_FAULT_KIND_H_
