// Scenario files: what they may say, and every way they can be wrong, each
// refused with the file, the line and the key.

#include "scenario/scenario_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "faults/fault_table.h"

namespace tly {
namespace {

std::string ProblemOf(const std::string& text) {
  try {
    ParseScenario(text, "s.toml");
  } catch (const ScenarioError& error) {
    return error.what();
  }
  return "accepted";
}

TEST(ScenarioFile, TheExampleIsAValidScenarioWithDefaultsApplied) {
  const Scenario scenario = ParseScenario(ExampleScenario(), "example.toml");
  ASSERT_EQ(scenario.sites.size(), 4u);
  EXPECT_EQ(scenario.seed, 2027u);
  const SiteSettings& rivoli = scenario.sites[0];
  EXPECT_EQ(rivoli.time_zone, "Europe/Paris");  // from [defaults]
  EXPECT_EQ(rivoli.seasonal[11], 1.4);
  EXPECT_TRUE(rivoli.hours[6].empty()) << "sunday = closed";
  EXPECT_EQ(rivoli.hours[0], (DayHours{{600, 1140}}));
  EXPECT_EQ(rivoli.hours[1], (DayHours{{540, 1200}})) << "other days keep the profile's";
  EXPECT_EQ(rivoli.closed_days.size(), 3u);
  EXPECT_TRUE(rivoli.default_layout);
  EXPECT_EQ(rivoli.ChannelCount(), 10);

  const SiteSettings& office = scenario.sites[1];
  ASSERT_EQ(office.doors.size(), 3u);
  EXPECT_EQ(office.doors[2].name, "Bridge");
  EXPECT_EQ(office.doors[2].kind, 'C');
  EXPECT_EQ(office.doors[0].weight, 3);
  EXPECT_EQ(office.ChannelCount(), 6);

  EXPECT_EQ(scenario.sites[2].time_zone, "Asia/Tokyo");
  EXPECT_EQ(scenario.sites[2].hourly[8], 9);
  EXPECT_EQ(scenario.sites[3].profile, TrafficProfile::kFlat);
}

// Site rates replace the scenario's kind by kind; the example plants none.
TEST(ScenarioFile, FaultRatesOfTheScenarioAndOfEachSite) {
  EXPECT_FALSE(ParseScenario(ExampleScenario(), "example.toml").HasFaults());
  const Scenario scenario = ParseScenario(
      "[faults]\nspike = 0.25\ntruncated = 0.5\n"
      "[[site]]\nname = \"a\"\nshop_code = \"1\"\n"
      "[[site]]\nname = \"b\"\nshop_code = \"2\"\nprofile = \"flat\"\n"
      "[site.faults]\ntruncated = 0\nclock_skew = 1\n",
      "s.toml");
  ASSERT_TRUE(scenario.HasFaults());
  const FaultRates& a = scenario.sites[0].faults;
  const FaultRates& b = scenario.sites[1].faults;
  EXPECT_EQ(a[FaultKind::kSpike], 0.25);
  EXPECT_EQ(a[FaultKind::kTruncated], 0.5);
  EXPECT_EQ(a[FaultKind::kClockSkew], 0);
  EXPECT_EQ(b[FaultKind::kSpike], 0.25) << "kept from [faults]";
  EXPECT_EQ(b[FaultKind::kTruncated], 0) << "replaced by the site's";
  EXPECT_EQ(b[FaultKind::kClockSkew], 1);
  for (size_t k = 0; k < kFaultKindCount; ++k) {
    const FaultKind kind = static_cast<FaultKind>(k);
    EXPECT_EQ(FaultKindOfName(FaultKindName(kind)), kind);
  }
  // The example and the README list the kinds as the program's table does.
  EXPECT_NE(ExampleScenario().find(FaultRatesExample()), std::string::npos);
  std::ostringstream readme;
  readme << std::ifstream(TLY_README).rdbuf();
  EXPECT_NE(readme.str().find(FaultTableMarkdown()), std::string::npos)
      << "the README's table of the fault kinds is not\n"
      << FaultTableMarkdown();
}

TEST(ScenarioFile, BadFilesNameTheFileLineAndKey) {
  const std::string site = "[[site]]\nname = \"a\"\nshop_code = \"001\"\n";
  std::string zeros = "[0";  // 24 hourly weights of 0
  for (int hour = 1; hour < 24; ++hour) zeros += ", 0";
  zeros += "]";
  const struct {
    std::string text;
    const char* says;
  } cases[] = {
      {"[[site]\nname = \"a\"", "s.toml:1: "},
      {site + "colour = \"red\"\n", "s.toml:4: site[1].colour: is not a key of a site"},
      {"sed = 3\n" + site, "s.toml:1: sed: is not a key of a scenario"},
      {site + "visitors = -5\n", "s.toml:4: site[1].visitors: must be a number from 0"},
      {site + "[site.hours]\nmonday = \"19:00-09:00\"\n",
       "s.toml:5: site[1].hours.monday: \"19:00-09:00\" ends before it starts"},
      {site + "[site.hours]\nfunday = \"closed\"\n",
       "s.toml:5: site[1].hours.funday: is not a weekday"},
      {site + "[site.hours]\nmonday = \"09:10-12:00\"\n",
       "does not open and close on quarter hours"},
      {"[[site]]\nname = \"a\"\nshop_code = \"0 1\"\n",
       "s.toml:3: site[1].shop_code: \"0 1\" does not fit a row's first field"},
      {"[[site]]\nname = \"a\"\nshop_code = \"#01\"\n", "does not fit a row's first field"},
      {"[[site]]\nname = \"a\"\nshop_code = \"12345678901\"\n", "does not fit"},
      // A reader takes a line holding either word for a column title line.
      {"[[site]]\nname = \"a\"\nshop_code = \"CNL1\"\n",
       "s.toml:3: site[1].shop_code: \"CNL1\" would hide every row"},
      {"[[site]]\nname = \"a\"\nshop_code = \"Magasin-2\"\n", "would hide every row"},
      {"[[site]]\nname = \"faults.jsonl\"\nshop_code = \"1\"\n",
       "s.toml:2: site[1].name: \"faults.jsonl\" is the name of a file the program writes"},
      {"[[site]]\nname = \"faults.shard-2-of-3.tmp\"\nshop_code = \"1\"\n",
       "is the name of a file the program writes"},
      {"[[site]]\nname = \"faults.old\"\nshop_code = \"1\"\n", "accepted"},
      {site + "profile = \"custom\"\n[site.weights]\nhourly = " + zeros + "\n",
       "s.toml:6: site[1].weights.hourly: must not all be 0"},
      {site + "profile = \"custom\"\n[site.weights]\nweekday = [0, 0, 0, 0, 0, 0, 0]\n",
       "s.toml:6: site[1].weights.weekday: must not all be 0"},
      {site + "[site.layout]\ndevice = \"TLY01\"\ndoors = [{ in = 1, out = 5 }, { in = 2, out = 6 "
              "}]\n",
       "accepted"},
      {site + "[site.layout]\ndevice = \"TLY01\"\ndoors = [{ out = 6 }]\n",
       "site[1].layout.doors[1].out: a TLY01 device counts door n on channels n (in) and n + 4 "
       "(out); "
       "door 1's out channel is 5"},
      // A path would let the zone loader read any file, such as a FIFO that blocks.
      {site + "time_zone = \"/usr/share/zoneinfo/UTC\"\n", "is not a zone"},
      {site + "[site.layout]\ndevice = \"RV9\"\ndoors = [{ name = \"x\", in = 65, out = 2 }]\n",
       "s.toml:6: site[1].layout.doors[1].in: must be a whole number from 1 to 64"},
      {site + "[site.layout]\ndevice = \"TLY08\"\ndoors = [{ in = 9, out = 2 }]\n",
       "channel 9 is beyond the 8 channels a TLY08 configuration holds"},
      {site + "[site.layout]\ndevice = \"TLY01\"\ndoors = [{}, {}, {}, {}, {}]\n",
       "5 doors are more than a TLY01 configuration holds (4)"},
      {site + "[site.layout]\ndoors = [{ in = 1, out = 2 }, { in = 2, out = 3 }]\n",
       "channel 2 is counted by site[1].layout.doors[1] already"},
      {site + "[site.layout]\ndevice = \"XYZ\"\ndoors = [{}]\n",
       "is not a device the header knows"},
      {site + "[[site]]\nname = \"a\"\nshop_code = \"002\"\n",
       "s.toml:5: site[2].name: \"a\" is the name of the site on line 1 too"},
      {"[[site]]\nname = \"../up\"\nshop_code = \"1\"\n",
       "site[1].name: \"../up\" is not a directory name"},
      {"[[site]]\nname = \"a/b\"\nshop_code = \"1\"\n", "is not a directory name"},
      {"[[site]]\nname = \"..\"\nshop_code = \"1\"\n", "is not a directory name"},
      {"[[site]]\nshop_code = \"1\"\n", "site[1].name: is missing"},
      {site + "profile = \"mall\"\n", "site[1].profile: \"mall\" is not retail, office"},
      {site + "profile = \"custom\"\n", "site[1].weights: is missing"},
      {site + "weights = { hourly = [1] }\nprofile = \"custom\"\n",
       "site[1].weights.hourly: must be a list of 24 numbers"},
      {site + "weights = { weekday = [1, 1, 1, 1, 1, 1, 1] }\n", "needs profile = \"custom\""},
      {site + "time_zone = \"Mars/Olympus\"\n", "\"Mars/Olympus\" is not a zone"},
      {site + "closed = [\"2026-02-30\"]\n", "\"2026-02-30\" is not a date written YYYY-MM-DD"},
      {site + "seasonal = [1, 2]\n", "site[1].seasonal: must be a list of 12 numbers"},
      {site + "profile = \"flat\"\nvisitors = 10\n",
       "site[1].visitors: does not apply to profile \"flat\""},
      {"[defaults]\nname = \"x\"\n" + site, "s.toml:2: defaults.name: belongs to each site"},
      {"[defaults]\nvisitor = 3\n" + site, "defaults.visitor: is not a key of a site"},
      {"seed = 4294967296\n" + site, "s.toml:1: seed: must be a whole number from 0 to 4294967295"},
      {"seed = 7\n", "s.toml:1: site: the scenario has no [[site]]"},
      {"[faults]\nspikes = 0.1\n" + site,
       "s.toml:2: faults.spikes: is not a fault kind (missing_day, offline_days,"},
      {"[faults]\nspike = 1.5\n" + site, "s.toml:2: faults.spike: must be a number from 0 to 1"},
      {"[faults]\nspike = \"often\"\n" + site, "faults.spike: must be a number from 0 to 1"},
      {"faults = 3\n" + site, "s.toml:1: faults: must be a table"},
      {site + "[site.faults]\ntruncated = -0.1\n",
       "s.toml:5: site[1].faults.truncated: must be a number from 0 to 1"},
      {site + "[site.faults]\nbit_flip = 0.1\n", "site[1].faults.bit_flip: is not a fault kind"},
      {"[defaults.faults]\nspike = 0.1\n" + site,
       "defaults.faults: stands at the top as [faults], not in the defaults"},
      // The realism knobs, one row each.
      {site + "smooth = 1\n", "s.toml:4: site[1].smooth: must be true or false"},
      {site + "dispersion = 0.05\n", "s.toml:4: site[1].dispersion: must be 0 (no crowds) or"},
      {site + "group_size_mean = 7\n",
       "s.toml:4: site[1].group_size_mean: must be a number from 1 to 6"},
      {site + "closing_taper_minutes = 30.5\n",
       "site[1].closing_taper_minutes: must be a whole number from 0 to 240"},
      {site + "dwell_spread = 0\n", "site[1].dwell_spread: must be a number from 0.1 to 3"},
      {site + "walk_through_share = 1.5\n",
       "site[1].walk_through_share: must be a number from 0 to 1"},
      {"[defaults]\nstaff_per_day = -1\n" + site,
       "s.toml:2: site[1].staff_per_day: must be a whole number from 0"},
      {site + "staff_hours = \"06:00-12:00, 13:00-21:00\"\n",
       "site[1].staff_hours: must be one interval"},
      {site + "count_error_percent = 60\n",
       "site[1].count_error_percent: must be a number from 0 to 50"},
      {site + "occlusion = 0.6\n", "site[1].occlusion: must be a number from 0 to 0.5"},
      {site + "holidays = [\"2027-13-01\"]\n", "site[1].holidays: \"2027-13-01\" is not a date"},
      {site + "events = [{ from = \"2027-05-02\", to = \"2027-05-01\", factor = 2 }]\n",
       "s.toml:4: site[1].events[1].to: comes before from"},
      {site + "weather_correlation = 0.96\n",
       "site[1].weather_correlation: must be a number from 0 to 0.95"},
  };
  for (const auto& c : cases) {
    const std::string problem = ProblemOf(c.text);
    EXPECT_NE(problem.find(c.says), std::string::npos) << c.says << "\n  got: " << problem;
  }
}

}  // namespace
}  // namespace tly
