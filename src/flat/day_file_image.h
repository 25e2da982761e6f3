#ifndef TLY_FLAT_DAY_FILE_IMAGE_H_
#define TLY_FLAT_DAY_FILE_IMAGE_H_

#include <string>
#include <string_view>

#include "config/tly_config.h"
#include "counting/day_counts.h"
#include "support/date_time.h"

namespace tly {

// How the generator's save writes its rows: shop code "001"; the forced range
// from 01:00 to 00:00 is empty, so only slots that hold data get a row; as
// many count fields as the day has channels.
inline constexpr std::string_view kGeneratorShopCode = "001";
inline constexpr TDateTime kGeneratorFromTime = 1.0 / 24.0;
inline constexpr TDateTime kGeneratorToTime = 0.0;
inline constexpr int32_t kGeneratorChannelsPerRow = 0;

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

// Loads the day file `file_name` for generating into it: applies the default
// counter layout to `config`, then LoadDayFile(file_name, day). Returns
// LoadDayFile's answer: false when the file exists but could not be read.
bool ReloadDayFile(const std::string& file_name, DayCounts& day, TTlyConfig& config);

}  // namespace tly

#endif  // TLY_FLAT_DAY_FILE_IMAGE_H_
