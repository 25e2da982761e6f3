#ifndef TLY_COUNTING_DAY_FILE_LOADER_H_
#define TLY_COUNTING_DAY_FILE_LOADER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "counting/day_counts.h"
#include "support/date_time.h"

namespace tly {

class TTlyConfig;

// Initialises `day` for the day of the file (the date in its name, else today
// by CurrentClock(); the date of the last data row wins when it is valid) and
// merges the data rows of `file_name` into it by their time of day. A row's
// count fields replace the slot's counters from channel 0 on, up to the first
// field that is empty or not an integer. Rows without a valid "hh:nn" time are
// skipped. `config` only reads the file (ReadDataLines, which also takes the
// seal line). Never throws: a missing or unreadable file leaves `day`
// initialised with whatever rows were merged before the failure. Returns false
// when the file exists but could not be read (the caller must then not replace
// it with `day`, which lacks its rows); true otherwise, a missing file included.
bool LoadDayFile(const std::string& file_name, DayCounts& day, TTlyConfig& config) noexcept;

// The date of a day file's name: the name without directory and extension is
// "yymmdd" (yy above 90 is 19yy, else 20yy) or "yyyymmdd". Returns kNoDate (-1)
// when the name has another length or is not a valid date.
TDateTime DateFromFileName(std::string_view path);

// Field `n` (from 0) of `line` split at `delimiter`, cut to its first 255
// characters; "" for an empty field, a field beyond the last delimiter or a
// negative `n`.
std::string ExtractField(std::string_view line, char delimiter, int32_t n);

}  // namespace tly

#endif  // TLY_COUNTING_DAY_FILE_LOADER_H_
