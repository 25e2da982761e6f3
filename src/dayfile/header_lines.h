#ifndef TLY_DAYFILE_HEADER_LINES_H_
#define TLY_DAYFILE_HEADER_LINES_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "dayfile/header_layout.h"

// The header of a day file as it is written: the lines that header_layout.h
// reads back, from plain values, so that the format of each line is known in
// one place. The format itself is described in doc/day-file-format.md.

namespace tly {

// How the "#M" line begins before the moment of the save.
inline constexpr std::string_view kUpdatedLineStart = "#M last updated at ";

// What a header says, line by line.
struct HeaderValues {
  std::string device_type;              // the "#T" text
  std::string shop_name;                // "" writes no shop name line
  std::string updated;                  // the moment of the save as the "#M" line shows it
  std::vector<HeaderDoor> doors;        // one "#D" line each, in order
  std::vector<HeaderChannel> channels;  // one "#C" line each, in order
  std::array<bool, 16> marks{};         // the "#R" line: a set mark is '2', else '1'
  double k_value = 1.0;                 // the "#K" line
  int32_t f_value = 0;                  // the "#F" line
  std::string seal;                     // the "#S" text
};

// The header lines of `values`, without line ends: "#T", the shop name line
// when there is a name, "#M", the door and channel lines, "#R", "#K" (three
// decimals, '.' whatever the locale, padded with blanks on the left to at
// least 5 characters), "#F" and "#S". Never fails on any content.
std::vector<std::string> HeaderLines(const HeaderValues& values);

}  // namespace tly

#endif  // TLY_DAYFILE_HEADER_LINES_H_
