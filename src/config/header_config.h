#ifndef TLY_CONFIG_HEADER_CONFIG_H_
#define TLY_CONFIG_HEADER_CONFIG_H_

#include <optional>
#include <string_view>

#include "config/tly_config.h"

namespace tly {

// The counter configuration that the header of the day file text `text`
// describes: its device type, shop name, doors ("#D") and channels ("#C"),
// and its "#R" marks, "#K" and "#F" values where they can be read (else
// those of a new configuration), so that writing the header anew gives the
// same lines but "#M" and "#S". std::nullopt when the header does not
// describe a layout this configuration can hold: no "#T" line naming RV9,
// QDX, TLY08 or TLY01, no channel lines, a door or channel line that cannot
// be read, or numbers beyond 32 doors or 64 channels. Never throws (beyond
// std::bad_alloc).
std::optional<TTlyConfig> ConfigOfHeader(std::string_view text);

}  // namespace tly

#endif  // TLY_CONFIG_HEADER_CONFIG_H_
