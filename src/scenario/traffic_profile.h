#ifndef TLY_SCENARIO_TRAFFIC_PROFILE_H_
#define TLY_SCENARIO_TRAFFIC_PROFILE_H_

#include <array>
#include <optional>
#include <string_view>

#include "scenario/scenario.h"

namespace tly {

// What a built-in profile brings: its shape, and the site values it suggests
// when the scenario file gives none.
struct ProfileDefaults {
  std::array<double, 24> hourly;
  std::array<double, kDaysPerWeek> weekday;
  std::array<DayHours, kDaysPerWeek> hours;
  double dwell_minutes;
};

// The profile of a name ("retail", "office", "transit", "flat", "custom"),
// or nothing for another name.
std::optional<TrafficProfile> ProfileOfName(std::string_view name);

// The built-in shape of `profile` (retail, office or transit), or, for flat
// and custom, a shape of equal weights open around the clock, which the
// scenario file's own values replace.
ProfileDefaults DefaultsOf(TrafficProfile profile);

}  // namespace tly

#endif  // TLY_SCENARIO_TRAFFIC_PROFILE_H_
