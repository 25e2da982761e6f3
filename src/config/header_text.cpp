#include <algorithm>
#include <cstdio>
#include <string>

#include "config/date_time_separators.h"
#include "config/tly_config.h"
#include "dayfile/header_lines.h"
#include "support/clock.h"
#include "support/date_time.h"

namespace tly {
namespace {

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
  const std::string_view type = DeviceType.View();
  const bool rv9 = type == "RV9";
  const bool qdx = type == "QDX";
  const bool tly08 = type == "TLY08";
  const bool tly01 = type == "TLY01";

  HeaderValues values;
  values.device_type = DeviceType.Str();
  values.shop_name = ShopName.Str();
  values.updated = FormatUpdateMoment(updated_at);

  int door_lines = 4;
  if (rv9) door_lines = std::max(HighestActive(doors_), 4);
  if (qdx) door_lines = kDoorCount;
  if (tly08) door_lines = 8;
  for (int d = 1; d <= door_lines; ++d) {
    values.doors.push_back({d, doors_[d].Kind, doors_[d].Name.Str()});
  }

  int channel_lines = 0;
  if (rv9) channel_lines = std::max(HighestActive(channels_), 8);
  if (qdx) channel_lines = kChannelCount;
  if (tly08 || tly01) channel_lines = 8;
  for (int n = 1; n <= channel_lines; ++n) {
    const ChannelEntry& channel = channels_[n];
    HeaderChannel line{n,   channel.Active,    channel.IsOut,
                       'E', channel.DoorIndex, channel.Name.Str()};
    if (tly01) {
      // A single-door-pair device: the doors decide, channels 1..4 count in
      // and 5..8 count out.
      line.door = ((n - 1) % 4) + 1;
      const DoorEntry& door = doors_[line.door];
      line.out = n > 4;
      line.active = line.out ? door.Active && door.HasOut : door.Active;
    }
    line.kind_letter = KindLetter(channel.Kind, line.out);
    values.channels.push_back(std::move(line));
  }

  for (int k = 1; k <= 16; ++k) values.marks[k - 1] = ((Flags >> (11 + k)) & 1u) != 0;
  values.k_value = KValue;
  values.f_value = FValue;
  values.seal = Seal;
  lines = HeaderLines(values);
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
