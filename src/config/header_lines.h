#ifndef TLY_CONFIG_HEADER_LINES_H_
#define TLY_CONFIG_HEADER_LINES_H_

#include <string_view>

namespace tly {

// The two column title lines between a day file's header and its data lines.
inline constexpr std::string_view kTitleLine1 = "Magasin \tDate \tHeure \t CANALS\t\t\t";
inline constexpr std::string_view kTitleLine2 = "\t\t\tCNL1\tCNL2\tCNL3\tCNL4";

// True for a header line: at least 2 characters, the first one '#'.
bool IsTagLine(std::string_view line);

// True for the seal line: a tag line whose second character is 'S'.
bool IsSealLine(std::string_view line);

// True for a data line: at least 2 characters, not beginning with '#', and
// containing neither "Magasin" nor "CNL" (so the title lines are not data).
bool IsDataLine(std::string_view line);

}  // namespace tly

#endif  // TLY_CONFIG_HEADER_LINES_H_
