#ifndef TLY_GUI_DELIVERIES_LOG_H_
#define TLY_GUI_DELIVERIES_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The delivery log of an output folder (deliveries.jsonl) as the studio shows
// it: one JSON object per attempt to push a day file to its server.
// Toolkit-free.

namespace tly {

struct LoggedAttempt {
  std::string site;
  std::string file;
  std::string remote;
  std::string due;   // when the device's schedule wanted it pushed
  std::string made;  // when the attempt was made
  int64_t bytes = 0;
  std::string outcome;  // "ok", "failed" or "cut"
  std::string error;
  std::string fault;  // the delivery fault planted in it, "" for none
};

struct DeliveryLog {
  std::vector<LoggedAttempt> attempts;  // in the order of the log
  int unreadable_lines = 0;             // lines that are no attempt
};

// The attempts of the log text `text`; empty lines are skipped, a line that
// is no JSON object with a site and a file is counted, not refused, since the
// log of a running delivery may end in a line being written.
DeliveryLog ParseDeliveryLog(std::string_view text);

// Per site: the last push that worked, the failures, and what still waits.
struct SiteDeliveries {
  std::string site;
  int attempts = 0;
  int failures = 0;                  // outcomes "failed" and "cut"
  std::string last_push;             // "made" of the last attempt that worked, "" for none
  std::string last_file;             // its file
  std::vector<std::string> spooled;  // files whose latest attempt did not work, in log order
};

// The sites of `log` in the order they first appear.
std::vector<SiteDeliveries> SummarizeDeliveries(const DeliveryLog& log);

}  // namespace tly

#endif  // TLY_GUI_DELIVERIES_LOG_H_
