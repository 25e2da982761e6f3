#ifndef TLY_TESTS_DELIVERY_LOGGED_DELIVERIES_H_
#define TLY_TESTS_DELIVERY_LOGGED_DELIVERIES_H_

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "delivery/test_servers.h"

namespace tly::testing {

// What a delivery log says the server got, in the form a receiver's arrivals
// take, so that the two can be compared.
struct LoggedDeliveries {
  // Per site, the remote paths ("site/name") of the uploads that worked, in order.
  std::map<std::string, std::vector<std::string>> by_site;
  // Per remote path, the log line of the last upload that worked.
  std::map<std::string, nlohmann::json> last_ok;
  // The delivery faults the log names.
  std::set<std::string> faults;
};

inline LoggedDeliveries SummarizeDeliveryLog(const std::vector<nlohmann::json>& lines) {
  LoggedDeliveries logged;
  for (const nlohmann::json& line : lines) {
    const std::string path =
        line["site"].get<std::string>() + "/" + line["remote"].get<std::string>();
    if (line["outcome"] == "ok") {
      logged.by_site[line["site"]].push_back(path);
      logged.last_ok[path] = line;
    }
    if (!line["fault"].is_null()) logged.faults.insert(line["fault"]);
  }
  return logged;
}

// Per site, the paths of what reached `http`, in the order they arrived.
inline std::map<std::string, std::vector<std::string>> ArrivalsBySite(HttpReceiver& http) {
  std::map<std::string, std::vector<std::string>> arrived;
  for (const HttpReceiver::Arrival& arrival : http.arrivals()) {
    arrived[arrival.path.substr(0, arrival.path.find('/'))].push_back(arrival.path);
  }
  return arrived;
}

}  // namespace tly::testing

#endif  // TLY_TESTS_DELIVERY_LOGGED_DELIVERIES_H_
