#include "faults/fault_table.h"
#include "scenario/scenario_file.h"

#include <string>

namespace tly {

// NOLINTNEXTLINE(readability-function-size): the example file's text, one literal.
std::string_view ExampleScenario() {
  static const std::string text =
      R"toml(# A scenario for tly-generator: the counting sites to simulate.
#   tly-generator scenario --check this.toml --from 2027-01-04 --to 2027-01-10
#   tly-generator backfill --scenario this.toml --out OUT --from 2027-01-01 --to 2027-12-31
#   tly-generator run --scenario this.toml --out OUT --speed 60
# Each site's day files go to OUT/<name>/. The same scenario and seed always
# give the same files, however they are generated.

# The random seed (0 to 4294967295); --seed on the command line replaces it.
seed = 2027

# Values every site takes unless it sets its own (any site key but name and
# shop_code).
[defaults]
time_zone = "Europe/Paris"  # a zone of the system's zone database; default "UTC"
variation_percent = 10      # a day's visitors vary by up to this much (0 to 100)
# One factor per month, January first: the season on top of the week.
seasonal = [0.85, 0.85, 0.95, 1.0, 1.0, 1.0, 0.9, 0.8, 1.0, 1.0, 1.1, 1.4]

# Traffic that looks like a real counter's. Each key may stand here or in a
# site; left out, each is off and the traffic is the clean model's.
smooth = true               # the hourly weights run smoothly across the quarter hours
weather_correlation = 0.6   # 0 to 0.95: a good day tends to follow a good day
                            # (the lag-1 correlation of the day-to-day variation)
# Days taken like the profile's Sunday (its weight and hours).
holidays = ["2027-04-05", "2027-05-13", "2027-05-24", "2027-07-14", "2027-08-15",
            "2027-11-01", "2027-11-11"]
# The counter misses each passage with this probability, in percent (0 to
# 50), and up to `occlusion` (0 to 0.5) more in a day's busiest quarter hour:
# entries and exits then no longer balance, and verify finds occupancies
# below zero. The truth file (below) then lists, for each day file, the
# passages missed in each quarter hour on each channel.
# count_error_percent = 2
# occlusion = 0.05

# Faults, for testing what reads the files: each value is the probability
# (0 to 1) that a site-day gets one fault of that kind, drawn from the seed.
# A site may set its own in [site.faults]; its values replace these. Beside
# the day files, a backfill (and a live run, for each day it finishes) writes
# OUT/faults.jsonl: what was broken, where, and the true values. Faults take
# their place in this order; one that finds no place is left out.
)toml" +
      FaultRatesExample() +
      R"toml(
# A shop with the program's own layout (four doors and a passage): a mall.
[[site]]
name = "rivoli"            # 1 to 64 letters, digits, '.', '-', '_'
shop_code = "101"          # the rows' first field: 1 to 10 letters, digits, '-', '_'
profile = "retail"         # retail, office, transit, flat or custom
visitors = 2400            # expected entries on a day of weekday factor 1
dwell_minutes = 25         # the mean stay; everyone has left by closing time
closed = ["2027-01-01", "2027-05-01", "2027-12-25"]
dispersion = 8             # 0: Poisson; k: crowds, a quarter hour's variance mean + mean²/k
group_size_mean = 1.6      # 1 to 6: visitors come and go together (families, friends)
walk_through_share = 0.3   # 0 to 1: visits of half a minute to five minutes
closing_taper_minutes = 30 # 0 to 240: arrivals fade out, and visits end, over this span
staff_per_day = 25         # in before opening, out after closing, a few steps out between
staff_hours = "08:00-21:00"  # one local interval; default an hour either side of opening
events = [                 # days of more (or fewer) visitors: factor times the usual
  { from = "2027-01-12", to = "2027-02-08", factor = 1.3, name = "Winter sales" },
  { from = "2027-11-26", to = "2027-11-28", factor = 1.8, name = "Black Friday" },
]
[site.hours]               # local time; "closed", or intervals; other days keep the profile's
monday = "10:00-19:00"
saturday = "09:30-20:00"
sunday = "closed"

# An office with a layout of its own: doors with their weights (shares of
# the traffic) and channels (an entry and an exit channel each).
[[site]]
name = "la-defense"
shop_code = "OFF-2"
profile = "office"
visitors = 900
dwell_minutes = 480
closing_taper_minutes = 90 # the evening exodus from 17:30 rather than at closing
dwell_spread = 0.3         # the stays' coefficient of variation (0.1 to 3, default 0.5)
staff_per_day = 6          # cleaners and guards
staff_hours = "05:30-22:00"
[site.layout]
device = "RV9"             # RV9, QDX, TLY08 or TLY01, as the header's #T line says
doors = [
  { name = "Main hall", kind = "D", weight = 3, in = 1, out = 2 },
  { name = "Car park", kind = "D", weight = 1, in = 3, out = 4 },
  { name = "Bridge", kind = "C", weight = 1, in = 5, out = 6 },
]

# A station in another time zone with a profile of its own: a weight per
# hour (0 to 23) and per weekday (Monday first). Its holidays replace those
# of the defaults.
[[site]]
name = "shinjuku-east"
shop_code = "T7"
profile = "custom"
visitors = 30000
dwell_minutes = 6
time_zone = "Asia/Tokyo"
seasonal = [1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1]
dispersion = 3             # rush hours come in waves
holidays = ["2027-01-11", "2027-02-11", "2027-02-23", "2027-04-29", "2027-05-03",
            "2027-05-04", "2027-05-05"]
events = [{ from = "2027-08-07", to = "2027-08-07", factor = 1.6, name = "Fireworks" }]
[site.hours]
monday = "04:30-24:00"
tuesday = "04:30-24:00"
wednesday = "04:30-24:00"
thursday = "04:30-24:00"
friday = "04:30-24:00"
saturday = "05:00-24:00"
sunday = "05:00-24:00"
[site.weights]
hourly = [0, 0, 0, 0, 0.5, 2, 6, 10, 9, 4, 3, 3, 3.5, 3, 3, 3.5, 5, 9, 10, 6, 4, 3, 2, 1]
weekday = [1, 1, 1, 1, 1.05, 0.75, 0.65]

# The program's own traffic (a coin flip per channel every 2 seconds, around
# the clock, with its own layout); only the name and the shop code apply.
[[site]]
name = "test-bench"
shop_code = "001"
profile = "flat"
)toml";
  return text;
}

}  // namespace tly
