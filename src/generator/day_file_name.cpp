#include "generator/day_file_name.h"

namespace tly {

std::string DayFileNameFor(const std::string& out_dir, TDateTime date) {
  std::string name = out_dir;
  if (name.empty() || name.back() != '/') name += '/';
  name += FormatYyMmDd(date);
  name += ".tly";
  return name;
}

}  // namespace tly
