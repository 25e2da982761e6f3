#include "delivery/delivery_log.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "support/output_directory.h"

namespace tly {

std::string DeliveryLogFileName(int shard_index, int shard_count) {
  if (shard_count <= 1) return "deliveries.jsonl";
  return "deliveries.shard-" + std::to_string(shard_index) + "-of-" + std::to_string(shard_count) +
         ".jsonl";
}

std::string LocalTimeText(TDateTime time) {
  // Whole seconds, rounded, so that a time built from minutes prints as such.
  const double seconds = std::round(time * 86400.0);
  const TDateTime day = std::floor(seconds / 86400.0);
  const CivilDate date = DecodeDate(day);
  const long long of_day = static_cast<long long>(seconds - day * 86400.0);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02lld:%02lld:%02lld", date.Year, date.Month,
                date.Day, of_day / 3600, of_day / 60 % 60, of_day % 60);
  return text;
}

std::string DeliveryAttemptJson(const DeliveryAttempt& attempt) {
  nlohmann::ordered_json line;
  line["site"] = attempt.site;
  line["file"] = attempt.file;
  line["remote"] = attempt.remote;
  line["due"] = LocalTimeText(attempt.due);
  line["made"] = LocalTimeText(attempt.made);
  line["bytes"] = attempt.bytes;
  line["outcome"] = attempt.outcome;
  line["error"] = attempt.error;
  line["fault"] = attempt.fault ? nlohmann::ordered_json(*attempt.fault) : nullptr;
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void AppendToDeliveryLog(const std::string& path, const std::vector<DeliveryAttempt>& attempts) {
  std::string text;
  for (const DeliveryAttempt& attempt : attempts) text += DeliveryAttemptJson(attempt) + "\n";
  AppendToFile(path, text);
}

}  // namespace tly
