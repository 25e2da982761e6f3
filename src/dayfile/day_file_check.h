#ifndef TLY_DAYFILE_DAY_FILE_CHECK_H_
#define TLY_DAYFILE_DAY_FILE_CHECK_H_

#include <string>
#include <string_view>

namespace tly {

// The verdict on a day file: sound, or the first problem found, in words.
struct DayFileCheck {
  bool ok = true;
  std::string problem;  // empty when ok
};

// The verdict of the strict reading (InspectDayFile of day_file_findings.h,
// for a file whose name is no day) on the structure of a day file's bytes:
// its first finding about the line ends (every line ended by CR LF), the
// header from its "#T" line to its "#S" line, the two title lines, the rows
// (fields, date, time, order, count fields) or the seal. What a file of
// sound structure may still hold (stray bytes, missing header lines, count
// fields the header does not describe, another shop code, negative counts
// or occupancy) is left to InspectDayFile's other findings: a writer's own
// output passes this check whatever layout its rows have. Never throws for
// any input (beyond std::bad_alloc).
DayFileCheck CheckDayFile(std::string_view bytes);

}  // namespace tly

#endif  // TLY_DAYFILE_DAY_FILE_CHECK_H_
