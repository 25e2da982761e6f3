#include "dayfile/row_reading.h"

#include <charconv>

#include "dayfile/row_text.h"
#include "support/text_trim.h"

namespace tly {
namespace {

// The value of `text` when it is exactly `text.size()` decimal digits.
bool Digits(std::string_view text, int& value) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
  return parsed.ec == std::errc() && parsed.ptr == text.data() + text.size();
}

int QuarterOf(int32_t hour, int32_t minute) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return -1;
  return hour * 4 + minute / 15;
}

}  // namespace

std::vector<std::string_view> SplitRowFields(std::string_view row) {
  std::vector<std::string_view> fields;
  for (;;) {
    const size_t tab = row.find(kFieldDelimiter);
    fields.push_back(row.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    row.remove_prefix(tab + 1);
  }
}

bool ReadStrictDate(std::string_view field, CivilDate& date) {
  int day = 0, month = 0, year = 0;
  if (field.size() != 10 || field[2] != '/' || field[5] != '/' ||
      !Digits(field.substr(0, 2), day) || !Digits(field.substr(3, 2), month) ||
      !Digits(field.substr(6, 4), year) || !IsValidDate(year, month, day)) {
    return false;
  }
  date = {year, month, day};
  return true;
}

int StrictQuarterOf(std::string_view field) {
  int hour = 0, minute = 0;
  if (field.size() != 5 || field[2] != ':' || !Digits(field.substr(0, 2), hour) ||
      !Digits(field.substr(3, 2), minute)) {
    return -1;
  }
  return QuarterOf(hour, minute);
}

bool ReadStrictCount(std::string_view field, int32_t& value) {
  if (field.size() < 2 || field[0] != ' ') return false;
  int32_t parsed = 0;
  const char* end = field.data() + field.size();
  const auto result = std::from_chars(field.data() + 1, end, parsed);
  if (result.ec != std::errc() || result.ptr != end) return false;
  value = parsed;
  return true;
}

int LenientQuarterOf(std::string_view field) {
  const std::string_view time = TrimBlanksAndControls(field);
  int32_t hour = 0;
  int32_t minute = 0;
  if (!ParseCharsInteger(time, 1, 2, hour) || !ParseCharsInteger(time, 4, 2, minute)) return -1;
  return QuarterOf(hour, minute);
}

bool ReadLenientDate(std::string_view field, CivilDate& date) {
  const std::string_view text = TrimBlanksAndControls(field);
  int32_t day = 0;
  int32_t month = 0;
  int32_t year = date.Year;
  if (!ParseCharsInteger(text, 1, 2, day) || !ParseCharsInteger(text, 4, 2, month)) return false;
  if (text.size() == 10) {
    if (!ParseCharsInteger(text, 7, 4, year)) return false;
  } else if (text.size() == 8) {
    if (!ParseCharsInteger(text, 7, 2, year)) return false;
    year += 2000;
  }
  if (!IsValidDate(year, month, day)) return false;
  date = {year, month, day};
  return true;
}

}  // namespace tly
