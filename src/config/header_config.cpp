#include "config/header_config.h"

#include <charconv>
#include <cstdlib>
#include <string>

#include "dayfile/day_file_lines.h"
#include "dayfile/header_layout.h"

namespace tly {
namespace {

int KindOfLetter(char letter) {
  if (letter == 'A' || letter == 'B') return 1;
  if (letter == 'C' || letter == 'D') return 2;
  return 0;
}

// Reads "#R", "#K" and "#F" lines of the header into `config` where they
// follow their pattern.
void ReadValues(std::string_view text, TTlyConfig& config) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!IsTagLine(line) || IsSealLine(line)) break;
    const std::string_view value = line.substr(2);
    if (line[1] == 'R' && value.size() == 16 &&
        value.find_first_not_of("12") == std::string_view::npos) {
      uint32_t flags = config.Flags & ~(0xFFFFu << 12);
      for (int k = 1; k <= 16; ++k) {
        if (value[k - 1] == '2') flags |= 1u << (11 + k);
      }
      config.Flags = flags;
    } else if (line[1] == 'K') {
      const std::string number(value.substr(value.find_first_not_of(' ') == std::string_view::npos
                                                ? value.size()
                                                : value.find_first_not_of(' ')));
      char* parsed_end = nullptr;
      const double k = std::strtod(number.c_str(), &parsed_end);
      if (!number.empty() && parsed_end == number.c_str() + number.size()) config.KValue = k;
    } else if (line[1] == 'F') {
      int32_t f = 0;
      const auto [ptr, error] = std::from_chars(value.data(), value.data() + value.size(), f);
      if (error == std::errc() && ptr == value.data() + value.size()) config.FValue = f;
    }
  }
}

}  // namespace

std::optional<TTlyConfig> ConfigOfHeader(std::string_view text) {
  const HeaderLayout layout = ParseHeaderLayout(text);
  const std::string& type = layout.device_type;
  if ((type != "RV9" && type != "QDX" && type != "TLY08" && type != "TLY01") ||
      layout.channels.empty() || !layout.problems.empty()) {
    return std::nullopt;
  }
  for (const HeaderDoor& door : layout.doors) {
    if (!DoorTable::Contains(door.number)) return std::nullopt;
  }
  for (const HeaderChannel& channel : layout.channels) {
    if (!ChannelTable::Contains(channel.number) || !DoorTable::Contains(channel.door)) {
      return std::nullopt;
    }
  }
  TTlyConfig config;
  config.SetDeviceType(type);
  config.Flags = 0;
  DoorTable& doors = config.GetDoorTable();
  ChannelTable& channels = config.GetChannelTable();
  for (DoorEntry& door : doors) {
    door = DoorEntry{};
    door.Kind = 'D';
  }
  for (ChannelEntry& channel : channels) channel = ChannelEntry{};
  for (const HeaderDoor& door : layout.doors) {
    doors[door.number].Kind = door.kind;
    doors[door.number].Name = door.name;
  }
  for (const HeaderChannel& channel : layout.channels) {
    ChannelEntry& entry = channels[channel.number];
    entry.Active = channel.active;
    entry.IsOut = channel.out;
    entry.DoorIndex = channel.door;
    entry.Kind = KindOfLetter(channel.kind_letter);
    entry.Name = channel.name;
  }
  config.SyncDoorsFromChannels();
  config.BuildTly01Channels();
  config.ShopName = layout.shop_name;
  ReadValues(text, config);
  return config;
}

}  // namespace tly
