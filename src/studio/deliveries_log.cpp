#include "studio/deliveries_log.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

namespace tly {
namespace {

using Json = nlohmann::json;

// The value at `key` as text: a text as it is, a number or a flag as JSON
// writes it, nothing for null or a missing key.
std::string TextOf(const Json& json, const char* key) {
  const auto found = json.find(key);
  if (found == json.end() || found->is_null()) return "";
  if (found->is_string()) return found->get<std::string>();
  return found->dump();
}

}  // namespace

DeliveryLog ParseDeliveryLog(std::string_view text) {
  DeliveryLog log;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    const Json json = Json::parse(line, nullptr, false);
    if (!json.is_object() || TextOf(json, "site").empty() || TextOf(json, "file").empty()) {
      ++log.unreadable_lines;
      continue;
    }
    LoggedAttempt attempt{TextOf(json, "site"),    TextOf(json, "file"),  TextOf(json, "remote"),
                          TextOf(json, "due"),     TextOf(json, "made"),  0,
                          TextOf(json, "outcome"), TextOf(json, "error"), TextOf(json, "fault")};
    const auto bytes = json.find("bytes");
    if (bytes != json.end() && bytes->is_number_integer()) attempt.bytes = bytes->get<int64_t>();
    log.attempts.push_back(std::move(attempt));
  }
  return log;
}

std::vector<SiteDeliveries> SummarizeDeliveries(const DeliveryLog& log) {
  std::vector<SiteDeliveries> sites;
  std::map<std::string, size_t> index;
  // Per site, each file's latest outcome, in the order the files first failed.
  std::vector<std::vector<std::pair<std::string, bool>>> latest;
  for (const LoggedAttempt& attempt : log.attempts) {
    const auto [found, added] = index.emplace(attempt.site, sites.size());
    if (added) {
      sites.push_back({attempt.site, 0, 0, "", "", {}});
      latest.emplace_back();
    }
    SiteDeliveries& site = sites[found->second];
    ++site.attempts;
    const bool ok = attempt.outcome == "ok";
    if (ok) {
      site.last_push = attempt.made;
      site.last_file = attempt.file;
    } else {
      ++site.failures;
    }
    auto& files = latest[found->second];
    const auto file = std::find_if(files.begin(), files.end(),
                                   [&](const auto& entry) { return entry.first == attempt.file; });
    if (file == files.end()) {
      files.emplace_back(attempt.file, ok);
    } else {
      file->second = ok;
    }
  }
  for (size_t i = 0; i < sites.size(); ++i) {
    for (const auto& [file, ok] : latest[i]) {
      if (!ok) sites[i].spooled.push_back(file);
    }
  }
  return sites;
}

}  // namespace tly
