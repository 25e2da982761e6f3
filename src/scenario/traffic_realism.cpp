#include "scenario/traffic_realism.h"

#include <algorithm>
#include <cmath>

namespace tly {
namespace {

// Stream quarters below 0 name draws that concern the whole day.
constexpr int32_t kDayVariationStream = -1;

// The weather's memory ends where a day's weight falls below this.
constexpr double kForgottenWeight = 0.01;

// A step out of a member of staff lasts from 5 minutes to an hour.
constexpr int kShortestStepOut = 5 * 60;
constexpr int kLongestStepOut = 60 * 60;
constexpr int kStaffHour = 60 * 60;

// The uniform draw in [-1, 1) of `site` on `date`.
double DayNoise(const SiteSettings& site, uint32_t seed, TDateTime date) {
  StreamRandom stream(SiteDayKey(seed, site, date, kDayVariationStream, 0));
  return 2 * stream.Uniform() - 1;
}

// The real second at which the local clock of `clock` first shows `minute`,
// or the day's end when it never does.
int SecondOfMinute(const SiteDayClock& clock, int minute) {
  const int quarters = static_cast<int>(clock.slot.size());
  for (int q = 0; q < quarters; ++q) {
    const int shown = clock.slot[q] * 15;
    if (shown + 15 > minute) return q * kQuarterSeconds + std::max(0, minute - shown) * 60;
  }
  return quarters * kQuarterSeconds;
}

// The weight of hour `hour` of the day, 0 to 23 and held at the ends.
double HourWeight(const SiteSettings& site, int hour) {
  return site.hourly[static_cast<size_t>(std::clamp(hour, 0, 23))];
}

}  // namespace

StreamKey SiteDayKey(uint32_t seed, const SiteSettings& site, TDateTime date, int32_t quarter,
                     int32_t channel) {
  return StreamKey{seed, HashOfName(site.name), static_cast<int64_t>(DatePart(date)), quarter,
                   channel};
}

double DayFactor(const SiteSettings& site, uint32_t seed, TDateTime date) {
  const double rho = site.realism.weather_correlation;
  if (rho == 0) return 1 + site.variation_percent / 100 * DayNoise(site, seed, date);
  // An AR(1) series cut after `reach` days: the sum of the days' noises
  // weighted rho^j, scaled to the spread of one day's noise.
  const int reach = static_cast<int>(std::ceil(std::log(kForgottenWeight) / std::log(rho)));
  double sum = 0;
  double weight = 1;
  double squares = 0;
  for (int j = 0; j <= reach; ++j) {
    sum += weight * DayNoise(site, seed, date - j);
    squares += weight * weight;
    weight *= rho;
  }
  return std::max(0.0, 1 + site.variation_percent / 100 * sum / std::sqrt(squares));
}

bool ClosesAt(const SiteDayClock& clock, int end) {
  const int quarters = static_cast<int>(clock.slot.size());
  return end < quarters * kQuarterSeconds || !clock.open[0];
}

std::vector<double> ArrivalWeights(const SiteSettings& site, const SiteDayClock& clock,
                                   const std::vector<int>& stretch_end) {
  const TrafficRealism& realism = site.realism;
  const int quarters = static_cast<int>(clock.slot.size());
  const double taper = realism.closing_taper_minutes * 60.0;
  std::vector<double> weight(static_cast<size_t>(quarters), 0.0);
  for (int q = 0; q < quarters; ++q) {
    if (!clock.open[q]) continue;
    const int slot = clock.slot[q];
    double w = site.hourly[static_cast<size_t>(slot / 4)];
    if (realism.smooth) {
      // Between the middles of the hours, in a straight line: the quarter
      // hour's middle in hours, less half an hour, gives the hour before it
      // and how far it is towards the next.
      const double position = (slot + 0.5) / 4 - 0.5;
      const int before = static_cast<int>(std::floor(position));
      const double toward = position - before;
      w = (1 - toward) * HourWeight(site, before) + toward * HourWeight(site, before + 1);
    }
    if (taper > 0 && ClosesAt(clock, stretch_end[q])) {
      const double left = stretch_end[q] - (q + 0.5) * kQuarterSeconds;
      if (left < taper) w *= left / taper;
    }
    weight[static_cast<size_t>(q)] = w;
  }
  return weight;
}

std::vector<StaffPassage> StaffPassages(const SiteSettings& site, uint32_t seed,
                                        const SiteDayClock& clock) {
  const TrafficRealism& realism = site.realism;
  std::vector<StaffPassage> passages;
  const auto first = std::find(clock.open.begin(), clock.open.end(), true);
  if (realism.staff_per_day == 0 || first == clock.open.end()) return passages;
  const auto last = std::find(clock.open.rbegin(), clock.open.rend(), true);
  const int opening = static_cast<int>(first - clock.open.begin()) * kQuarterSeconds;
  const int closing = static_cast<int>(clock.open.rend() - last) * kQuarterSeconds;
  // Before opening and after closing within staff_hours; where the hours
  // leave no time there, the first and the last quarter hour of opening.
  // Without staff_hours, the hour before opening and the hour after closing.
  const bool own_hours = realism.staff_hours.second > 0;
  const int day_end = static_cast<int>(clock.slot.size()) * kQuarterSeconds;
  int arrive_from = own_hours ? SecondOfMinute(clock, realism.staff_hours.first)
                              : std::max(0, opening - kStaffHour);
  int arrive_to = opening;
  if (arrive_from >= arrive_to) {
    arrive_from = opening;
    arrive_to = std::min(closing, opening + kQuarterSeconds);
  }
  int leave_from = closing;
  int leave_to = own_hours ? SecondOfMinute(clock, realism.staff_hours.second)
                           : std::min(day_end, closing + kStaffHour);
  if (leave_to <= leave_from) {
    leave_from = std::max(opening, closing - kQuarterSeconds);
    leave_to = closing;
  }
  StreamRandom stream(SiteDayKey(seed, site, clock.date, kStaffStream, 0));
  const auto between = [&stream](int from, int to) {
    return from + static_cast<int>(stream.Uniform() * (to - from));
  };
  for (int person = 0; person < realism.staff_per_day; ++person) {
    const int in = between(arrive_from, arrive_to);
    const int out = std::max(in, between(leave_from, leave_to));
    passages.push_back({in, stream.Uniform(), false});
    // A few steps out while open (for lunch, a delivery, a smoke), each back
    // in before closing.
    for (int64_t steps = stream.Poisson(1); steps > 0; --steps) {
      const int until = std::min(out, closing);
      const int away = between(std::max(in, opening), until);
      const int back = away + between(kShortestStepOut, kLongestStepOut);
      if (back >= until) continue;
      const double door = stream.Uniform();
      passages.push_back({away, door, true});
      passages.push_back({back, door, false});
    }
    passages.push_back({out, stream.Uniform(), true});
  }
  return passages;
}

}  // namespace tly
