#include "flat/default_layout.h"

#include <string>

namespace tly {
namespace {

constexpr int kPorteCount = 4;
constexpr int kPassageCount = 1;

// Marks door `door_number` as counted in both directions on its channel pair
// 2d-1 (in) and 2d (out).
void ActivateDoor(TTlyConfig& config, int door_number, const std::string& name) {
  DoorEntry& door = config.GetDoorTable()[door_number];
  door.Active = true;
  door.Name = name;
  ChannelTable& channels = config.GetChannelTable();
  channels[2 * door_number - 1].Active = true;
  channels[2 * door_number].Active = true;
}

}  // namespace

void ApplyDefaultLayout(TTlyConfig& config) {
  config.SetDeviceType("RV9");
  config.Flags = 0;

  for (DoorEntry& door : config.GetDoorTable()) {
    door.Active = false;
    door.Name.Clear();
    door.Kind = 'D';
    door.HasOut = false;
    door.Reserved = 0;
  }
  ChannelTable& channels = config.GetChannelTable();
  for (int n = 1; n <= kChannelCount; ++n) {
    channels[n].Active = false;
    channels[n].IsOut = n % 2 == 0;
    channels[n].DoorIndex = (n + 1) / 2;
    channels[n].Name.Clear();
  }

  for (int d = 1; d <= kPorteCount; ++d) ActivateDoor(config, d, "Porte " + std::to_string(d));
  // Passages follow the doors in the table but are numbered among themselves.
  for (int p = 1; p <= kPassageCount; ++p) {
    const int door_number = kPorteCount + p;
    ActivateDoor(config, door_number, "Passage " + std::to_string(p));
    config.GetDoorTable()[door_number].Kind = 'C';
  }
}

}  // namespace tly
