// Live delivery against real servers on 127.0.0.1, on the simulated clock:
// a server that goes away in the middle of a run gets every file once it is
// back, and the delivery faults shape live pushes as they shape a backfill's.

#include "delivery/live_delivery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "delivery/logged_deliveries.h"
#include "delivery/test_servers.h"
#include "live/live_scenario.h"
#include "scenario/scenario_file.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WaitFor;

std::vector<nlohmann::json> LogOf(const std::string& out) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(ReadBytes(out + "/deliveries.jsonl"));
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

size_t CountOf(const std::vector<nlohmann::json>& log, const std::string& outcome) {
  return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const nlohmann::json& line) {
    return line["outcome"] == outcome;
  }));
}

// A scenario's sites generating into `out` and delivering with `settings`,
// driven through simulated time by the test.
struct LiveRun {
  LiveRun(const std::string& text, const std::string& out_dir, const DeliverySettings& settings,
          double fault_rate, int64_t start)
      : scenario(ParseScenario(text, "s.toml")), out(out_dir), live(scenario, out, scenario.seed) {
    std::vector<LiveDelivery::Site> sites;
    for (const SiteSettings& site : scenario.sites) {
      DeliveryFaultRates faults;
      faults.rate.fill(fault_rate);
      sites.push_back({{site.name, site.shop_code, settings, faults}, site.time_zone});
    }
    delivery = std::make_unique<LiveDelivery>(out, sites, 2, nullptr, 2);
    live.Start(start);
    delivery->Start(start);
    now = start;
  }

  void AdvanceTo(int64_t end, int64_t step = 60) {
    while (now < end) {
      now = std::min(end, now + step);
      live.AdvanceTo(now);
      delivery->AdvanceTo(now);
    }
  }

  std::vector<SpooledFile> Finish() {
    EXPECT_TRUE(live.SaveAll());
    return delivery->Finish(now, std::chrono::minutes(3));
  }

  Scenario scenario;
  std::string out;
  LiveScenario live;
  std::unique_ptr<LiveDelivery> delivery;
  int64_t now = 0;
};

const char kOneSite[] = "seed = 3\n[[site]]\nname = \"north\"\nshop_code = \"N1\"\n";

// The FTP server stops before midnight and comes back after it: the device
// retries after half its retry_minutes and after all of them, then waits for
// its next push; once the server is back every file arrives, and the log
// says when each attempt failed and why.
TEST(LiveDelivery, AServerStoppedMidRunGetsEveryFileOnceItIsBack) {
  TempDir dir;
  const std::string out = dir.File("out");
  const std::string root = dir.File("server");
  std::filesystem::create_directories(out);
  std::filesystem::create_directories(root);
  testing::FtpServer ftp(root);
  if (!ftp.up()) GTEST_SKIP() << ftp.why();
  DeliverySettings settings;
  settings.url = ftp.Url();
  settings.user = "anonymous";
  settings.every_minutes = 15;
  settings.retry_minutes = 10;
  const int64_t start = 1804546800;  // 2027-03-08T23:00 UTC
  LiveRun run(kOneSite, out, settings, 0, start);
  run.AdvanceTo(start + 16 * 60);  // the push of 23:15
  ASSERT_TRUE(WaitFor([&] { return CountOf(LogOf(out), "ok") >= 1; }));

  ftp.Stop();
  for (const int minute : {30, 35, 40, 45}) {
    run.AdvanceTo(start + minute * 60);
    const size_t failed = 1 + (minute - 30) / 5;
    ASSERT_TRUE(WaitFor([&] { return CountOf(LogOf(out), "failed") == failed; })) << minute;
  }
  run.AdvanceTo(start + 80 * 60);  // over midnight, the server still away
  ASSERT_TRUE(ftp.Start()) << ftp.why();
  run.AdvanceTo(start + 110 * 60);
  EXPECT_TRUE(run.Finish().empty());

  for (const char* name : {"270308.tly", "270309.tly"}) {
    EXPECT_EQ(ReadBytes(root + "/north/" + name), ReadBytes(out + "/north/" + name)) << name;
  }
  const std::vector<nlohmann::json> log = LogOf(out);
  std::vector<std::string> made;
  for (const nlohmann::json& line : log) {
    if (line["outcome"] == "failed") made.push_back(line["made"]);
  }
  ASSERT_GE(made.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(made.begin(), made.begin() + 4),
            (std::vector<std::string>{"2027-03-08T23:30:00", "2027-03-08T23:35:00",
                                      "2027-03-08T23:40:00", "2027-03-08T23:45:00"}));
  bool final_failed = false;
  std::string final_ok;
  for (const nlohmann::json& line : log) {
    if (line["file"] != "north/270308.tly" || line["due"] != "2027-03-09T00:00:00") continue;
    if (line["outcome"] == "failed") final_failed = true;
    if (line["outcome"] == "ok") final_ok = line["made"];
    EXPECT_NE(line["error"] == "", line["outcome"] == "failed") << line;
  }
  EXPECT_TRUE(final_failed) << "the day's final push came while the server was away";
  EXPECT_GT(final_ok, "2027-03-09T00:20:00") << "and arrived once it was back";
  EXPECT_FALSE(std::filesystem::exists(out + "/deliveries.spool"));
}

// Every delivery fault at 0.3 over a few live days: what the receiver got,
// under which name and in which order, is what the log says; the server
// holds OUT's files but for a stale version sent last; each kind is there.
TEST(LiveDelivery, FaultsShapeLivePushesAndTheLogIsTheServersHistory) {
  TempDir dir;
  const std::string out = dir.File("out");
  std::filesystem::create_directories(out);
  testing::HttpReceiver http(dir.File("server"));
  DeliverySettings settings;
  settings.url = http.Url();
  settings.protocol = DeliveryProtocol::kHttp;
  settings.every_minutes = 60;
  LiveRun run(
      "seed = 3\n[[site]]\nname = \"north\"\nshop_code = \"N1\"\n"
      "[[site]]\nname = \"south\"\nshop_code = \"S1\"\nprofile = \"flat\"\n",
      out, settings, 0.3, 1804464000);  // 2027-03-08T00:00 UTC
  run.AdvanceTo(run.now + 6 * 86400, 300);
  run.Finish();

  const testing::LoggedDeliveries logged = testing::SummarizeDeliveryLog(LogOf(out));
  EXPECT_EQ(testing::ArrivalsBySite(http), logged.by_site);
  EXPECT_EQ(logged.faults.size(), kDeliveryFaultCount) << ReadBytes(out + "/deliveries.jsonl");
  for (const auto& [path, line] : logged.last_ok) {
    const std::string copy = ReadBytes(dir.File("server") + "/" + path);
    EXPECT_EQ(copy.size(), line["bytes"]) << path;
    if (path.find('(') != std::string::npos) continue;  // a duplicate's name
    EXPECT_EQ(copy == ReadBytes(out + "/" + path), line["fault"] != "stale_resend") << line;
  }
}

}  // namespace
}  // namespace tly
