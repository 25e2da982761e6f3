#ifndef TLY_COUNTING_DAY_FILE_WRITER_H_
#define TLY_COUNTING_DAY_FILE_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "counting/day_counts.h"
#include "support/date_time.h"
#include "support/safe_file.h"

namespace tly {

// The data row of one slot, without line end: the shop code, the slot's date
// stamp "dd/mm/yyyy" and time stamp "hh:nn", then one count field per channel
// from channel 0 on, each a space and the signed decimal counter. Fields are
// separated by TAB. `channels_per_row` count fields are written, limited to
// 0..64 (a row has no more counters than a slot).
std::string FormatSlotRow(std::string_view shop_code, const SlotCounts& slot,
                          int32_t channels_per_row);

// The rows of `day` as the day file holds them: one CR LF terminated row per
// slot from 0 to day.LastSlot that is used or lies in the forced range from
// the quarter hour of from_time to that of to_time (times of day only; an
// empty range when from is after to). Rows carry channels_per_row count
// fields, or day.ChannelCount when it is 0; any other value is limited to 4..64.
std::string FormatDayRows(const DayCounts& day, std::string_view shop_code, TDateTime from_time,
                          TDateTime to_time, int32_t channels_per_row);

// Replaces the day file `file_name` by FormatDayRows(...) alone (no header).
// The rows go to TempFileNameFor(file_name) (support/safe_file.h), which is
// renamed over the day file only once completely written and closed. Throws
// std::system_error when the file cannot be created, written or renamed; the
// day file is then left exactly as it was and no temporary file remains.
void WriteDayRows(const DayCounts& day, const std::string& file_name, std::string_view shop_code,
                  TDateTime from_time, TDateTime to_time, int32_t channels_per_row);

}  // namespace tly

#endif  // TLY_COUNTING_DAY_FILE_WRITER_H_
