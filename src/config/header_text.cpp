#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>
#include <system_error>

#include "config/date_time_separators.h"
#include "config/tly_config.h"
#include "support/clock.h"
#include "support/date_time.h"

namespace tly {
namespace {

constexpr std::string_view kUpdatedText = "last updated at ";

// "dd/mm/yyyy hh:nn" of `moment`, with the separators of the user's locale.
std::string FormatUpdateMoment(TDateTime moment) {
  const DateTimeSeparators separators = LocaleDateTimeSeparators();
  const CivilDate date = DecodeDate(moment);
  const TimeOfDay time = DecodeTime(moment);
  char text[48];
  std::snprintf(text, sizeof text, "%02d%c%02d%c%04d %02d%c%02d", date.Day, separators.Date,
                date.Month, separators.Date, date.Year, time.Hour, separators.Time, time.Minute);
  return text;
}

// `value` with three decimals, '.' as decimal mark whatever the locale says,
// padded on the left with blanks to at least 5 characters.
std::string FormatKValue(double value) {
  // Wide enough for the largest double in fixed notation.
  char digits[400];
  const std::to_chars_result result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 3);
  std::string text(digits, result.ec == std::errc() ? result.ptr : digits);
  if (text.size() < 5) text.insert(0, 5 - text.size(), ' ');
  return text;
}

char KindLetter(std::int32_t kind, bool out) {
  switch (kind) {
    case 1:
      return out ? 'B' : 'A';
    case 2:
      return out ? 'D' : 'C';
    default:
      return out ? 'X' : 'E';
  }
}

// The highest number of an active entry, 0 when none is active.
template <typename Table>
int HighestActive(const Table& table) {
  int highest = 0;
  for (int n = 1; n <= Table::kCount; ++n) {
    if (table[n].Active) highest = n;
  }
  return highest;
}

}  // namespace

void TTlyConfig::BuildHeaderLines(std::vector<std::string>& lines) const {
  BuildHeaderLines(lines, CurrentClock().Now());
}

void TTlyConfig::BuildHeaderLines(std::vector<std::string>& lines, TDateTime updated_at) const {
  lines.clear();
  const std::string_view type = DeviceType.View();
  const bool rv9 = type == "RV9";
  const bool qdx = type == "QDX";
  const bool tly08 = type == "TLY08";
  const bool tly01 = type == "TLY01";

  lines.push_back("#T" + DeviceType.Str());
  if (!ShopName.Empty()) lines.push_back("# Shop name: " + ShopName.Str());
  lines.push_back("#M " + std::string(kUpdatedText) + FormatUpdateMoment(updated_at));

  int door_lines = 4;
  if (rv9) door_lines = std::max(HighestActive(doors_), 4);
  if (qdx) door_lines = kDoorCount;
  if (tly08) door_lines = 8;
  for (int d = 1; d <= door_lines; ++d) {
    const DoorEntry& door = doors_[d];
    lines.push_back("#D" + std::to_string(d) + door.Kind + door.Name.Str());
  }

  int channel_lines = 0;
  if (rv9) channel_lines = std::max(HighestActive(channels_), 8);
  if (qdx) channel_lines = kChannelCount;
  if (tly08 || tly01) channel_lines = 8;
  for (int n = 1; n <= channel_lines; ++n) {
    const ChannelEntry& channel = channels_[n];
    bool active = channel.Active;
    bool out = channel.IsOut;
    std::int32_t door_number = channel.DoorIndex;
    if (tly01) {
      // A single-door-pair device: the doors decide, channels 1..4 count in
      // and 5..8 count out.
      door_number = ((n - 1) % 4) + 1;
      const DoorEntry& door = doors_[door_number];
      out = n > 4;
      active = out ? door.Active && door.HasOut : door.Active;
    }
    std::string line = "#C" + std::to_string(n) + (active ? 'Y' : 'I') +
                       KindLetter(channel.Kind, out) + std::to_string(door_number);
    if (!channel.Name.Empty()) line += ' ' + channel.Name.Str();
    lines.push_back(std::move(line));
  }

  std::string marks = "#R";
  for (int k = 1; k <= 16; ++k) marks += ((Flags >> (11 + k)) & 1u) != 0 ? '2' : '1';
  lines.push_back(std::move(marks));
  lines.push_back("#K" + FormatKValue(KValue));
  lines.push_back("#F" + std::to_string(FValue));
  lines.push_back("#S" + Seal);
}

std::string TTlyConfig::GetHeaderText() const {
  std::vector<std::string> lines;
  BuildHeaderLines(lines);
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace tly
