#include "dayfile/day_file_check.h"

#include <charconv>
#include <cstdint>
#include <vector>

#include "dayfile/day_file_lines.h"
#include "dayfile/row_text.h"
#include "dayfile/sealed_image.h"
#include "support/date_time.h"

namespace tly {
namespace {

DayFileCheck Bad(std::string problem) {
  return {false, std::move(problem)};
}

std::string LineLabel(size_t index) {
  return "line " + std::to_string(index + 1);
}

// Splits `bytes` into lines without their CR LF; returns the problem when a
// line is not ended by exactly CR LF.
std::string SplitLines(std::string_view bytes, std::vector<std::string_view>& lines) {
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t lf = bytes.find('\n', start);
    const std::string label = LineLabel(lines.size());
    if (lf == std::string_view::npos) return label + " does not end with CR LF";
    const size_t cr = bytes.find('\r', start);
    if (cr == std::string_view::npos || cr >= lf) return label + " ends with LF without CR";
    if (cr != lf - 1) return label + " holds a CR inside the line";
    lines.push_back(bytes.substr(start, cr - start));
    start = lf + 1;
  }
  return {};
}

// The value of `text` when it consists of exactly `text.size()` decimal digits.
bool ParseDigits(std::string_view text, int& value) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

// Checks one data row; `date` is the first row's date field (set by the
// first row), `last_slot` the previous row's quarter hour (-1 before the
// first). Returns the problem or "".
std::string CheckRow(std::string_view line, std::string_view& date, int& last_slot) {
  const std::vector<std::string_view> fields = SplitFields(line);
  if (fields.size() < 3) return "has fewer than 3 fields";

  int day = 0, month = 0, year = 0;
  const std::string_view date_field = fields[1];
  if (date_field.size() != 10 || date_field[2] != '/' || date_field[5] != '/' ||
      !ParseDigits(date_field.substr(0, 2), day) || !ParseDigits(date_field.substr(3, 2), month) ||
      !ParseDigits(date_field.substr(6, 4), year) || !IsValidDate(year, month, day)) {
    return "has no valid date dd/mm/yyyy";
  }
  if (date.empty()) date = date_field;
  if (date_field != date) return "has another date than the first row";

  int hour = 0, minute = 0;
  const std::string_view time_field = fields[2];
  if (time_field.size() != 5 || time_field[2] != ':' ||
      !ParseDigits(time_field.substr(0, 2), hour) ||
      !ParseDigits(time_field.substr(3, 2), minute) || hour > 23 || minute > 59) {
    return "has no valid time hh:nn";
  }
  const int slot = hour * 4 + minute / 15;
  if (slot <= last_slot) return "does not come after the previous row's quarter hour";
  last_slot = slot;

  if (fields.size() - 3 > static_cast<size_t>(kMaxRowCounts))
    return "has more than 64 count fields";
  for (size_t i = 3; i < fields.size(); ++i) {
    const std::string_view field = fields[i];
    bool sound = field.size() >= 2 && field[0] == ' ';
    if (sound) {
      int32_t value = 0;
      const char* end = field.data() + field.size();
      const auto parsed = std::from_chars(field.data() + 1, end, value);
      sound = parsed.ec == std::errc() && parsed.ptr == end;
    }
    if (!sound) {
      return "has a count field that is not a space and a 32-bit integer (field " +
             std::to_string(i + 1) + ")";
    }
  }
  return {};
}

}  // namespace

DayFileCheck CheckDayFile(std::string_view bytes) {
  if (bytes.empty()) return Bad("the file is empty");
  std::vector<std::string_view> lines;
  if (std::string problem = SplitLines(bytes, lines); !problem.empty()) return Bad(problem);

  if (lines[0].substr(0, 2) != "#T") return Bad("line 1 does not begin with #T");
  size_t index = 0;
  while (!IsSealLine(lines[index])) {
    if (lines[index] == kTitleLine1) return Bad("no #S line ends the header");
    if (!IsTagLine(lines[index]))
      return Bad(LineLabel(index) + " is in the header but is no # line");
    if (++index == lines.size()) return Bad("no #S line ends the header");
  }
  const std::string_view seal = lines[index].substr(2);

  ++index;
  if (index == lines.size() || lines[index] != kTitleLine1) {
    return Bad(LineLabel(index) + " is not the first column title line");
  }
  ++index;
  if (index == lines.size() || lines[index] != kTitleLine2) {
    return Bad(LineLabel(index) + " is not the second column title line");
  }

  std::string rows;
  std::string_view date;
  int last_slot = -1;
  for (++index; index < lines.size(); ++index) {
    const std::string_view line = lines[index];
    if (!IsDataLine(line)) return Bad(LineLabel(index) + " is not a data row");
    if (std::string problem = CheckRow(line, date, last_slot); !problem.empty()) {
      return Bad(LineLabel(index) + " " + problem);
    }
    rows += line;
    rows += "\r\n";
  }

  const std::string expected = SealOfRows(rows);
  if (seal != expected) {
    return Bad("the seal \"" + std::string(seal) + "\" is not the SHA-1 of the rows (" +
               (expected.empty() ? std::string("empty: no rows") : expected) + ")");
  }
  return {};
}

}  // namespace tly
