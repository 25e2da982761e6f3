#ifndef TLY_DELIVERY_HISTORY_DELIVERY_H_
#define TLY_DELIVERY_HISTORY_DELIVERY_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "delivery/delivery_faults.h"
#include "delivery/delivery_log.h"
#include "delivery/delivery_settings.h"
#include "delivery/delivery_spool.h"
#include "delivery/transfer.h"
#include "support/date_time.h"

// Delivering day files that are already written: each site's device pushes
// its files in order, as it would have on its schedule, as fast as the
// server takes them. Backfill and the `deliver` command use it.

namespace tly {

// A site that delivers: its files lie in OUT/<name>/.
struct DeliverySite {
  std::string name;
  std::string shop_code;
  DeliverySettings settings;
  DeliveryFaultRates faults = {};
};

// One push of a device: the file it sends and the simulated local time the
// schedule sends it.
struct DeliveryPush {
  std::string file_name;  // "yymmdd.tly"
  TDateTime due = 0;
  // False for the day of another share of a sharded run: the device makes
  // the push (sends what waits) without the file, so that its faults and
  // times are those of a run of every day.
  bool own = true;
};

struct HistoryDeliveryRequest {
  std::string out_dir;
  std::vector<DeliverySite> sites;
  std::vector<std::vector<DeliveryPush>> pushes;  // per site, in the order they are sent
  int connections = 4;  // sites delivering at once, each on one connection
  uint32_t seed = 0;    // of the delivery faults' streams
  int shard_index = 1;  // the log and the spool of share K of N
  int shard_count = 1;
  // Told, one call at a time, when a server starts failing and when it is
  // back, once each.
  std::function<void(const std::string&)> notice;
  // Told after each file delivered or spooled, one call at a time.
  std::function<void(uint64_t done, uint64_t total)> progress;
  // The real pause between two attempts of one push.
  std::chrono::milliseconds retry_pause{200};
};

struct HistoryDeliveryResult {
  uint64_t delivered = 0;  // files that arrived
  uint64_t attempts = 0;
  std::vector<SpooledFile> spooled;  // what waits for the next run, per site in order
};

// Delivery that cannot start as asked: a password variable that is not set.
class DeliveryRefused : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Delivers the files of `request`: each site on one connection, at most
// `connections` sites at once. A device first sends what waits in the spool
// (OUT/SpoolFileName), then its push; an upload that fails is tried again
// after half the site's retry_minutes and after all of them (simulated
// time), then it and the files after it wait for the next push; a file a
// fault holds back waits alone. Every
// attempt is added to OUT/DeliveryLogFileName, with the delivery fault that
// shaped it (delivery_faults.h); what is still waiting at the
// end is left in the spool. Throws DeliveryRefused before any upload;
// std::system_error when the log or the spool cannot be written.
HistoryDeliveryResult DeliverHistory(const HistoryDeliveryRequest& request);

// The password of every site, from its variable. Throws DeliveryRefused.
std::vector<std::string> DeliveryPasswords(const std::vector<DeliverySite>& sites);

// Where the device of `settings` sends `file_name` for the expanded `url`,
// under `remote_name` when one is given and the url is a folder.
RemoteTarget PushTarget(const DeliverySettings& settings, const std::string& url,
                        const std::string& file_name, const std::string& remote_name = "");

// The minutes after a push's first attempt at which it is made: 0, half of
// `retry_minutes` and all of them (those that are not 0 once).
std::vector<int> RetryOffsets(int retry_minutes);

// The log line of one attempt to send `file` to `target`.
DeliveryAttempt AttemptOf(const SpooledFile& file, const RemoteTarget& target, TDateTime made,
                          const UploadResult& result);

// The pushes of the day files in `site_dir` from `from` to `to` (local dates
// as day numbers, inclusive; none: no bound): each one sent whole at the end
// of its day (its next midnight), in day order. Throws std::system_error
// when the directory cannot be read; a missing one has none.
std::vector<DeliveryPush> FinalDayFilePushes(const std::string& site_dir,
                                             std::optional<TDateTime> from,
                                             std::optional<TDateTime> to);

}  // namespace tly

#endif  // TLY_DELIVERY_HISTORY_DELIVERY_H_
