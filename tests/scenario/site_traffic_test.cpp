// The traffic of scenario sites, measured as a reader would measure it: the
// week and the day come out as the scenario asks, nobody enters while the
// site is closed, nobody leaves who did not come, and the clock changes come
// out as on a device that stamps local time.

#include "scenario/site_day.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

#include "backfill/backfill.h"
#include "backfill/scenario_backfill.h"
#include "flat/random_source.h"
#include "scenario/scenario_file.h"

namespace tly {
namespace {

SiteSettings RetailSite() {
  Scenario scenario = ParseScenario(R"(
[[site]]
name = "shop"
shop_code = "S1"
profile = "retail"
visitors = 3000
variation_percent = 10
time_zone = "Europe/Paris"
closed = ["2027-05-01"]
[site.layout]
doors = [{ name = "Main", weight = 3 }, { name = "Side", weight = 1 }]
)",
                                    "retail.toml");
  return scenario.sites[0];
}

// One site-day as counts: the clock of the day and what its traffic adds.
struct CountedDay {
  SiteDayClock clock;
  std::unique_ptr<DayCounts> day = std::make_unique<DayCounts>();
};

CountedDay Count(const SiteSettings& site, uint32_t seed, TDateTime date) {
  CountedDay counted;
  counted.clock = ClockOfSiteDay(site, date);
  InitDayCountsFor(*counted.day, date);
  AddTrafficTo(*counted.day, site, counted.clock, SiteDayTraffic(site, seed, counted.clock));
  return counted;
}

int64_t Entries(const SiteSettings& site, const SlotCounts& slot) {
  int64_t sum = 0;
  for (const DoorSettings& door : site.doors) sum += slot.Counts[door.in_channel - 1];
  return sum;
}

int64_t Exits(const SiteSettings& site, const SlotCounts& slot) {
  int64_t sum = 0;
  for (const DoorSettings& door : site.doors) sum += slot.Counts[door.out_channel - 1];
  return sum;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const double n = static_cast<double>(a.size());
  const double mean_a = std::accumulate(a.begin(), a.end(), 0.0) / n;
  const double mean_b = std::accumulate(b.begin(), b.end(), 0.0) / n;
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    ab += (a[i] - mean_a) * (b[i] - mean_b);
    aa += (a[i] - mean_a) * (a[i] - mean_a);
    bb += (b[i] - mean_b) * (b[i] - mean_b);
  }
  return ab / std::sqrt(aa * bb);
}

// Twelve weeks of one retail site, spring to summer (no change of the clocks).
TEST(SiteTraffic, TwelveWeeksComeOutAsTheScenarioAsks) {
  const SiteSettings site = RetailSite();
  const TDateTime first = EncodeDate(2027, 4, 5);  // a Monday
  std::array<double, kDaysPerWeek> entries_per_weekday{};
  std::array<int, kDaysPerWeek> days_per_weekday{};
  std::array<double, kDaysPerWeek> expected_per_weekday{};
  std::vector<double> per_hour(24, 0.0);
  std::array<double, 2> per_door{};
  for (int offset = 0; offset < 12 * 7; ++offset) {
    const TDateTime date = first + offset;
    SCOPED_TRACE(FormatYyMmDd(date));
    const CountedDay counted = Count(site, 42, date);
    const int weekday = WeekdayIndex(date);
    ASSERT_EQ(counted.clock.slot.size(), 96u);
    int64_t day_entries = 0;
    int64_t occupancy = 0;
    for (int s = 0; s < 96; ++s) {
      const SlotCounts& slot = counted.day->Slots[s];
      ASSERT_EQ(counted.day->SlotUsed[s], 1) << "every quarter hour has a row";
      const int64_t entries = Entries(site, slot);
      if (!counted.clock.open[s]) {
        ASSERT_EQ(entries, 0) << "entries while closed at slot " << s;
      }
      occupancy += entries - Exits(site, slot);
      ASSERT_GE(occupancy, 0) << "more left than came by slot " << s;
      day_entries += entries;
      per_hour[s / 4] += static_cast<double>(entries);
      per_door[0] += slot.Counts[site.doors[0].in_channel - 1];
      per_door[1] += slot.Counts[site.doors[1].in_channel - 1];
    }
    ASSERT_EQ(occupancy, 0) << "still inside at the end of the day";
    if (date == EncodeDate(2027, 5, 1)) {
      EXPECT_EQ(day_entries, 0) << "a closed date";
      continue;
    }
    entries_per_weekday[weekday] += static_cast<double>(day_entries);
    expected_per_weekday[weekday] += ExpectedVisitors(site, date);
    ++days_per_weekday[weekday];
  }
  for (int d = 0; d < kDaysPerWeek; ++d) {
    if (expected_per_weekday[d] == 0) {
      EXPECT_EQ(entries_per_weekday[d], 0) << "weekday " << d << " is closed";
      continue;
    }
    const double ratio = entries_per_weekday[d] / expected_per_weekday[d];
    EXPECT_NEAR(ratio, 1.0, 0.05) << "weekday " << d << " over " << days_per_weekday[d] << " days";
  }
  // The day's shape follows the profile within the opening hours.
  std::vector<double> profile(24, 0.0);
  for (int h = 0; h < 24; ++h) profile[h] = h >= 9 && h < 20 ? site.hourly[h] : 0;
  EXPECT_GE(Correlation(per_hour, profile), 0.95);
  // The doors share the traffic by their weights, 3 to 1.
  EXPECT_NEAR(per_door[0] / (per_door[0] + per_door[1]), 0.75, 0.02);
}

