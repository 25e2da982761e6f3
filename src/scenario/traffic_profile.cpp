#include "scenario/traffic_profile.h"

namespace tly {
namespace {

constexpr int kMinutesPerDay = 24 * 60;

std::array<DayHours, kDaysPerWeek> SameHours(const DayHours& weekdays, const DayHours& saturday,
                                             const DayHours& sunday) {
  return {weekdays, weekdays, weekdays, weekdays, weekdays, saturday, sunday};
}

}  // namespace

std::optional<TrafficProfile> ProfileOfName(std::string_view name) {
  if (name == "retail") return TrafficProfile::kRetail;
  if (name == "office") return TrafficProfile::kOffice;
  if (name == "transit") return TrafficProfile::kTransit;
  if (name == "flat") return TrafficProfile::kFlat;
  if (name == "custom") return TrafficProfile::kCustom;
  return std::nullopt;
}

ProfileDefaults DefaultsOf(TrafficProfile profile) {
  switch (profile) {
    case TrafficProfile::kRetail:
      // A late-morning rise, the lunch peak, an afternoon lull and the
      // after-work peak; Saturday busiest, closed on Sunday.
      return {{0,   0,   0,   0,   0,   0,   0,   0.2, 0.5, 2.0, 3.0, 4.0,
               6.0, 6.5, 4.5, 3.5, 4.0, 6.0, 7.0, 5.0, 2.0, 0.5, 0,   0},
              {1.0, 0.9, 1.0, 1.05, 1.2, 1.6, 0.5},
              SameHours({{9 * 60, 20 * 60}}, {{9 * 60, 20 * 60}}, {}),
              25};
    case TrafficProfile::kOffice:
      // Staff arrive in the morning and leave in the evening (their stay is a
      // working day); visitors during office hours; weekends near empty.
      return {{0,   0,   0,   0,   0,   0,   0.2, 3.0, 9.0, 6.0, 2.0, 1.2,
               1.5, 1.8, 1.0, 0.8, 0.6, 0.4, 0.2, 0.1, 0,   0,   0,   0},
              {1.0, 1.0, 1.0, 1.0, 0.9, 0.06, 0.03},
              SameHours({{7 * 60, 20 * 60}}, {{8 * 60, 14 * 60}}, {{8 * 60, 14 * 60}}),
              480};
    case TrafficProfile::kTransit:
      // Two commuter peaks, a busy midday, quiet nights; every day.
      return {{0.2, 0.1, 0.05, 0.05, 0.1, 0.8, 3.5, 8.0, 9.0, 4.0, 2.5, 2.5,
               3.0, 3.0, 2.5,  3.0,  5.0, 8.5, 8.0, 4.0, 2.5, 1.8, 1.2, 0.6},
              {1.0, 1.0, 1.0, 1.0, 1.0, 0.7, 0.6},
              SameHours({{0, kMinutesPerDay}}, {{0, kMinutesPerDay}}, {{0, kMinutesPerDay}}),
              8};
    case TrafficProfile::kFlat:
    case TrafficProfile::kCustom:
      break;
  }
  ProfileDefaults even;
  even.hourly.fill(1.0);
  even.weekday.fill(1.0);
  even.hours = SameHours({{0, kMinutesPerDay}}, {{0, kMinutesPerDay}}, {{0, kMinutesPerDay}});
  even.dwell_minutes = 20;
  return even;
}

}  // namespace tly
