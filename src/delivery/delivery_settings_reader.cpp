#include "delivery/delivery_settings_reader.h"

#include <set>

#include "delivery/delivery_url.h"

namespace tly {
namespace {

const std::set<std::string, std::less<>> kKeys = {
    "url",      "every_minutes", "method",   "user",      "password_env", "ca_file",
    "key_file", "known_hosts",   "insecure", "temp_name", "retry_minutes"};

int LineOf(const toml::node& node) {
  return static_cast<int>(node.source().begin.line);
}

[[noreturn]] void Fail(const toml::node& node, const std::string& key, const std::string& problem) {
  throw DeliverySettingsError(LineOf(node), key, problem);
}

std::string Text(const toml::node& node, const std::string& key) {
  const std::optional<std::string> text = node.value_exact<std::string>();
  if (!text) Fail(node, key, "must be a text in quotes");
  return *text;
}

bool Flag(const toml::node& node, const std::string& key) {
  const std::optional<bool> flag = node.value_exact<bool>();
  if (!flag) Fail(node, key, "must be true or false");
  return *flag;
}

int Whole(const toml::node& node, const std::string& key, int min, int max) {
  const std::optional<int64_t> value = node.value_exact<int64_t>();
  if (!value || *value < min || *value > max) {
    Fail(node, key,
         "must be a whole number from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return static_cast<int>(*value);
}

bool IsVariableName(const std::string& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  return name.find_first_not_of(
             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") ==
         std::string::npos;
}

std::string Url(const toml::node& node, const std::string& key) {
  std::string url = Text(node, key);
  const std::string problem = UrlProblem(url);
  if (!problem.empty()) Fail(node, key, "\"" + RedactUrl(url) + "\" " + problem);
  return url;
}

// Refuses a key of `table` that the protocol of `settings` has no use for.
void CheckKeysOfProtocol(const toml::table& table, const std::string& key,
                         const DeliverySettings& settings) {
  if (settings.url.empty()) return;
  const bool http =
      settings.protocol == DeliveryProtocol::kHttp || settings.protocol == DeliveryProtocol::kHttps;
  const bool sftp = settings.protocol == DeliveryProtocol::kSftp;
  const bool tls =
      settings.protocol == DeliveryProtocol::kFtps || settings.protocol == DeliveryProtocol::kHttps;
  const std::string scheme = ProtocolName(settings.protocol);
  const auto refuse = [&](const char* name, bool applies, const char* which) {
    if (const toml::node* node = table.get(name); node != nullptr && !applies) {
      Fail(*node, key + "." + name,
           std::string("applies to ") + which + " urls, not to " + scheme + "://");
    }
  };
  refuse("method", http, "http:// and https://");
  refuse("key_file", sftp, "sftp://");
  refuse("known_hosts", sftp, "sftp://");
  refuse("ca_file", tls, "ftps:// and https://");
}

}  // namespace

DeliverySettings ReadDeliveryTable(const toml::node& node, const std::string& key,
                                   const DeliverySettings& base) {
  const toml::table* table = node.as_table();
  if (table == nullptr) Fail(node, key, "must be a table");
  DeliverySettings settings = base;
  for (const auto& [name_key, value] : *table) {
    const std::string name(name_key.str());
    const std::string full = std::string(key).append(".").append(name);
    if (kKeys.count(name) == 0) {
      Fail(value, full,
           "is not a key of delivery (url, every_minutes, method, user, password_env, ca_file, "
           "key_file, known_hosts, insecure, temp_name, retry_minutes)");
    }
    if (name == "url") {
      settings.url = Url(value, full);
      settings.protocol = *ProtocolOfUrl(settings.url);
    } else if (name == "every_minutes") {
      settings.every_minutes = Whole(value, full, 1, 1440);
    } else if (name == "retry_minutes") {
      settings.retry_minutes = Whole(value, full, 0, 1440);
    } else if (name == "method") {
      const std::string method = Text(value, full);
      if (method != "PUT" && method != "POST") Fail(value, full, "must be \"PUT\" or \"POST\"");
      settings.method = method == "PUT" ? HttpMethod::kPut : HttpMethod::kPost;
    } else if (name == "password_env") {
      settings.password_env = Text(value, full);
      if (!IsVariableName(settings.password_env)) {
        Fail(value, full,
             "must be the name of an environment variable (letters, digits and '_'), never the "
             "password itself");
      }
    } else if (name == "insecure") {
      settings.insecure = Flag(value, full);
    } else if (name == "temp_name") {
      settings.temp_name = Flag(value, full);
    } else {
      std::string& text = name == "user"       ? settings.user
                          : name == "ca_file"  ? settings.ca_file
                          : name == "key_file" ? settings.key_file
                                               : settings.known_hosts;
      text = Text(value, full);
      if (text.empty() || text.find_first_of("\r\n") != std::string::npos) {
        Fail(value, full, "must be one line of text, not empty");
      }
    }
  }
  CheckKeysOfProtocol(*table, key, settings);
  return settings;
}

std::optional<DeliverySettings> SiteDelivery(const toml::node* own, const std::string& key,
                                             const std::optional<DeliverySettings>& defaults,
                                             int site_line) {
  if (own == nullptr && !defaults) return std::nullopt;
  DeliverySettings settings = defaults.value_or(DeliverySettings{});
  if (own != nullptr) settings = ReadDeliveryTable(*own, key, settings);
  if (settings.url.empty()) {
    throw DeliverySettingsError(own != nullptr ? LineOf(*own) : site_line, key + ".url",
                                "is missing: neither [delivery] nor the site's own delivery "
                                "table gives one");
  }
  return settings;
}

}  // namespace tly
