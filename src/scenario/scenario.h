#ifndef TLY_SCENARIO_SCENARIO_H_
#define TLY_SCENARIO_SCENARIO_H_

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "delivery/delivery_faults.h"
#include "delivery/delivery_settings.h"
#include "faults/fault_kind.h"
#include "support/date_time.h"

// A scenario: a set of counting sites with realistic traffic, as a scenario
// file describes them (scenario_file.h reads one). Every value here is
// resolved and checked: defaults applied, profiles turned into weights.

namespace tly {

// How a site's traffic is shaped over the day and the week.
enum class TrafficProfile {
  kRetail,   // peaks around midday and after work; Saturday busiest, Sunday quiet
  kOffice,   // in by the morning, out by the evening; weekends near empty
  kTransit,  // two commuter peaks, every day
  kFlat,     // the program's own coin flip per tick per channel, around the clock
  kCustom,   // weights per hour and per weekday from the scenario file
};

// One access point of a site and its two counting channels (numbered from 1,
// as in the day file's header).
struct DoorSettings {
  std::string name;
  char kind = 'D';      // 'D' door, 'C' passage, 'P'
  double weight = 1;    // share of the site's traffic, relative to the other doors
  int in_channel = 0;   // counts the entries
  int out_channel = 0;  // counts the exits
};

// Opening hours of one weekday: intervals [start, end) in minutes since local
// midnight (0..1440), in order and apart. None: closed all day.
using DayHours = std::vector<std::pair<int, int>>;

inline constexpr int kDaysPerWeek = 7;  // Monday first

// Days of a site with more or fewer visitors than the week says: a sale, a
// holiday rush, a match at the stadium next door.
struct SiteEvent {
  int64_t first_day = 0;  // day numbers (TDateTime date parts), both included
  int64_t last_day = 0;
  double factor = 1;  // visitors of those days times this
  std::string name;
};

// What makes a site's traffic look like a real counter's rather than a clean
// model's. Every value here at its default leaves the traffic as it is
// without them, draw for draw.
struct TrafficRealism {
  bool smooth = false;            // hourly weights interpolated across quarter hours
  double dispersion = 0;          // 0: Poisson; k: quarter hours' arrivals Gamma-Poisson, shape k
  double group_size_mean = 1;     // visitors come and go together in groups of this mean size
  int closing_taper_minutes = 0;  // arrivals fade out, and stays end, over this span before closing
  double dwell_spread = 0.5;      // the stays' coefficient of variation
  double walk_through_share = 0;  // share of visits of half a minute to five minutes
  int staff_per_day = 0;          // staff who come before opening and leave after closing
  std::pair<int, int> staff_hours{0, 0};  // their local [start, end) in minutes; {0, 0}: an
                                          // hour either side of the opening hours
  double count_error_percent = 0;  // each passage missed by the counter with this probability
  double occlusion = 0;            // extra probability of a miss in the day's busiest quarter hour
  std::vector<SiteEvent> events;
  std::set<int64_t> holidays;      // day numbers that take the profile's Sunday
  double weather_correlation = 0;  // lag-1 correlation of the day factors across days

  // Whether passages can go uncounted (entries and exits no longer balance).
  bool Miscounts() const { return count_error_percent > 0 || occlusion > 0; }
};

struct SiteSettings {
  std::string name;       // its files go to OUT/<name>/
  std::string shop_code;  // the rows' first field
  std::string device_type = "RV9";
  bool default_layout = true;  // the program's four doors and a passage
  std::vector<DoorSettings> doors;
  TrafficProfile profile = TrafficProfile::kRetail;
  std::array<double, 24> hourly{};             // relative entries per hour of the day
  std::array<double, kDaysPerWeek> weekday{};  // day factor, Monday first
  double visitors = 0;                         // expected entries on a day of weekday factor 1
  double dwell_minutes = 0;                    // mean stay
  double variation_percent = 0;                // a day's visitors vary uniformly by up to this much
  std::array<double, 12> seasonal{};           // month factors, January first
  std::array<DayHours, kDaysPerWeek> hours;
  std::set<int64_t> closed_days;  // day numbers (TDateTime date parts) the site is closed
  std::string time_zone = "UTC";  // a name of the system's zone database
  TrafficRealism realism;         // how much like a real counter's its traffic looks
  FaultRates faults;              // the scenario's [faults], each replaced by the site's own
  std::optional<DeliverySettings> delivery;  // none: its files stay in OUT/<name>/
  DeliveryFaultRates delivery_faults;        // from [faults], each replaced by the site's own
  int line = 0;                              // where the scenario file declares it

  // The highest channel number the layout uses: the rows' count fields.
  int ChannelCount() const;
};

struct Scenario {
  std::string source;  // the file it was read from
  uint32_t seed = 0;
  std::vector<SiteSettings> sites;

  // Whether any site can get a fault: then a backfill writes the ground truth.
  bool HasFaults() const;
};

// The profile's name as a scenario file writes it.
const char* ProfileName(TrafficProfile profile);

// The weekday of the date part of `date`, 0 for Monday to 6 for Sunday.
int WeekdayIndex(TDateTime date);

// The day of the week whose weights and hours `site` keeps on `date`: its
// weekday, or Sunday on one of its holidays.
int ProfileDayOf(const SiteSettings& site, TDateTime date);

// The product of the factors of the site's events on `date` (1 on other days).
double EventFactor(const SiteSettings& site, TDateTime date);

// Expected entries of `site` on the local date `date` (closed days and
// closed weekdays give 0): visitors x weekday factor x month factor x the
// factor of its events. Flat sites have no expectation of their own and
// give 0.
double ExpectedVisitors(const SiteSettings& site, TDateTime date);

}  // namespace tly

#endif  // TLY_SCENARIO_SCENARIO_H_
