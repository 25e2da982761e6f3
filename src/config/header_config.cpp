#include "config/header_config.h"

#include <cstdint>
#include <string>

#include "dayfile/header_layout.h"

namespace tly {
namespace {

int KindOfLetter(char letter) {
  if (letter == 'A' || letter == 'B') return 1;
  if (letter == 'C' || letter == 'D') return 2;
  return 0;
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
  if (layout.marks) {
    uint32_t flags = config.Flags & ~(0xFFFFu << 12);
    for (int k = 1; k <= 16; ++k) {
      if ((*layout.marks)[k - 1]) flags |= 1u << (11 + k);
    }
    config.Flags = flags;
  }
  if (layout.k_value) config.KValue = *layout.k_value;
  if (layout.f_value) config.FValue = *layout.f_value;
  return config;
}

}  // namespace tly
