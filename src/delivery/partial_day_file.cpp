#include "delivery/partial_day_file.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "dayfile/day_file_lines.h"
#include "dayfile/row_text.h"
#include "dayfile/sealed_image.h"

namespace tly {
namespace {

constexpr std::string_view kUpdatedLine = "#M last updated at ";

// The lines of `text`, without their ends.
std::vector<std::string_view> LinesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(std::min(text.size(), end + 1));
  }
  return lines;
}

// "#M last updated at dd/mm/yyyy hh:nn" showing `day` at `minute`, its
// separators (those of the locale that wrote it) kept.
std::string UpdatedAt(std::string_view line, TDateTime day, int minute) {
  std::string text(line);
  if (text.size() != kUpdatedLine.size() + 16) return text;
  const CivilDate date = DecodeDate(day);
  char digits[64];
  std::snprintf(digits, sizeof digits, "%02d%02d%04d%02d%02d", date.Day, date.Month, date.Year,
                minute / 60, minute % 60);
  constexpr int kAt[12] = {0, 1, 3, 4, 6, 7, 8, 9, 11, 12, 14, 15};
  for (int i = 0; i < 12; ++i) text[kUpdatedLine.size() + kAt[i]] = digits[i];
  return text;
}

// Whether the quarter hour of data row `row` ("shop<TAB>date<TAB>hh:nn...")
// is over at `minute`.
bool OverBy(std::string_view row, int minute) {
  const std::string time = ExtractField(row, kFieldDelimiter, 2);
  int32_t hour = 0, of_hour = 0;
  if (!ParseCharsInteger(time, 1, 2, hour) || !ParseCharsInteger(time, 4, 2, of_hour)) return false;
  return hour * 60 + of_hour + 15 <= minute;
}

}  // namespace

std::string PartialDayFile(std::string_view final_bytes, TDateTime day, int minute) {
  const std::vector<std::string_view> lines = LinesOf(final_bytes);
  size_t seal = 0;
  while (seal < lines.size() && !IsSealLine(lines[seal])) ++seal;
  if (seal == lines.size()) return std::string(final_bytes);
  std::vector<std::string> header;
  for (size_t i = 0; i < seal; ++i) {
    header.push_back(lines[i].substr(0, kUpdatedLine.size()) == kUpdatedLine
                         ? UpdatedAt(lines[i], day, minute)
                         : std::string(lines[i]));
  }
  std::string rows;
  for (size_t i = seal + 1; i < lines.size(); ++i) {
    if (IsDataLine(lines[i]) && OverBy(lines[i], minute)) {
      rows.append(lines[i]).append(kLineEnd);
    }
  }
  header.push_back("#S" + SealOfRows(rows));
  return AssembleDayFile(header, rows);
}

}  // namespace tly
