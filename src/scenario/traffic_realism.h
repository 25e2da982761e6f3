#ifndef TLY_GENERATOR_TRAFFIC_REALISM_H_
#define TLY_GENERATOR_TRAFFIC_REALISM_H_

#include <cstdint>
#include <vector>

#include "scenario/scenario.h"
#include "scenario/site_day.h"
#include "scenario/stream_random.h"

// The pieces of a site-day's traffic that make it look like a real counter's:
// the day factor that remembers the days before, the arrival weights of the
// quarter hours, and the staff. Each draws from streams of its own, so that
// a knob at its neutral value changes no other draw.

namespace tly {

// Stream channels below 0 name the draws of one knob within a quarter hour.
inline constexpr int32_t kDispersionChannel = -1;
inline constexpr int32_t kGroupChannel = -2;
inline constexpr int32_t kStayChannel = -3;
inline constexpr int32_t kMissChannel = -4;

// The stream quarter of the staff's draws (the day's variation is -1, a flat
// site's day -2).
inline constexpr int32_t kStaffStream = -3;

// The stream of `site` on `date` for `quarter` (a real quarter hour, or below
// 0 for draws of the whole day) and `channel`.
StreamKey SiteDayKey(uint32_t seed, const SiteSettings& site, TDateTime date, int32_t quarter,
                     int32_t channel);

// The factor of `site`'s visitors on `date`: 1 plus up to variation_percent,
// an independent draw per day or, with weather_correlation, a series across
// days that reaches back only as far as its weight still counts.
double DayFactor(const SiteSettings& site, uint32_t seed, TDateTime date);

// The arrival weight of each real quarter hour of `clock` (0 where closed):
// the hour's weight, or the hourly weights interpolated with `smooth`, faded
// out before the end of each stretch of opening hours with a closing taper.
// `stretch_end` holds, for each quarter hour, the second its stretch ends.
std::vector<double> ArrivalWeights(const SiteSettings& site, const SiteDayClock& clock,
                                   const std::vector<int>& stretch_end);

// Whether the stretch that ends at `end` (seconds) closes the site: not when
// the site stays open through midnight into the next day.
bool ClosesAt(const SiteDayClock& clock, int end);

// One passage of a member of staff; `door_pick` in [0, 1) chooses the door
// by the doors' weights.
struct StaffPassage {
  int second = 0;
  double door_pick = 0;
  bool exit = false;
};

// The staff's passages on the day of `clock`: on a day the site opens, each
// arrives between the start of staff_hours and opening, leaves between
// closing and their end, and may step out and back in between.
std::vector<StaffPassage> StaffPassages(const SiteSettings& site, uint32_t seed,
                                        const SiteDayClock& clock);

}  // namespace tly

#endif  // TLY_GENERATOR_TRAFFIC_REALISM_H_
