#include "scenario/scenario.h"

#include <algorithm>

namespace tly {

const char* ProfileName(TrafficProfile profile) {
  switch (profile) {
    case TrafficProfile::kRetail:
      return "retail";
    case TrafficProfile::kOffice:
      return "office";
    case TrafficProfile::kTransit:
      return "transit";
    case TrafficProfile::kFlat:
      return "flat";
    case TrafficProfile::kCustom:
      return "custom";
  }
  return "custom";
}

bool Scenario::HasFaults() const {
  return std::any_of(sites.begin(), sites.end(),
                     [](const SiteSettings& site) { return site.faults.Any(); });
}

int SiteSettings::ChannelCount() const {
  int highest = 0;
  for (const DoorSettings& door : doors) {
    highest = std::max({highest, door.in_channel, door.out_channel});
  }
  return highest;
}

double ExpectedVisitors(const SiteSettings& site, TDateTime date) {
  if (site.profile == TrafficProfile::kFlat) return 0;
  if (site.closed_days.count(static_cast<int64_t>(DatePart(date))) != 0) return 0;
  const int weekday = ProfileDayOf(site, date);
  if (site.hours[weekday].empty()) return 0;
  const CivilDate civil = DecodeDate(date);
  return site.visitors * site.weekday[weekday] * site.seasonal[civil.Month - 1] *
         EventFactor(site, date);
}

int ProfileDayOf(const SiteSettings& site, TDateTime date) {
  constexpr int kSunday = 6;
  if (site.realism.holidays.count(static_cast<int64_t>(DatePart(date))) != 0) return kSunday;
  return WeekdayIndex(date);
}

double EventFactor(const SiteSettings& site, TDateTime date) {
  const int64_t day = static_cast<int64_t>(DatePart(date));
  double factor = 1;
  for (const SiteEvent& event : site.realism.events) {
    if (day >= event.first_day && day <= event.last_day) factor *= event.factor;
  }
  return factor;
}

int WeekdayIndex(TDateTime date) {
  // Day 0, 30 December 1899, was a Saturday: index 5 when Monday is 0.
  const int64_t day = static_cast<int64_t>(DatePart(date));
  return static_cast<int>(((day % 7) + 7 + 5) % 7);
}

}  // namespace tly
