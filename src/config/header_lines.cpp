#include "config/header_lines.h"

namespace tly {

bool IsTagLine(std::string_view line) {
  return line.size() >= 2 && line[0] == '#';
}

bool IsSealLine(std::string_view line) {
  return IsTagLine(line) && line[1] == 'S';
}

bool IsDataLine(std::string_view line) {
  return line.size() >= 2 && line[0] != '#' && line.find("Magasin") == std::string_view::npos &&
         line.find("CNL") == std::string_view::npos;
}

}  // namespace tly
