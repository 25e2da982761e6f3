#ifndef TLY_DAYFILE_SEALED_IMAGE_H_
#define TLY_DAYFILE_SEALED_IMAGE_H_

#include <string>
#include <string_view>
#include <vector>

// A whole day file assembled in memory: header lines, the two title lines and
// the data rows, sealed by the SHA-1 of the rows. The format itself is
// described in doc/day-file-format.md.

namespace tly {

// The seal of `rows` (each ended by CR LF): their SHA-1 as 40 upper-case
// hexadecimal digits, or "" when there are no rows.
std::string SealOfRows(std::string_view rows);

// The bytes of a day file: each of `header_lines` (the last of which is the
// "#S" line) followed by CR LF, the two title lines each followed by CR LF,
// then `rows` unchanged.
std::string AssembleDayFile(const std::vector<std::string>& header_lines, std::string_view rows);

}  // namespace tly

#endif  // TLY_DAYFILE_SEALED_IMAGE_H_
