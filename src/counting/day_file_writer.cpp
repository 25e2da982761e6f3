#include "counting/day_file_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "support/safe_file.h"

namespace tly {
namespace {

// Longest value "%.<width>d" can give for widths up to 4: a sign and ten digits.
constexpr size_t kMaxDecimalLength = 11;

// Writes `value` at `out` like printf's "%.<width>d" (a minus sign for a
// negative value, then at least `width` digits, zero-filled on the left) and
// returns the position behind it. `out` needs kMaxDecimalLength bytes.
char* PutDecimal(char* out, int32_t value, int width) {
  // The magnitude as unsigned, so that INT32_MIN needs no signed negation.
  const uint32_t magnitude =
      value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  if (value < 0) *out++ = '-';
  char* const digits = out;
  out = std::to_chars(digits, digits + 10, magnitude).ptr;
  const int length = static_cast<int>(out - digits);
  if (length < width) {
    const int padding = width - length;
    std::memmove(digits + padding, digits, static_cast<size_t>(length));
    std::memset(digits, '0', static_cast<size_t>(padding));
    out += padding;
  }
  return out;
}

// Counts below this are looked up instead of converted: a full day has 6,144
// of them per save, and the generator's counts are small.
constexpr uint32_t kTabledCounts = 10000;

// The digits of 0..9999 from the left of four bytes, in memory order.
constexpr std::array<std::array<char, 4>, kTabledCounts> kCountDigits = [] {
  std::array<std::array<char, 4>, kTabledCounts> table{};
  for (uint32_t value = 0; value < kTabledCounts; ++value) {
    char reversed[4];
    int length = 0;
    uint32_t rest = value;
    do {
      reversed[length++] = static_cast<char>('0' + rest % 10);
      rest /= 10;
    } while (rest != 0);
    for (int i = 0; i < length; ++i) table[value][i] = reversed[length - 1 - i];
  }
  return table;
}();

// Writes the count field "\t <value>" at `out` and returns the position
// behind it. `out` needs 13 bytes, of which only the field's own are
// meaningful. The length of a tabled count is computed rather than looked
// up, so that where the next field goes never waits for the table.
char* PutCountField(char* out, int32_t value) {
  out[0] = '\t';
  out[1] = ' ';
  const uint32_t tabled = static_cast<uint32_t>(value);
  if (tabled >= kTabledCounts) return PutDecimal(out + 2, value, 1);
  std::memcpy(out + 2, kCountDigits[tabled].data(), 4);
  return out + 3 + (tabled >= 10) + (tabled >= 100) + (tabled >= 1000);
}

// Longest row without line end: the shop code, "\tdd/mm/yyyy\thh:nn" with
// each stamp at its longest, then "\t -2147483648" per channel.
size_t MaxRowLength(std::string_view shop_code, int32_t channels) {
  return shop_code.size() + 5 * (kMaxDecimalLength + 1) +
         static_cast<size_t>(channels) * (kMaxDecimalLength + 2);
}

// Writes the row of `slot` with `channels` (0..64) count fields at `out` and
// returns the position behind it. `out` needs MaxRowLength bytes.
char* PutSlotRow(char* out, std::string_view shop_code, const SlotCounts& slot, int32_t channels) {
  out = std::copy(shop_code.begin(), shop_code.end(), out);
  *out++ = '\t';
  out = PutDecimal(out, slot.Day, 2);
  *out++ = '/';
  out = PutDecimal(out, slot.Month, 2);
  *out++ = '/';
  out = PutDecimal(out, slot.Year, 4);
  *out++ = '\t';
  out = PutDecimal(out, slot.Hour, 2);
  *out++ = ':';
  out = PutDecimal(out, slot.Minute, 2);
  for (int32_t j = 0; j < channels; ++j) {
    out = PutCountField(out, slot.Counts[j]);
  }
  return out;
}

}  // namespace

std::string FormatSlotRow(std::string_view shop_code, const SlotCounts& slot,
                          int32_t channels_per_row) {
  const int32_t channels = std::clamp(channels_per_row, 0, kMaxChannels);
  std::string row(MaxRowLength(shop_code, channels), '\0');
  row.resize(static_cast<size_t>(PutSlotRow(row.data(), shop_code, slot, channels) - row.data()));
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
    out = PutSlotRow(out, shop_code, day.Slots[s], channels);
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
