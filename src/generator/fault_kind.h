#ifndef TLY_GENERATOR_FAULT_KIND_H_
#define TLY_GENERATOR_FAULT_KIND_H_

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

// The ways a real counting site's day files go wrong, and how often each
// happens in a scenario. Every rate is the probability that one site-day gets
// one fault of that kind; kinds are drawn apart from each other.

namespace tly {

// In the order they are applied to a site-day: faults of the device (rows
// written wrong, then sealed: the seal matches), the day whose file never
// came, then faults of the transfer or of an editor (after sealing: the seal
// or the structure is broken).
enum class FaultKind {
  kOutage,             // no rows for a span of quarter hours: the device was off
  kStuckChannel,       // one channel reports 0 for a span while the others count on
  kSpike,              // one quarter hour of one channel far above its count
  kSwappedDoor,        // a door's entry and exit counts exchanged for a span
  kCounterReset,       // a quarter hour's counts restart low: the device rebooted in it
  kClockSkew,          // a span of rows stamped whole quarter hours off
  kDuplicateRow,       // a row written twice, one after the other
  kMissingDay,         // the day's file never written
  kBadSeal,            // a count edited after sealing
  kStrayByte,          // a count's blank written as the UTF-8 no-break space C2 A0
  kMissingHeaderLine,  // one header line left out
  kLfLineEnds,         // every CR LF turned into LF
  kTruncated,          // the file cut short inside a data row
};

inline constexpr size_t kFaultKindCount = 13;

// The name of `kind` in scenario files and in the ground truth.
std::string_view FaultKindName(FaultKind kind);

// The kind named `name`, if any.
std::optional<FaultKind> FaultKindOfName(std::string_view name);

// Whether faults of `kind` happen after the file was sealed.
bool IsFileLevelFault(FaultKind kind);

// How often each kind happens to a site-day: probabilities from 0 to 1.
struct FaultRates {
  std::array<double, kFaultKindCount> rate{};

  double& operator[](FaultKind kind) { return rate[static_cast<size_t>(kind)]; }
  double operator[](FaultKind kind) const { return rate[static_cast<size_t>(kind)]; }
  // Whether any kind can happen at all.
  bool Any() const;
};

}  // namespace tly

#endif  // TLY_GENERATOR_FAULT_KIND_H_
