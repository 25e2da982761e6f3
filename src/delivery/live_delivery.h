#ifndef TLY_DELIVERY_LIVE_DELIVERY_H_
#define TLY_DELIVERY_LIVE_DELIVERY_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "delivery/delivery_spool.h"
#include "delivery/history_delivery.h"

// Delivery while generating: each site's device pushes its current day file
// on its schedule (every every_minutes from its local midnight; the push at
// midnight sends the day's final file), following the simulated clock, with
// the delivery faults of its site (delivery_faults.h). The
// uploads run on a bounded pool of threads, each file read from OUT when it
// is sent, so a slow or dead server never holds up generation. A push that
// fails is tried again after half the site's retry_minutes and after all of
// them (simulated time), then waits and goes first with the site's next
// push; what still waits
// at the end is kept in OUT/deliveries.spool for the next run.

namespace tly {

class LiveDelivery {
 public:
  // A delivering site and the time zone of its local midnight.
  struct Site {
    DeliverySite delivery;
    std::string time_zone;
  };

  // Reads the spool of earlier runs; the sites' delivery faults are drawn
  // from `seed`; holds OUT's directory lock. Throws DirectoryBusy when
  // another process delivers into OUT, DeliveryRefused when a password
  // variable is not set, std::invalid_argument for a zone that cannot be
  // loaded, std::system_error when the spool cannot be read.
  LiveDelivery(std::string out_dir, std::vector<Site> sites, int connections,
               std::function<void(const std::string&)> notice, uint32_t seed = 0);
  ~LiveDelivery();
  LiveDelivery(const LiveDelivery&) = delete;
  LiveDelivery& operator=(const LiveDelivery&) = delete;

  // Starts the schedule at the simulated instant `unix_seconds` (UTC): the
  // pushes due after it will be made.
  void Start(int64_t unix_seconds);
  // Queues the pushes due until `unix_seconds`; returns at once.
  void AdvanceTo(int64_t unix_seconds);
  // The run ends at `unix_seconds`: every site sends its file as it stands,
  // and what waits is sent, until all is sent or `wait` has passed. Returns
  // what was not sent, which stays in the spool. Throws std::system_error
  // when the spool or the log cannot be written.
  std::vector<SpooledFile> Finish(int64_t unix_seconds, std::chrono::milliseconds wait);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tly

#endif  // TLY_DELIVERY_LIVE_DELIVERY_H_
