#ifndef TLY_COUNTING_DAY_FILE_LOADER_H_
#define TLY_COUNTING_DAY_FILE_LOADER_H_

#include <string>

#include "counting/day_counts.h"

namespace tly {

// Initialises `day` for the day of the file (the date in its name, else today
// by CurrentClock(); the date of the last data row wins when it is valid:
// "dd/mm/yyyy", or "dd/mm/yy" for 20yy) and merges the data rows of
// `file_name` into it by their time of day. A row's count fields replace the
// slot's counters from channel 0 on, up to the first field that is empty or
// not an integer (as ParseFieldInteger reads it). Rows without a valid "hh:nn"
// time are skipped. The rows are read with the day file reader
// (dayfile/day_file_reader.h).
//
// Returns false when the file exists but could not be read: `day` then keeps
// what was merged before the failure and lacks the file's rows, so the caller
// must not replace the file with it. True otherwise, a missing file included.
// Throws nothing but std::bad_alloc.
bool LoadDayFile(const std::string& file_name, DayCounts& day);

}  // namespace tly

#endif  // TLY_COUNTING_DAY_FILE_LOADER_H_
