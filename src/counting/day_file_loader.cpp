#include "counting/day_file_loader.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "dayfile/day_file_name.h"
#include "dayfile/day_file_reader.h"
#include "dayfile/row_reading.h"
#include "dayfile/row_text.h"
#include "support/clock.h"

namespace tly {
namespace {

// The last data row's date decides the day when it is a valid date:
// "dd/mm/yyyy", or "dd/mm/yy" for 20yy (a row's two-digit year has no
// century rule of its own); with any other length only day and month are
// read and the record's year stays.
void TakeDateOfLastRow(std::string_view last_line, DayCounts& day) {
  FieldReader fields(last_line);
  fields.Next();
  CivilDate civil = DecodeDate(day.Date);
  TDateTime date = 0;
  if (!ReadLenientDate(fields.Next(), civil) ||
      !TryEncodeDate(civil.Year, civil.Month, civil.Day, date)) {
    return;
  }
  if (date != day.Date) InitDayCountsFor(day, date);
}

// Merges one data row into the slot of its time; a row without a valid time
// is skipped.
void MergeRow(std::string_view line, DayCounts& day) {
  FieldReader fields(line);
  fields.Next();
  fields.Next();
  const int32_t s = LenientQuarterOf(fields.Next());
  if (s < 0) return;
  MarkSlotUsed(day, s);
  int32_t channels = 0;
  while (channels < kMaxChannels &&
         ParseFieldInteger(fields.Next(), day.Slots[s].Counts[channels])) {
    ++channels;
  }
  day.ChannelCount = std::max(day.ChannelCount, channels);
}

}  // namespace

bool LoadDayFile(const std::string& file_name, DayCounts& day) {
  InitDayCountsFor(day, DatePart(CurrentClock().Now()));
  const TDateTime named = DateFromFileName(file_name);
  if (named > 0) InitDayCountsFor(day, named);

  std::optional<std::string> text;
  try {
    text = ReadDayFileBytes(file_name);
  } catch (const std::system_error&) {
    // An unreadable file ends the loading: the day stays as initialised.
    return false;
  }
  if (!text) return true;
  std::vector<std::string_view> rows;
  ScanDayFileText(*text, [&rows](std::string_view row) { rows.push_back(row); });
  if (!rows.empty()) TakeDateOfLastRow(rows.back(), day);
  for (const std::string_view row : rows) MergeRow(row, day);
  return true;
}

}  // namespace tly
