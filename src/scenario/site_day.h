#ifndef TLY_SCENARIO_SITE_DAY_H_
#define TLY_SCENARIO_SITE_DAY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "config/tly_config.h"
#include "counting/day_counts.h"
#include "scenario/scenario.h"
#include "support/date_time.h"

// One day of one scenario site: when it is open, who comes and goes, and the
// day file that results. Everything here depends only on the site, the seed
// and the date, so any site-day can be made on its own.

namespace tly {

inline constexpr int kQuarterSeconds = 900;

// The local day of a site as it passes: its real quarter hours from local
// midnight to the next (92 on the day the clocks go forward, 100 on the day
// they go back, 96 otherwise) and the quarter hour of the local clock each
// one shows. On the day the clocks go back the repeated hour's quarter hours
// show the same slots twice; on the day they go forward the skipped hour's
// slots never show.
struct SiteDayClock {
  TDateTime date = 0;
  int64_t start_unix = 0;  // local midnight in seconds since 1970 (UTC)
  int64_t end_unix = 0;    // the next local midnight
  std::vector<int> slot;   // slot of each real quarter hour
  std::vector<bool> open;  // whether the site is open then
};

// The clock of `site` on the local date `date`. Throws std::invalid_argument
// when the site's time zone cannot be loaded.
SiteDayClock ClockOfSiteDay(const SiteSettings& site, TDateTime date);

// The local date and time of `site` at the instant `unix_seconds` (UTC).
// Throws std::invalid_argument when the site's time zone cannot be loaded.
TDateTime LocalTimeOf(const SiteSettings& site, int64_t unix_seconds);

// Where the random source of a flat site's day starts: its ticks are the
// program's own (DrawFlatTick) from this state on.
uint32_t FlatDayState(const SiteSettings& site, uint32_t seed, TDateTime date);

// One counted passage: a visitor entering or leaving by a door.
struct TrafficEvent {
  int32_t second;   // seconds since the local day's start (real time)
  int16_t slot;     // the slot of the local clock at that moment
  int16_t channel;  // the channel counting it, from 1
};

// Whether passages come in the order of time (revealing them live) or as
// drawn (counting them, where order does not matter).
enum class TrafficOrder { kAsDrawn, kByTime };

// Every passage of `site` on the day of `clock` (ClockOfSiteDay): the flat
// profile's ticks or the visitors of the others, drawn from the streams of
// `seed`. Visitors enter only while the site is open, each leaves after a
// stay drawn around the dwell time and at the latest when the stretch of
// opening hours they came in ends, by a door drawn by the doors' weights.
std::vector<TrafficEvent> SiteDayTraffic(const SiteSettings& site, uint32_t seed,
                                         const SiteDayClock& clock,
                                         TrafficOrder order = TrafficOrder::kByTime);

// Adds `events` to `day`: each to its slot and channel. For every profile but
// flat, every slot the local clock shows that day is marked used (a powered
// counter writes a row for every quarter hour, zeros included); flat marks
// only the slots that got counts, as the program's own generator does. Raises
// the day's channel count to the site's channels.
void AddTrafficTo(DayCounts& day, const SiteSettings& site, const SiteDayClock& clock,
                  const std::vector<TrafficEvent>& events);

// AddTrafficTo(day, site, clock, SiteDayTraffic(site, seed, clock)) for a
// site of a profile other than flat, counting each passage as it is drawn.
void AddVisitorsTo(DayCounts& day, const SiteSettings& site, uint32_t seed,
                   const SiteDayClock& clock);

// The passages of one site-day that its counter missed (count_error_percent,
// occlusion): how many in each slot of the local clock and channel.
struct MissedCounts {
  int channels = 0;              // the site's ChannelCount()
  std::vector<uint32_t> counts;  // [slot * channels + channel - 1], slots 0 to 95

  uint32_t At(int slot, int channel) const {
    return counts[static_cast<size_t>(slot * channels + channel - 1)];
  }
};

// The passages of `site` on `date` (drawn from `seed`) that its counter
// misses: each count of the day's file plus its misses is the true count of
// its slot and channel. All zero for a site that misses none. Taken from the
// drawing of AddVisitorsTo when that drew this very site-day last on this
// thread (each such drawing is taken once), else drawn anew.
MissedCounts PassagesMissed(const SiteSettings& site, uint32_t seed, TDateTime date);

// The counter configuration a site's day files describe: its layout as the
// header's door and channel lines, its device type, its name as shop name.
TTlyConfig SiteConfig(const SiteSettings& site);

// The day file of `site` for `day` as the save at `updated_at` writes it:
// header, titles, one row per used slot with the site's shop code and its
// channels, sealed.
std::string SiteDayImage(const SiteSettings& site, const DayCounts& day, TDateTime updated_at);

// "OUT/<name>" of a site.
std::string SiteDirectory(const std::string& out_dir, const SiteSettings& site);

}  // namespace tly

#endif  // TLY_SCENARIO_SITE_DAY_H_
