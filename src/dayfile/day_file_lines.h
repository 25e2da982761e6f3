#ifndef TLY_DAYFILE_DAY_FILE_LINES_H_
#define TLY_DAYFILE_DAY_FILE_LINES_H_

#include <string_view>

// The classes of a day file's lines, as a reader tells them apart. The format
// itself is described in doc/day-file-format.md.

namespace tly {

// The two column title lines between a day file's header and its data lines.
inline constexpr std::string_view kTitleLine1 = "Magasin \tDate \tHeure \t CANALS\t\t\t";
inline constexpr std::string_view kTitleLine2 = "\t\t\tCNL1\tCNL2\tCNL3\tCNL4";

// Every line of a day file ends with these two bytes.
inline constexpr std::string_view kLineEnd = "\r\n";

// True for a header line: at least 2 characters, the first one '#'.
bool IsTagLine(std::string_view line);

// True for the seal line: a tag line whose second character is 'S'.
bool IsSealLine(std::string_view line);

// The seal a seal line carries: its text from the third character on (empty
// for a bare "#S").
std::string_view SealTextOf(std::string_view seal_line);

// True for a data line: at least 2 characters, not beginning with '#', and
// containing neither "Magasin" nor "CNL" (so the title lines are not data).
bool IsDataLine(std::string_view line);

}  // namespace tly

#endif  // TLY_DAYFILE_DAY_FILE_LINES_H_
