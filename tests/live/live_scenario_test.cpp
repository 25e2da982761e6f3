#include "live/live_scenario.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "scenario/scenario_file.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

const char kScenario[] =
    "seed = 11\n"
    "[[site]]\nname = \"north\"\nshop_code = \"N1\"\n"
    "[[site]]\nname = \"south\"\nshop_code = \"S1\"\nprofile = \"flat\"\n";

constexpr int64_t kEight = 1804492800;  // 2027-03-08T08:00 UTC, a Monday
constexpr int64_t kHour = 3600;

// Runs the sites of `scenario` live into `out` from `from` to `to`, a tick
// every 2 simulated minutes, and saves them all at the end.
void RunLive(const Scenario& scenario, const std::string& out, int64_t from, int64_t to) {
  LiveScenario live(scenario, out, scenario.seed);
  live.Start(from);
  for (int64_t now = from; now < to; now += 120) live.AdvanceTo(now);
  live.AdvanceTo(to);
  ASSERT_TRUE(live.SaveAll()) << live.LastSaveError();
}

// A site's day file that exists but cannot be read when its day begins (a
// named pipe, which no reader may block on) is never replaced while it stays
// unreadable; once it can be read again, the next save continues the day from
// it, so the day ends as one run without the outage writes it.
TEST(LiveScenario, DayFileUnreadableAtTheDayStartIsContinuedOnceReadable) {
  testing::TempDir dir;
  const Scenario scenario = ParseScenario(kScenario, "s.toml");
  const std::string once = dir.File("once");
  const std::string out = dir.File("out");
  std::filesystem::create_directories(once);
  std::filesystem::create_directories(out);
  RunLive(scenario, once, kEight, kEight + 3 * kHour);

  RunLive(scenario, out, kEight, kEight + kHour);
  for (const SiteSettings& site : scenario.sites) {
    const std::string file = out + "/" + site.name + "/270308.tly";
    std::filesystem::rename(file, file + ".aside");
    ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
  }
  LiveScenario live(scenario, out, scenario.seed);
  live.Start(kEight + kHour);
  live.AdvanceTo(kEight + 2 * kHour);
  EXPECT_FALSE(live.SavesOk());
  EXPECT_NE(live.LastSaveError().find("cannot be read"), std::string::npos) << live.LastSaveError();
  for (const SiteSettings& site : scenario.sites) {
    const std::string file = out + "/" + site.name + "/270308.tly";
    EXPECT_TRUE(std::filesystem::is_fifo(file)) << "replaced while unreadable";
    std::filesystem::rename(file + ".aside", file);
  }
  live.AdvanceTo(kEight + 2 * kHour + 120);
  EXPECT_TRUE(live.SavesOk()) << live.LastSaveError();
  live.AdvanceTo(kEight + 3 * kHour);
  ASSERT_TRUE(live.SaveAll()) << live.LastSaveError();
  for (const SiteSettings& site : scenario.sites) {
    const std::string name = "/" + site.name + "/270308.tly";
    EXPECT_EQ(testing::ReadBytes(out + name), testing::ReadBytes(once + name)) << name;
  }
}

}  // namespace
}  // namespace tly
