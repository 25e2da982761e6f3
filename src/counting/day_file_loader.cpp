#include "counting/day_file_loader.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "config/tly_config.h"
#include "support/clock.h"
#include "support/text_trim.h"

namespace tly {
namespace {

constexpr size_t kMaxFieldLength = 255;
constexpr char kFieldDelimiter = '\t';

// The integer of `text` once trimmed: an optional '+' or '-' and decimal
// digits only, within the signed 32-bit range. False for anything else.
bool ParseInteger(std::string_view text, int32_t& value) {
  text = TrimBlanksAndControls(text);
  // from_chars takes a '-' but no '+'.
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  const size_t first_digit = !text.empty() && text.front() == '-' ? 1 : 0;
  if (text.size() == first_digit) return false;
  if (!std::all_of(text.begin() + first_digit, text.end(),
                   [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  int32_t parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

// Characters `first` (1-based) to `first + count - 1` of `text`, as far as
// `text` reaches.
std::string_view Chars(std::string_view text, size_t first, size_t count) {
  if (first - 1 >= text.size()) return {};
  return text.substr(first - 1, count);
}

bool ParseChars(std::string_view text, size_t first, size_t count, int32_t& value) {
  return ParseInteger(Chars(text, first, count), value);
}

// Hands out the fields of a line one after the other, each cut like
// ExtractField's, so that a long line is walked once and not once per field.
class FieldReader {
 public:
  explicit FieldReader(std::string_view line) : rest_(line) {}

  std::string_view Next() {
    if (exhausted_) return {};
    const size_t end = rest_.find(kFieldDelimiter);
    std::string_view field = rest_.substr(0, end);
    if (end == std::string_view::npos) {
      exhausted_ = true;
    } else {
      rest_.remove_prefix(end + 1);
    }
    return field.substr(0, kMaxFieldLength);
  }

 private:
  std::string_view rest_;
  bool exhausted_ = false;
};

void InitDayCountsFor(DayCounts& day, TDateTime date) {
  const CivilDate civil = DecodeDate(date);
  InitDayCounts(day, static_cast<uint16_t>(civil.Year), static_cast<uint16_t>(civil.Month),
                static_cast<uint16_t>(civil.Day));
}

// The last data row's date decides the day when it is a valid date:
// "dd/mm/yyyy", or "dd/mm/yy" for 20yy; with any other length only day and
// month are read and the record's year stays.
void TakeDateOfLastRow(std::string_view last_line, DayCounts& day) {
  FieldReader fields(last_line);
  fields.Next();
  const std::string_view text = TrimBlanksAndControls(fields.Next());
  int32_t day_of_month = 0;
  int32_t month = 0;
  int32_t year = DecodeDate(day.Date).Year;
  if (!ParseChars(text, 1, 2, day_of_month) || !ParseChars(text, 4, 2, month)) return;
  if (text.size() == 10) {
    if (!ParseChars(text, 7, 4, year)) return;
  } else if (text.size() == 8) {
    if (!ParseChars(text, 7, 2, year)) return;
    year += 2000;
  }
  TDateTime date = 0;
  if (!TryEncodeDate(year, month, day_of_month, date)) return;
  if (date != day.Date) InitDayCountsFor(day, date);
}

// Merges one data row into the slot of its time; a row without a valid time
// is skipped.
void MergeRow(std::string_view line, DayCounts& day) {
  FieldReader fields(line);
  fields.Next();
  fields.Next();
  const std::string_view time = TrimBlanksAndControls(fields.Next());
  int32_t hour = 0;
  int32_t minute = 0;
  if (!ParseChars(time, 1, 2, hour) || !ParseChars(time, 4, 2, minute)) return;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return;

  const int32_t s = hour * 4 + minute / 15;
  day.SlotUsed[s] = 1;
  day.FirstSlot = std::min(day.FirstSlot, s);
  day.LastSlot = std::max(day.LastSlot, s);
  int32_t channels = 0;
  while (channels < kMaxChannels && ParseInteger(fields.Next(), day.Slots[s].Counts[channels])) {
    ++channels;
  }
  day.ChannelCount = std::max(day.ChannelCount, channels);
}

}  // namespace

bool LoadDayFile(const std::string& file_name, DayCounts& day, TTlyConfig& config) noexcept {
  try {
    InitDayCountsFor(day, DatePart(CurrentClock().Now()));
    const TDateTime named = DateFromFileName(file_name);
    if (named > 0) InitDayCountsFor(day, named);

    std::vector<std::string> lines;
    config.ReadDataLines(file_name, lines);
    if (!lines.empty()) TakeDateOfLastRow(lines.back(), day);
    for (const std::string& line : lines) MergeRow(line, day);
    return true;
  } catch (...) {
    // An unreadable file (or no memory for it) ends the loading; what was
    // merged so far stands.
    return false;
  }
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
    converted = ParseChars(name, 1, 4, year) && ParseChars(name, 5, 2, month) &&
                ParseChars(name, 7, 2, day);
  } else if (name.size() == 6) {
    converted = ParseChars(name, 1, 2, year) && ParseChars(name, 3, 2, month) &&
                ParseChars(name, 5, 2, day);
    if (converted && year >= 0) year += year > 90 ? 1900 : 2000;
  }
  const auto in_range = [](int32_t v) { return v >= 0 && v <= 65535; };
  TDateTime date = kNoDate;
  if (!converted || !in_range(year) || !in_range(month) || !in_range(day) ||
      !TryEncodeDate(year, month, day, date)) {
    return kNoDate;
  }
  return date;
}

std::string ExtractField(std::string_view line, char delimiter, int32_t n) {
  if (n < 0) return {};
  for (int32_t i = 0; i < n; ++i) {
    const size_t next = line.find(delimiter);
    if (next == std::string_view::npos) return {};
    line.remove_prefix(next + 1);
  }
  return std::string(line.substr(0, line.find(delimiter)).substr(0, kMaxFieldLength));
}

}  // namespace tly
