#include "counting/day_file_writer.h"

#include <algorithm>

#include "dayfile/row_text.h"
#include "support/safe_file.h"

namespace tly {
namespace {

RowStamp StampOf(const SlotCounts& slot) {
  return RowStamp{slot.Day, slot.Month, slot.Year, slot.Hour, slot.Minute};
}

}  // namespace

std::string FormatSlotRow(std::string_view shop_code, const SlotCounts& slot,
                          int32_t channels_per_row) {
  const int32_t channels = std::clamp(channels_per_row, 0, kMaxChannels);
  std::string row(MaxRowLength(shop_code, channels), '\0');
  row.resize(static_cast<size_t>(
      PutRow(row.data(), shop_code, StampOf(slot), slot.Counts, channels) - row.data()));
  return row;
}

std::string FormatDayRows(const DayCounts& day, std::string_view shop_code, TDateTime from_time,
                          TDateTime to_time, int32_t channels_per_row) {
  const int32_t channels = channels_per_row == 0
                               ? std::clamp(day.ChannelCount, 0, kMaxChannels)
                               : std::max(std::min(channels_per_row, kMaxChannels), 4);
  const int from_slot = QuarterHourSlot(from_time);
  const int to_slot = QuarterHourSlot(to_time);
  const int32_t last_slot = std::min(day.LastSlot, kSlotsPerDay - 1);
  if (last_slot < 0) return {};

  // Formatted straight into one buffer sized for the longest possible rows,
  // then cut to what was written: a full day takes no reallocation.
  const size_t row_room = MaxRowLength(shop_code, channels) + 2;
  std::string text(static_cast<size_t>(last_slot + 1) * row_room, '\0');
  char* const start = text.data();
  char* out = start;
  for (int32_t s = 0; s <= last_slot; ++s) {
    if (day.SlotUsed[s] == 0 && (s < from_slot || s > to_slot)) continue;
    out = PutRow(out, shop_code, StampOf(day.Slots[s]), day.Slots[s].Counts, channels);
    *out++ = '\r';
    *out++ = '\n';
  }
  text.resize(static_cast<size_t>(out - start));
  return text;
}

void WriteDayRows(const DayCounts& day, const std::string& file_name, std::string_view shop_code,
                  TDateTime from_time, TDateTime to_time, int32_t channels_per_row) {
  ReplaceFileWith(file_name, FormatDayRows(day, shop_code, from_time, to_time, channels_per_row));
}

}  // namespace tly
