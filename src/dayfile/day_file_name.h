#ifndef TLY_DAYFILE_DAY_FILE_NAME_H_
#define TLY_DAYFILE_DAY_FILE_NAME_H_

#include <string>
#include <string_view>

#include "support/date_time.h"

// The name of a day file and the date it stands for. The format itself is
// described in doc/day-file-format.md.

namespace tly {

// A day file is named "yymmdd.tly". A two-digit year above 90 stands for
// 19yy, any other for 20yy, so names tell apart the years 1991 to 2090; a
// day outside them would be written to (and read back from) the file of
// another century.
inline constexpr int kTwoDigitYearPivot = 90;
inline constexpr int kFirstNamedYear = 1900 + kTwoDigitYearPivot + 1;  // 1991
inline constexpr int kLastNamedYear = 2000 + kTwoDigitYearPivot;       // 2090

// The year a two-digit year `yy` (0..99) of a file name stands for.
int YearOfTwoDigits(int yy);

// "yymmdd.tly" of the date part of `date`.
std::string DayFileBaseName(TDateTime date);

// The day file of `date` in `out_dir`: the directory with a '/' added when it
// has none, then DayFileBaseName(date). An empty directory gives the bare
// "/yymmdd.tly".
std::string DayFileNameFor(const std::string& out_dir, TDateTime date);

// The date a file name stands for: the name without directory and extension
// is "yymmdd" (read with YearOfTwoDigits) or "yyyymmdd", each part a whole
// number (as ParseFieldInteger reads it) from 0 to 65535. Returns kNoDate
// (-1) when the name has another length or is not a valid date.
TDateTime DateFromFileName(std::string_view path);

}  // namespace tly

#endif  // TLY_DAYFILE_DAY_FILE_NAME_H_
