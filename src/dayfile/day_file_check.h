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

// Checks the bytes of a day file the way a reader of the format sees it:
// every line ends with CR LF (a lone LF, a stray CR or a last line without
// CR LF is a fault); the header starts with a "#T" line and runs, '#' lines
// only, to the first "#S" line; the two column title lines follow exactly;
// every further line is a data row (shop code, a valid date "dd/mm/yyyy" equal
// in every row, a time "hh:nn" whose quarter hour comes after the previous
// row's, and at most 64 count fields, each a space and a 32-bit decimal
// integer); and the "#S" text is the SHA-1 in upper-case hexadecimal of the
// rows, each followed by CR LF, or empty when there are no rows. The format
// itself is described in doc/day-file-format.md.
// Problems are reported in file order. Never throws for any input (beyond
// std::bad_alloc).
DayFileCheck CheckDayFile(std::string_view bytes);

}  // namespace tly

#endif  // TLY_DAYFILE_DAY_FILE_CHECK_H_
