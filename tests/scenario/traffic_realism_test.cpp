// The knobs that make scenario traffic look like a real counter's, each
// measured over twelve simulated weeks as a reader of the files would
// measure it: each test fails when its knob is ignored or does something
// else than the scenario file asks.

#include "scenario/traffic_realism.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "faults/fault_truth_file.h"
#include "faults/fault_truth_reader.h"
#include "scenario/scenario_file.h"
#include "scenario/site_day.h"
#include "scenario/site_day_faults.h"

namespace tly {
namespace {

constexpr int kDays = 12 * 7;
// A Monday, after the spring change of the clocks.
TDateTime FirstDay() {
  return EncodeDate(2027, 4, 5);
}

// A site of `profile` with the lines `knobs` and no day-to-day variation
// unless they set it; a custom site opens around the clock with the weights
// `hourly` (by default the same every hour) and the same every weekday.
SiteSettings SiteWith(const std::string& knobs, const std::string& profile = "custom",
                      const std::string& name = "s", std::string hourly = "") {
  std::string text = "[[site]]\nname = \"" + name + "\"\nshop_code = \"1\"\nprofile = \"" +
                     profile + "\"\n" + knobs + "\n";
  if (knobs.find("variation_percent") == std::string::npos) text += "variation_percent = 0\n";
  if (profile == "custom") {
    if (hourly.empty()) {
      for (int h = 0; h < 24; ++h) hourly += h == 0 ? "1" : ", 1";
    }
    text += "[site.weights]\nhourly = [" + hourly + "]\nweekday = [1, 1, 1, 1, 1, 1, 1]\n";
  }
  return ParseScenario(text, "s.toml").sites[0];
}

// One site-day as a reader sees it: entries and exits of each slot.
struct Slots {
  std::vector<double> entries = std::vector<double>(kSlotsPerDay, 0.0);
  std::vector<double> exits = std::vector<double>(kSlotsPerDay, 0.0);
  double Entries() const { return std::accumulate(entries.begin(), entries.end(), 0.0); }
  double Exits() const { return std::accumulate(exits.begin(), exits.end(), 0.0); }
};

std::vector<Slots> TwelveWeeks(const SiteSettings& site, uint32_t seed = 7) {
  std::vector<Slots> days;
  auto day = std::make_unique<DayCounts>();
  for (int d = 0; d < kDays; ++d) {
    const TDateTime date = FirstDay() + d;
    InitDayCountsFor(*day, date);
    AddVisitorsTo(*day, site, seed, ClockOfSiteDay(site, date));
    Slots slots;
    for (int s = 0; s < kSlotsPerDay; ++s) {
      for (const DoorSettings& door : site.doors) {
        slots.entries[s] += day->Slots[s].Counts[door.in_channel - 1];
        slots.exits[s] += day->Slots[s].Counts[door.out_channel - 1];
      }
    }
    days.push_back(std::move(slots));
  }
  return days;
}

// The mean and variance of the entries of every quarter hour of `days`.
std::pair<double, double> QuarterMoments(const std::vector<Slots>& days) {
  double sum = 0, squares = 0, n = 0;
  for (const Slots& day : days) {
    for (const double count : day.entries) {
      sum += count;
      squares += count * count;
      ++n;
    }
  }
  const double mean = sum / n;
  return {mean, squares / n - mean * mean};
}

TEST(TrafficRealism, DispersionGivesTheVarianceOfItsGammaPoisson) {
  const auto [mean, variance] =
      QuarterMoments(TwelveWeeks(SiteWith("visitors = 9600\ndispersion = 2")));
  // variance = mean + mean^2 / k
  EXPECT_NEAR(mean * mean / (variance - mean), 2.0, 0.2) << mean << " " << variance;
}

TEST(TrafficRealism, GroupsComeTogetherWithoutChangingTheDaysVisitors) {
  const std::vector<Slots> days = TwelveWeeks(SiteWith("visitors = 9600\ngroup_size_mean = 3"));
  const auto [mean, variance] = QuarterMoments(days);
  EXPECT_NEAR(mean * 96, 9600, 9600 * 0.02);
  // Groups of 1 + Poisson(2) arriving as Poisson: variance / mean = E[S^2] / E[S].
  EXPECT_NEAR(variance / mean, (2.0 + 9.0) / 3, 0.3);
}

TEST(TrafficRealism, SmoothHoursHaveNoStepAtTheHour) {
  const SiteSettings site = SiteWith("visitors = 20000\nsmooth = true", "retail");
  const std::vector<Slots> days = TwelveWeeks(site);
  std::vector<double> mean(kSlotsPerDay, 0.0);
  for (const Slots& day : days) {
    for (int s = 0; s < kSlotsPerDay; ++s) mean[s] += day.entries[s] / kDays;
  }
  // Counts per unit of hourly weight, from the hours well inside opening.
  double counted = 0, weights = 0;
  for (int h = 10; h < 19; ++h) {
    for (int s = 4 * h; s < 4 * h + 4; ++s) counted += mean[s];
    weights += 4 * site.hourly[h];
  }
  const double per_weight = counted / weights;
  for (int s = 40; s < 19 * 4; ++s) {
    // From one quarter hour to the next, a straight line between the hours'
    // middles climbs at most a quarter of the difference of the hours it
    // spans (the hour of the first quarter hour and its neighbour).
    const int hour = s / 4;
    const double slope = std::max(std::fabs(site.hourly[hour + 1] - site.hourly[hour]),
                                  std::fabs(site.hourly[hour] - site.hourly[hour - 1])) /
                         4 * per_weight;
    const double noise = 4 * std::sqrt((mean[s] + mean[s + 1]) / kDays);
    EXPECT_LE(std::fabs(mean[s + 1] - mean[s]), 1.25 * slope + noise) << "slot " << s;
  }
}

TEST(TrafficRealism, ClosingTaperSpreadsTheOfficesExodus) {
  const SiteSettings site = SiteWith("visitors = 2000\nclosing_taper_minutes = 60", "office");
  double last_quarter = 0, exits = 0, late_entries = 0, entries = 0;
  for (const Slots& day : TwelveWeeks(site)) {
    const auto last =
        std::find_if(day.exits.rbegin(), day.exits.rend(), [](double count) { return count > 0; });
    if (last == day.exits.rend()) continue;
    last_quarter += *last;
    exits += day.Exits();
    late_entries += day.entries[day.exits.rend() - last - 1];
    entries += day.Entries();
  }
  EXPECT_LE(last_quarter / exits, 0.10);
  EXPECT_LE(late_entries / entries, 0.005) << "arrivals fade out before closing";
}

TEST(TrafficRealism, StaysTakeTheirSpreadAndTheWalkThroughsTheirShare) {
  // Everyone comes between 10:00 and 11:00: the exits show the stays.
  const std::string hourly =
      "0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0";
  struct Measured {
    double spread;       // of the stays, from the exits' variance less the entries'
    double short_share;  // of the visitors out by 11:15
  };
  const auto measure = [&](int dwell, const std::string& knobs) {
    const SiteSettings site =
        SiteWith("visitors = 2000\ndwell_minutes = " + std::to_string(dwell) + "\n" + knobs,
                 "custom", "s", hourly);
    double n = 0, sum = 0, squares = 0, short_visits = 0;
    for (const Slots& day : TwelveWeeks(site)) {
      for (int s = 0; s < kSlotsPerDay; ++s) {
        const double minutes = s * 15 + 7.5 - 10.5 * 60;  // after the mean arrival
        n += day.exits[s];
        sum += day.exits[s] * minutes;
        squares += day.exits[s] * minutes * minutes;
        if (s < 45) short_visits += day.exits[s];
      }
    }
    const double mean = sum / n;
    const double stay_variance = squares / n - mean * mean - 60.0 * 60 / 12 - 15.0 * 15 / 12;
    return Measured{std::sqrt(stay_variance) / mean, short_visits / n};
  };
  EXPECT_NEAR(measure(120, "dwell_spread = 1.0").spread, 1.0, 0.1);
  EXPECT_NEAR(measure(120, "").spread, 0.5, 0.05) << "a stay's usual spread";
  // Stays of 8 hours are hardly ever shorter than 75 minutes.
  EXPECT_NEAR(measure(480, "walk_through_share = 0.4").short_share, 0.4, 0.02);
  EXPECT_LT(measure(480, "").short_share, 0.01);
}

TEST(TrafficRealism, StaffAloneCountOutsideOpeningHoursWithinTheirs) {
  // Retail opens 09:00-20:00 Monday to Saturday and not on Sunday.
  const SiteSettings site =
      SiteWith("visitors = 1000\nstaff_per_day = 12\nstaff_hours = \"07:00-22:00\"", "retail");
  int open_days = 0;
  double before = 0, after = 0;
  for (const Slots& day : TwelveWeeks(site)) {
    double occupancy = 0;
    for (int s = 0; s < kSlotsPerDay; ++s) {
      const bool open = s >= 36 && s < 80;
      const bool staff_time = s >= 28 && s < 88;
      if (!staff_time) {
        ASSERT_EQ(day.entries[s] + day.exits[s], 0) << "slot " << s;
      }
      if (!open && s < 36) before += day.entries[s] - day.exits[s];
      if (!open && s >= 80) after += day.exits[s] - day.entries[s];
      occupancy += day.entries[s] - day.exits[s];
      ASSERT_GE(occupancy, 0);
    }
    EXPECT_EQ(occupancy, 0);
    if (day.Entries() > 0) ++open_days;
  }
  EXPECT_EQ(open_days, 72) << "six days a week";
  EXPECT_EQ(before, 12 * open_days) << "everyone in before opening";
  EXPECT_EQ(after, 12 * open_days) << "and out after closing";
}

// The true passages of twelve weeks of `site` as its truth lists them: each
// count of a day plus the passages the truth says its counter missed.
std::vector<Slots> TrueTwelveWeeks(const SiteSettings& site, const std::vector<Slots>& counted,
                                   uint32_t seed = 7) {
  std::vector<Slots> days = counted;
  auto day = std::make_unique<DayCounts>();
  for (int d = 0; d < kDays; ++d) {
    const TDateTime date = FirstDay() + d;
    InitDayCountsFor(*day, date);
    AddVisitorsTo(*day, site, seed, ClockOfSiteDay(site, date));
    const std::string text =
        FaultTruthText(PlantSiteDayFaults(site, seed, date, *day, date).records);
    // Drawn anew, as a live run draws it, the truth is the same.
    EXPECT_EQ(FaultTruthText(PlantSiteDayFaults(site, seed, date, *day, date).records), text);
    for (const PassageTruth& missed : ParseTruth(text, "t").passages) {
      for (size_t c = 0; c < missed.channels.size(); ++c) {
        for (const DoorSettings& door : site.doors) {
          for (int s = 0; s < kSlotsPerDay; ++s) {
            const double n = static_cast<double>(missed.missed[c][s]);
            if (door.in_channel == missed.channels[c]) days[d].entries[s] += n;
            if (door.out_channel == missed.channels[c]) days[d].exits[s] += n;
          }
        }
      }
    }
  }
  return days;
}

TEST(TrafficRealism, CountErrorsMissTheirShareMoreAtHighFlow) {
  const std::string knobs = "visitors = 4000\ndwell_minutes = 20\nstaff_per_day = 10\n";
  const std::vector<Slots> truth = TwelveWeeks(SiteWith(knobs, "retail"));
  const SiteSettings missing = SiteWith(knobs + "count_error_percent = 3", "retail");
  const std::vector<Slots> counted = TwelveWeeks(missing);
  // The truth's true passages are those of the same site without misses.
  const std::vector<Slots> told = TrueTwelveWeeks(missing, counted);
  double true_passages = 0, counted_passages = 0;
  for (int d = 0; d < kDays; ++d) {
    EXPECT_EQ(told[d].entries, truth[d].entries) << d;
    EXPECT_EQ(told[d].exits, truth[d].exits) << d;
    true_passages += told[d].Entries() + told[d].Exits();
    counted_passages += counted[d].Entries() + counted[d].Exits();
  }
  EXPECT_NEAR(counted_passages / true_passages, 0.97, 0.005);

  // With occlusion, the busiest hour (18:00) loses more than the quietest (09:00),
  // in proportion to their weights.
  const std::vector<Slots> occluded = TwelveWeeks(SiteWith(knobs + "occlusion = 0.2", "retail"));
  const auto share = [&](int hour) {
    double kept = 0, all = 0;
    for (int d = 0; d < kDays; ++d) {
      for (int s = 4 * hour; s < 4 * hour + 4; ++s) {
        kept += occluded[d].entries[s];
        all += truth[d].entries[s];
      }
    }
    return kept / all;
  };
  // The peak's weight is 7, 09:00's 2.
  EXPECT_NEAR(share(18), 1 - 0.2, 0.02);
  EXPECT_NEAR(share(9), 1 - 0.2 * 2 / 7, 0.02);
}

TEST(TrafficRealism, EventsScaleTheirDaysAndHolidaysTakeSunday) {
  // Two weeks of a sale at 1.5, and Wednesday 12 May a holiday (Sunday:
  // closed for retail).
  const SiteSettings site = SiteWith(
      "visitors = 3000\nholidays = [\"2027-05-12\"]\n"
      "events = [{ from = \"2027-04-19\", to = \"2027-05-02\", factor = 1.5, name = \"Sale\" }]",
      "retail");
  const std::vector<Slots> days = TwelveWeeks(site);
  double sale = 0, other = 0;
  for (int d = 0; d < kDays; ++d) {
    const TDateTime date = FirstDay() + d;
    if (date == EncodeDate(2027, 5, 12)) {
      EXPECT_EQ(days[d].Entries(), 0) << "the holiday";
      continue;
    }
    (d >= 14 && d < 28 ? sale : other) += days[d].Entries();
  }
  // Other weeks: 9 full weeks and one less a Wednesday (of 6.75 weekday
  // factors a week, Wednesday's 1).
  const double other_weeks = other / (10 - 1 / 6.75);
  EXPECT_NEAR(sale / 2 / other_weeks, 1.5, 1.5 * 0.05);
}

TEST(TrafficRealism, WeatherCorrelatesTheDaysAcrossAnyStart) {
  double sum = 0;
  const int sites = 8;
  for (int k = 0; k < sites; ++k) {
    const SiteSettings site = SiteWith(
        "visitors = 3000\nvariation_percent = 40\n"
        "weather_correlation = 0.8",
        "custom", "s" + std::to_string(k));
    std::vector<double> totals;
    for (const Slots& day : TwelveWeeks(site)) totals.push_back(day.Entries());
    const double mean = std::accumulate(totals.begin(), totals.end(), 0.0) / kDays;
    double lagged = 0, squares = 0;
    for (int d = 0; d < kDays; ++d) {
      squares += (totals[d] - mean) * (totals[d] - mean);
      if (d > 0) lagged += (totals[d] - mean) * (totals[d - 1] - mean);
    }
    sum += lagged / squares;
  }
  EXPECT_NEAR(sum / sites, 0.8, 0.1);
}

}  // namespace
}  // namespace tly
