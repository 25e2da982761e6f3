#ifndef TLY_GENERATOR_DAY_FILE_IMAGE_H_
#define TLY_GENERATOR_DAY_FILE_IMAGE_H_

#include <string>
#include <string_view>

#include "config/tly_config.h"
#include "counting/day_counts.h"
#include "support/date_time.h"

namespace tly {

// The shop code of every row the generator writes.
inline constexpr std::string_view kGeneratorShopCode = "001";

// The data rows the save writes for `day`: one row per used slot up to
// LastSlot, shop code "001", as many count fields as the day has channels,
// each row ended by CR LF. Empty when no slot is used.
std::string BuildDayRows(const DayCounts& day);

// The complete day file the save writes for `day`, built in memory: the header
// of `config` with its "last updated" line showing `updated_at`, the two title
// lines, then BuildDayRows(day). Sets config.Seal and config.DataHash to the
// SHA-1 (upper-case hex) of the rows, or empty when there are none, exactly as
// the header rewrite does. Never touches a file.
std::string BuildDayFileImage(const DayCounts& day, TTlyConfig& config, TDateTime updated_at);

// Replaces `path` with `bytes` in one step: the bytes go to the day file's
// temporary ".tmp" name, which is renamed over `path` once complete, so a
// reader sees the old file or the new one, never a part. Throws
// std::system_error when the temporary file cannot be created, written or
// renamed; `path` is then unchanged and no temporary file remains.
void ReplaceFileWith(const std::string& path, std::string_view bytes);

}  // namespace tly

#endif  // TLY_GENERATOR_DAY_FILE_IMAGE_H_
