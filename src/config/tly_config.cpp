#include "config/tly_config.h"

#include <algorithm>

#include "dayfile/day_file_lines.h"
#include "support/text_trim.h"

namespace tly {
namespace {

// Name given to an access point that has none.
constexpr std::string_view kDefaultDoorName = "Door";

constexpr std::uint32_t kRv9ClearedFlags = 0x000F0000u;  // bits 16..19

bool IsKnownDeviceType(std::string_view type) {
  return type == "TLY01" || type == "RV9" || type == "QDX" || type == "TLY08";
}

// Channels first_inactive..64 stop counting and fall back to door 1; their
// kind and name are kept.
void DeactivateChannelsFrom(ChannelTable& channels, int first_inactive) {
  for (int n = first_inactive; n <= kChannelCount; ++n) {
    channels[n].Active = false;
    channels[n].IsOut = false;
    channels[n].DoorIndex = 1;
  }
}

}  // namespace

TTlyConfig::TTlyConfig() : DeviceType("TLY01") {
  SetDefaults();
}

void TTlyConfig::Assign(const TPersistent* source) {
  const auto* other = dynamic_cast<const TTlyConfig*>(source);
  if (other == nullptr || other == this) return;
  DeviceType = other->DeviceType;
  ComPort = other->ComPort;
  ShopName = other->ShopName;
  Flags = other->Flags;
  KValue = other->KValue;
  FValue = other->FValue;
  doors_ = other->doors_;
  channels_ = other->channels_;
}

void TTlyConfig::SetDefaults() {
  ComPort = "COM1";
  Flags = 0xF007u;
  Seal.clear();
  DataHash.clear();

  const std::string_view type = DeviceType.View();
  for (int n = 1; n <= kChannelCount; ++n) {
    ChannelEntry& channel = channels_[n];
    channel = ChannelEntry{};
    channel.DoorIndex = 1;
    if (type == "RV9") {
      channel.Active = n <= 4;
    } else if (type == "TLY08") {
      channel.Active = n <= 8;
    } else if (type == "QDX") {
      channel.Active = true;
    } else {
      channel.Active = n <= 8;
      channel.IsOut = n > 4;
    }
  }

  for (DoorEntry& door : doors_) {
    door = DoorEntry{};
    NormalizeDoor(door);
  }
  doors_[1].Active = true;
}

void TTlyConfig::NormalizeDoor(DoorEntry& door) {
  const std::string_view name = door.Name.View();
  if (std::all_of(name.begin(), name.end(), IsBlankOrControl)) door.Name = kDefaultDoorName;
  if (door.Kind != 'D' && door.Kind != 'C' && door.Kind != 'P') door.Kind = 'D';
}

void TTlyConfig::SetDeviceType(std::string_view text) {
  DeviceType = text;
  if (!IsKnownDeviceType(DeviceType.View())) DeviceType = "TLY01";

  const std::string_view type = DeviceType.View();
  if (type == "RV9") {
    Flags &= ~kRv9ClearedFlags;
    DeactivateChannelsFrom(channels_, 5);
    SyncDoorsFromChannels();
  } else if (type == "TLY08") {
    DeactivateChannelsFrom(channels_, 9);
    SyncDoorsFromChannels();
  } else if (type == "QDX") {
    SyncDoorsFromChannels();
  } else {
    BuildTly01Channels();
  }
}

void TTlyConfig::SyncDoorsFromChannels() {
  for (DoorEntry& door : doors_) {
    door.Active = false;
    door.HasOut = false;
  }
  for (const ChannelEntry& channel : channels_) {
    if (!channel.Active || !DoorTable::Contains(channel.DoorIndex)) continue;
    DoorEntry& door = doors_[channel.DoorIndex];
    door.Active = true;
    if (channel.IsOut) door.HasOut = true;
  }
}

void TTlyConfig::BuildTly01Channels() {
  if (DeviceType.View() != "TLY01") return;
  for (ChannelEntry& channel : channels_) {
    channel = ChannelEntry{};
    channel.DoorIndex = 1;
  }
  for (int d = 1; d <= 4; ++d) {
    const DoorEntry& door = doors_[d];
    ChannelEntry& in = channels_[d];
    in.Active = door.Active;
    in.IsOut = false;
    in.DoorIndex = d;
    ChannelEntry& out = channels_[d + 4];
    out.Active = door.Active && door.HasOut;
    out.IsOut = true;
    out.DoorIndex = d;
  }
}

void TTlyConfig::ParseSealLine(std::string_view line) {
  Seal.assign(SealTextOf(line));
}

}  // namespace tly
