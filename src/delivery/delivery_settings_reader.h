#ifndef TLY_DELIVERY_DELIVERY_SETTINGS_READER_H_
#define TLY_DELIVERY_DELIVERY_SETTINGS_READER_H_

#include <toml++/toml.h>
#include <optional>
#include <stdexcept>
#include <string>

#include "delivery/delivery_settings.h"

// Reading the delivery tables of a scenario file: [delivery] (defaults for
// every site) and a site's own [site.delivery], which overrides it key by key.

namespace tly {

// A delivery table that cannot be used, with the line and the full key
// ("site[2].delivery.url") it is about.
class DeliverySettingsError : public std::invalid_argument {
 public:
  DeliverySettingsError(int line, const std::string& key, const std::string& problem)
      : std::invalid_argument(key + ": " + problem), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// The settings of the delivery table `node` (named `key` in messages), on top
// of `base`. Keys that depend on the protocol (method for HTTP, key_file and
// known_hosts for SFTP) are checked against the url in effect, this table's
// or the base's. Throws DeliverySettingsError.
DeliverySettings ReadDeliveryTable(const toml::node& node, const std::string& key,
                                   const DeliverySettings& base);

// The settings a site delivers with: its own table `own` (may be null) on top
// of the scenario's `defaults` (none without [delivery]); none when neither
// table is there. `key` names the site's table ("site[2].delivery") and
// `site_line` is where the site is declared. Throws DeliverySettingsError,
// also when the tables together give no url.
std::optional<DeliverySettings> SiteDelivery(const toml::node* own, const std::string& key,
                                             const std::optional<DeliverySettings>& defaults,
                                             int site_line);

}  // namespace tly

#endif  // TLY_DELIVERY_DELIVERY_SETTINGS_READER_H_
