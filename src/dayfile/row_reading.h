#ifndef TLY_DAYFILE_ROW_READING_H_
#define TLY_DAYFILE_ROW_READING_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "support/date_time.h"

// The one reading of a data row's fields, in two modes. The strict one is
// the format exactly (verify's, and so plot's and seal's): "dd/mm/yyyy",
// "hh:nn" and count fields of a blank and a 32-bit integer. The lenient one
// is the loader's, which takes whatever a row's fields can be read as:
// trimmed fields, an hour and a minute by their character positions, counts
// as ParseFieldInteger reads them. The format itself is described in
// doc/day-file-format.md.

namespace tly {

// The fields of `row` split at every TAB, none cut (a row without TAB is one
// field).
std::vector<std::string_view> SplitRowFields(std::string_view row);

// The strict date field: exactly "dd/mm/yyyy" in digits, a valid date. False
// (and `date` unchanged) for anything else.
bool ReadStrictDate(std::string_view field, CivilDate& date);

// The quarter hour (0..95) of the strict time field: exactly "hh:nn" in
// digits, the hour at most 23, the minute at most 59; -1 for anything else.
int StrictQuarterOf(std::string_view field);

// The strict count field: a blank, then a 32-bit decimal integer with an
// optional '-'. False (and `value` unchanged) for anything else.
bool ReadStrictCount(std::string_view field, int32_t& value);

// The quarter hour (0..95) of the lenient time field: trimmed of blanks and
// control characters, the hour is characters 1 to 2 and the minute 4 to 5
// (each as ParseFieldInteger reads it), whatever stands between or after
// them; the hour 0..23, the minute 0..59. -1 when it cannot be read so.
int LenientQuarterOf(std::string_view field);

// The lenient date field, trimmed: the day is characters 1 to 2, the month 4
// to 5, the year 7 to 10 of a 10-character date or 2000 plus 7 to 8 of an
// 8-character one (a row's two-digit year always means 20yy); with any other
// length `date.Year` stays as given. False (and `date` unchanged) when a part
// cannot be read or the date is not valid.
bool ReadLenientDate(std::string_view field, CivilDate& date);

}  // namespace tly

#endif  // TLY_DAYFILE_ROW_READING_H_