TEST(SiteTraffic, ClockChangesComeOutAsOnADeviceStampingLocalTime) {
  Scenario scenario = ParseScenario(R"(
[[site]]
name = "station"
shop_code = "T"
profile = "transit"
visitors = 20000
time_zone = "Europe/Paris"
)",
                                    "transit.toml");
  const SiteSettings& site = scenario.sites[0];

  // Forward (28 March 2027): 23 hours, no rows for 02:00 to 02:45.
  const CountedDay forward = Count(site, 9, EncodeDate(2027, 3, 28));
  EXPECT_EQ(forward.clock.slot.size(), 92u);
  for (int s = 0; s < 96; ++s) {
    EXPECT_EQ(forward.day->SlotUsed[s] != 0, s < 8 || s > 11) << "slot " << s;
  }

  // Back (31 October 2027): 25 hours; the repeated hour's traffic lands in
  // the same four quarter hours, so they hold the traffic of two real hours.
  const CountedDay back = Count(site, 9, EncodeDate(2027, 10, 31));
  ASSERT_EQ(back.clock.slot.size(), 100u);
  for (int q = 8; q < 12; ++q) EXPECT_EQ(back.clock.slot[q], back.clock.slot[q + 4]);
  const std::vector<TrafficEvent> events = SiteDayTraffic(site, 9, back.clock);
  int64_t repeated_hour_events = 0;
  for (const TrafficEvent& event : events) {
    if (event.slot >= 8 && event.slot <= 11) ++repeated_hour_events;
  }
  int64_t counted = 0;
  for (int s = 8; s <= 11; ++s) {
    counted += Entries(site, back.day->Slots[s]) + Exits(site, back.day->Slots[s]);
  }
  EXPECT_EQ(counted, repeated_hour_events);
  int64_t first_pass = 0;
  for (const TrafficEvent& event : events) {
    if (event.second >= 8 * kQuarterSeconds && event.second < 12 * kQuarterSeconds) ++first_pass;
  }
  EXPECT_GT(first_pass, 0);
  EXPECT_GT(repeated_hour_events, first_pass) << "the second pass of 02:00-02:59 adds to it";
}

// A flat site's events, counted one by one, are its ticks summed a day at a
// time: live and backfilled flat days are the same.
TEST(SiteTraffic, FlatSitesCountTheProgramsOwnTicks) {
  Scenario scenario = ParseScenario(
      "[[site]]\nname = \"f\"\nshop_code = \"001\"\nprofile = \"flat\"\n", "flat.toml");
  const SiteSettings& site = scenario.sites[0];
  const TDateTime date = EncodeDate(2027, 6, 1);
  const CountedDay from_events = Count(site, 5, date);
  auto summed = std::make_unique<DayCounts>();
  InitDayCountsFor(*summed, date);
  RandomSource random(FlatDayState(site, 5, date));
  AddDayTicks(*summed, random);
  EXPECT_EQ(SiteDayImage(site, *from_events.day, date), SiteDayImage(site, *summed, date));
  EXPECT_EQ(from_events.day->ChannelCount, 10);
}

}  // namespace
}  // namespace tly
