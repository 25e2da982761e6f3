#include "dayfile/day_file_name.h"

#include <cstdint>

#include "dayfile/row_text.h"

namespace tly {

int YearOfTwoDigits(int yy) {
  return yy > kTwoDigitYearPivot ? 1900 + yy : 2000 + yy;
}

std::string DayFileBaseName(TDateTime date) {
  return FormatYyMmDd(date) + ".tly";
}

std::string DayFileNameFor(const std::string& out_dir, TDateTime date) {
  std::string name = out_dir;
  if (name.empty() || name.back() != '/') name += '/';
  name += DayFileBaseName(date);
  return name;
}

TDateTime DateFromFileName(std::string_view path) {
  std::string_view name = path.substr(path.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);

  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  bool converted = false;
  if (name.size() == 8) {
    converted = ParseCharsInteger(name, 1, 4, year) && ParseCharsInteger(name, 5, 2, month) &&
                ParseCharsInteger(name, 7, 2, day);
  } else if (name.size() == 6) {
    converted = ParseCharsInteger(name, 1, 2, year) && ParseCharsInteger(name, 3, 2, month) &&
                ParseCharsInteger(name, 5, 2, day);
    if (converted && year >= 0) year = YearOfTwoDigits(year);
  }
  const auto in_range = [](int32_t v) { return v >= 0 && v <= 65535; };
  TDateTime date = kNoDate;
  if (!converted || !in_range(year) || !in_range(month) || !in_range(day) ||
      !TryEncodeDate(year, month, day, date)) {
    return kNoDate;
  }
  return date;
}

}  // namespace tly
