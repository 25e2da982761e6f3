#ifndef TLY_DAYFILE_DAY_FILE_FINDINGS_H_
#define TLY_DAYFILE_DAY_FILE_FINDINGS_H_

#include <string>
#include <string_view>
#include <vector>

#include "support/date_time.h"

// Every problem the strict reading finds in a day file, not only the first:
// its structure (line ends, the header from #T to #S, the title lines, the
// rows and their seal), and what a reader can see beyond it without knowing
// how the file came about: stray bytes, missing header lines, rows of
// another day or shop, rows repeated or out of order, count fields the
// header does not describe, negative counts, and an occupancy that falls
// below zero. The format itself is described in doc/day-file-format.md.

namespace tly {

// What a finding is about.
enum class FindingKind {
  kEmptyFile,          // no bytes at all
  kLfLineEnds,         // lines ended by LF without CR (one finding for all of them)
  kCrInLine,           // a CR that does not end its line
  kTruncated,          // the file ends inside a line (the last line has no line end)
  kStrayByte,          // a byte outside printable ASCII where the format has ASCII only
  kHeader,             // the header's structure: #T first, '#' lines up to #S, tags once
  kMissingHeaderLine,  // #M, #R, #K or #F missing, or a gap in the #D or #C numbers
  kTitleLines,         // the two column title lines are not there
  kBadRow,             // a data row that is no row: fields, date, time or a count field
  kWrongDate,          // a row's date is not the first row's or the file name's day
  kOutOfOrder,         // a row's quarter hour does not come after the previous row's
  kDuplicateRow,       // a row that repeats the row before it
  kFieldCount,         // more or fewer count fields than the header's highest active channel
  kNegativeCount,      // a count below zero
  kShopCode,           // a shop code other than the first row's
  kNegativeOccupancy,  // entries minus exits since the day began fall below zero
  kBadSeal,            // the #S line is not the SHA-1 of the rows
};

// The name of `kind` in verify's JSON output.
std::string_view FindingKindName(FindingKind kind);

// One problem: where, what kind, in words.
struct DayFileFinding {
  int line = 0;  // from 1; 0 for the file as a whole
  FindingKind kind = FindingKind::kBadRow;
  std::string problem;  // a sentence that names the line
};

// Every problem of the day file `bytes`, ordered by line: the one strict
// reading, which verify reports and plot refuses on, so that both name the
// same first problem (CheckDayFile gives its first about the structure).
// `day` is the date the file's name stands for (kNoDate when it names none):
// every row must be of that day. A row is checked as far as it can be read; a file whose
// header has no #S line gets no row checks. The occupancy uses the header's
// active channels and their directions ("#C" lines) and is reported once, at
// the row where it first falls below zero; the count fields are checked
// against the highest active channel only when the header has channel lines.
// Never throws (beyond std::bad_alloc).
std::vector<DayFileFinding> InspectDayFile(std::string_view bytes, TDateTime day = kNoDate);

// The first problem InspectDayFile finds in the file `path` (its day taken
// from its name), or "" when it finds none or there is no such file. Throws
// std::system_error when the file cannot be read.
std::string FirstProblemOfDayFile(const std::string& path);

}  // namespace tly

#endif  // TLY_DAYFILE_DAY_FILE_FINDINGS_H_
