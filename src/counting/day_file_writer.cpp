#include "counting/day_file_writer.h"

#include <algorithm>
#include <charconv>

#include "support/safe_file.h"

namespace tly {
namespace {

// Appends `value` like printf's "%.<width>d": a minus sign for a negative
// value, then at least `width` digits, zero-filled on the left.
void AppendDecimal(std::string& out, int32_t value, int width = 1) {
  char digits[16];
  // The magnitude as unsigned, so that INT32_MIN needs no signed negation.
  const uint32_t magnitude =
      value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  const auto result = std::to_chars(digits, digits + sizeof digits, magnitude);
  const int length = static_cast<int>(result.ptr - digits);
  if (value < 0) out.push_back('-');
  if (length < width) out.append(static_cast<size_t>(width - length), '0');
  out.append(digits, result.ptr);
}

void AppendSlotRow(std::string& out, std::string_view shop_code, const SlotCounts& slot,
                   int32_t channels) {
  out.append(shop_code);
  out.push_back('\t');
  AppendDecimal(out, slot.Day, 2);
  out.push_back('/');
  AppendDecimal(out, slot.Month, 2);
  out.push_back('/');
  AppendDecimal(out, slot.Year, 4);
  out.push_back('\t');
  AppendDecimal(out, slot.Hour, 2);
  out.push_back(':');
  AppendDecimal(out, slot.Minute, 2);
  const int32_t n = std::clamp(channels, 0, kMaxChannels);
  for (int32_t j = 0; j < n; ++j) {
    out.append("\t ");
    AppendDecimal(out, slot.Counts[j]);
  }
}

// Longest row: shop code, "\tdd/mm/yyyy\thh:nn", then "\t -2147483648" per channel.
size_t MaxRowLength(std::string_view shop_code, int32_t channels) {
  return shop_code.size() + 17 + static_cast<size_t>(channels) * 13 + 2;
}

}  // namespace

std::string FormatSlotRow(std::string_view shop_code, const SlotCounts& slot,
                          int32_t channels_per_row) {
  std::string row;
  row.reserve(MaxRowLength(shop_code, std::clamp(channels_per_row, 0, kMaxChannels)));
  AppendSlotRow(row, shop_code, slot, channels_per_row);
  return row;
}

std::string TempFileNameFor(const std::string& day_file) {
  const size_t name_start = day_file.find_last_of('/') + 1;  // 0 when there is no '/'
  const size_t dot = day_file.find_last_of('.');
  if (dot == std::string::npos || dot < name_start ||
      std::string_view(day_file).substr(dot) == ".tmp") {
    return day_file + ".tmp";
  }
  return day_file.substr(0, dot) + ".tmp";
}

void WriteDayRows(const DayCounts& day, const std::string& file_name, std::string_view shop_code,
                  TDateTime from_time, TDateTime to_time, int32_t channels_per_row) {
  const int32_t n = channels_per_row == 0 ? std::clamp(day.ChannelCount, 0, kMaxChannels)
                                          : std::max(std::min(channels_per_row, kMaxChannels), 4);
  const int from_slot = QuarterHourSlot(from_time);
  const int to_slot = QuarterHourSlot(to_time);
  const int32_t last_slot = std::min(day.LastSlot, kSlotsPerDay - 1);

  std::string text;
  if (last_slot >= 0) {
    text.reserve(static_cast<size_t>(last_slot + 1) * MaxRowLength(shop_code, n));
  }
  for (int32_t s = 0; s <= last_slot; ++s) {
    if (day.SlotUsed[s] == 0 && (s < from_slot || s > to_slot)) continue;
    AppendSlotRow(text, shop_code, day.Slots[s], n);
    text.append("\r\n");
  }

  const std::string temp = TempFileNameFor(file_name);
  try {
    NewFile file(temp);
    file.Write(text);
    file.Close();
    RenameOver(temp, file_name);
  } catch (...) {
    RemoveQuietly(temp);
    throw;
  }
}

}  // namespace tly
