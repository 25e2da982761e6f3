#ifndef TLY_DELIVERY_DELIVERY_LOG_H_
#define TLY_DELIVERY_DELIVERY_LOG_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/date_time.h"

// The truth of delivery: OUT/deliveries.jsonl, one JSON object per upload
// attempt, in the order each site's device made them, the sites in the
// order of the scenario. Times are the site's simulated local times.

namespace tly {

struct DeliveryAttempt {
  std::string site;
  std::string file;                  // "<site>/<yymmdd>.tly", relative to the output directory
  std::string remote;                // the name it was uploaded to end under
  TDateTime due = 0;                 // when the device's schedule sent it
  TDateTime made = 0;                // when this attempt was made
  uint64_t bytes = 0;                // bytes sent
  std::string outcome;               // "ok", "failed" or "cut"
  std::string error;                 // "" when it went well
  std::optional<std::string> fault;  // the delivery fault that caused it
};

// "deliveries.jsonl" for a whole run, "deliveries.shard-K-of-N.jsonl" for
// share K of N (N > 1).
std::string DeliveryLogFileName(int shard_index, int shard_count);

// "2026-12-08T00:00:00".
std::string LocalTimeText(TDateTime time);

// `attempt` as one line of JSON (no line end), its keys in a fixed order.
std::string DeliveryAttemptJson(const DeliveryAttempt& attempt);

// Adds the lines of `attempts` at the end of the log `path` (made when
// missing) in one write, so a log of earlier runs keeps its history.
// Throws std::system_error when it cannot be written.
void AppendToDeliveryLog(const std::string& path, const std::vector<DeliveryAttempt>& attempts);

}  // namespace tly

#endif  // TLY_DELIVERY_DELIVERY_LOG_H_
