#include "dayfile/day_file_lines.h"

namespace tly {

bool IsTagLine(std::string_view line) {
  return line.size() >= 2 && line[0] == '#';
}

bool IsSealLine(std::string_view line) {
  return IsTagLine(line) && line[1] == 'S';
}

std::string_view SealTextOf(std::string_view seal_line) {
  return seal_line.size() > 2 ? seal_line.substr(2) : std::string_view();
}

bool IsDataLine(std::string_view line) {
  return line.size() >= 2 && line[0] != '#' && line.find("Magasin") == std::string_view::npos &&
         line.find("CNL") == std::string_view::npos;
}

}  // namespace tly
