#ifndef TLY_DELIVERY_DELIVERY_FAULTS_H_
#define TLY_DELIVERY_DELIVERY_FAULTS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/date_time.h"

// Delivery faults: what goes wrong between a device and its server, drawn
// for each site-day from streams of their own (keyed by the seed, the site,
// the day and the kind), so that the same scenario and seed give the same
// deliveries on any number of connections. Their rates stand in [faults]
// and [site.faults] beside the faults of the files.

namespace tly {

enum class DeliveryFault {
  kLateDelivery,       // the day's final file is sent 1 to 72 hours late
  kOutOfOrder,         // a run of 2 to 4 days is sent newest first, after the run
  kDuplicateDelivery,  // the file is sent again under a retry's name, yymmdd(1).tly
  kCutUpload,          // the upload stops after some bytes; the file waits for the next push
  kInPlace,            // uploaded under its own name, without the temporary one
  kServerOutage,       // the server cannot be reached for 1 to 24 hours from the push
  kStaleResend,        // after the final file, an earlier partial version is sent again
};
inline constexpr size_t kDeliveryFaultCount = 7;

struct DeliveryFaultRates {
  std::array<double, kDeliveryFaultCount> rate{};
  double& operator[](DeliveryFault fault) { return rate[static_cast<size_t>(fault)]; }
  double operator[](DeliveryFault fault) const { return rate[static_cast<size_t>(fault)]; }
};

// The name as [faults] and deliveries.jsonl write it ("late_delivery", ...).
const char* DeliveryFaultName(DeliveryFault fault);
std::optional<DeliveryFault> DeliveryFaultOfName(std::string_view name);

// The faults of one site-day's final file, as its streams draw them.
struct DayFaults {
  // What shapes the sending of the final file: late, cut, duplicate, in
  // place or stale resend (at most one of them).
  std::optional<DeliveryFault> shaping;
  int late_hours = 0;      // kLateDelivery: 1 to 72
  uint64_t cut_after = 0;  // kCutUpload: bytes sent before the cut, of every 1000
  int stale_minute = 0;    // kStaleResend: the minute of the day of the version sent again
  int out_of_order = 0;    // 2 to 4: the final files of this day and the next are sent newest first
  int outage_hours = 0;    // 1 to 24: the server cannot be reached from the final push on
};

// The faults of `site`'s day `day` (a day number) for a device that pushes
// every `every_minutes`. A stale resend needs a push inside the day, so a
// device that pushes once a day has none.
DayFaults DrawDayFaults(const DeliveryFaultRates& rates, uint32_t seed, const std::string& site,
                        int64_t day, int every_minutes);

// One push of a device as its faults make it.
struct PlannedPush {
  std::string file_name;
  TDateTime due = 0;      // when the schedule sent it
  TDateTime send_at = 0;  // when the device sends it
  std::optional<DeliveryFault> fault;
  uint64_t cut_after = 0;  // kCutUpload: bytes sent before the cut, of every 1000
  int stale_minute = 0;    // kStaleResend: the minute of the day of the version sent again
};

// The pushes of `site`'s final day files (`pushes`: file names and dues, in
// day order) of a device that pushes every `every_minutes`, with the faults
// drawn from `rates` and `seed` (DrawDayFaults), in the order
// they are sent; and in `outages` the windows [start, end) in which the
// server cannot be reached.
struct DeliveryPlan {
  std::vector<PlannedPush> pushes;
  std::vector<std::pair<TDateTime, TDateTime>> outages;
};
DeliveryPlan PlanDeliveries(const std::vector<std::pair<std::string, TDateTime>>& pushes,
                            const DeliveryFaultRates& rates, uint32_t seed, const std::string& site,
                            int every_minutes);

// "270310(1).tly" for "270310.tly": the name a device's retry gives.
std::string RetryName(const std::string& file_name);

}  // namespace tly

#endif  // TLY_DELIVERY_DELIVERY_FAULTS_H_
