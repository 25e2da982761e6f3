// Delivery against real servers on 127.0.0.1: what arrives is the output
// directory byte for byte, and deliveries.jsonl tells what was sent, in
// which order, and what failed.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "backfill/scenario_backfill.h"
#include "dayfile/day_file_name.h"
#include "delivery/delivery_log.h"
#include "delivery/history_delivery.h"
#include "delivery/live_delivery.h"
#include "delivery/logged_deliveries.h"
#include "delivery/partial_day_file.h"
#include "delivery/test_servers.h"
#include "live/live_scenario.h"
#include "scenario/scenario_file.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::TempDir;

const char kScenario[] =
    "seed = 11\n"
    "[[site]]\nname = \"north\"\nshop_code = \"N1\"\n"
    "[[site]]\nname = \"south\"\nshop_code = \"S1\"\nprofile = \"flat\"\n";

// Three days of two sites in OUT, and a delivery request for them.
struct History {
  explicit History(const TempDir& dir, int last_day = 10)
      : out(dir.File("out")), root(dir.File("server")) {
    std::filesystem::create_directories(out);
    std::filesystem::create_directories(root);
    scenario = ParseScenario(kScenario, "s.toml");
    ScenarioBackfillRequest backfill;
    backfill.scenario = &scenario;
    backfill.out_dir = out;
    backfill.from = {2027, 3, 8};
    backfill.to = {2027, 3, last_day};
    backfill.seed = scenario.seed;
    ScenarioBackfill(backfill);
  }

  HistoryDeliveryRequest Request(const DeliverySettings& settings) const {
    HistoryDeliveryRequest request;
    request.out_dir = out;
    request.connections = 1;
    request.retry_pause = std::chrono::milliseconds(0);
    for (const SiteSettings& site : scenario.sites) {
      request.sites.push_back({site.name, site.shop_code, settings});
      request.pushes.push_back(FinalDayFilePushes(out + "/" + site.name, {}, {}));
    }
    return request;
  }

  std::vector<nlohmann::json> Log() const {
    std::vector<nlohmann::json> lines;
    std::istringstream in(ReadBytes(out + "/deliveries.jsonl"));
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
  }

  // Every site's folder on the server holds what OUT holds, byte for byte.
  void ExpectServerEqualsOut() const {
    for (const SiteSettings& site : scenario.sites) {
      const std::vector<std::string> names = testing::EntriesOf(out + "/" + site.name);
      ASSERT_EQ(names.size(), 3u);
      EXPECT_EQ(testing::EntriesOf(root + "/" + site.name), names) << site.name;
      for (const std::string& name : names) {
        EXPECT_EQ(ReadBytes(root + "/" + site.name + "/" + name),
                  ReadBytes(out + "/" + site.name + "/" + name))
            << site.name << "/" << name;
      }
    }
  }

  std::string out;
  std::string root;
  Scenario scenario;
};

class DeliveryTo : public ::testing::TestWithParam<std::string> {};

TEST_P(DeliveryTo, EverySiteFolderArrivesByteForByteAgainAndAgain) {
  TempDir dir;
  History history(dir);
  DeliverySettings settings;
  std::unique_ptr<testing::FtpServer> ftp;
  std::unique_ptr<testing::SftpServer> sftp;
  std::unique_ptr<testing::HttpReceiver> http;
  std::unique_ptr<testing::FtpsServer> ftps;
  std::string cert, key, why;
  if ((GetParam() == "ftps" || GetParam() == "https") &&
      !testing::MakeTestCertificate(dir, cert, key, why)) {
    GTEST_SKIP() << why;
  }
  if (GetParam() == "ftps") {
    // TLS checked against the test's own certificate.
    ftps = std::make_unique<testing::FtpsServer>(dir, history.root, cert, key);
    if (!ftps->up()) GTEST_SKIP() << ftps->why();
    settings.url = ftps->Url();
    settings.protocol = DeliveryProtocol::kFtps;
    settings.user = "anonymous";
    settings.ca_file = cert;
  } else if (GetParam() == "https") {
    http = std::make_unique<testing::HttpReceiver>(history.root, "", "", cert, key);
    settings.url = http->Url();
    settings.protocol = DeliveryProtocol::kHttps;
    EXPECT_EQ(DeliverHistory(history.Request(settings)).delivered, 0u) << "a certificate unknown";
    std::filesystem::remove(history.out + "/deliveries.jsonl");
    std::filesystem::remove(history.out + "/deliveries.spool");
    settings.insecure = true;
  } else if (GetParam() == "ftp") {
    ftp = std::make_unique<testing::FtpServer>(history.root);
    if (!ftp->up()) GTEST_SKIP() << ftp->why();
    settings.url = ftp->Url();
    settings.user = "anonymous";
  } else if (GetParam() == "sftp") {
    sftp = std::make_unique<testing::SftpServer>(dir);
    if (!sftp->up()) GTEST_SKIP() << sftp->why();
    settings.url = sftp->Url(history.root);
    settings.protocol = DeliveryProtocol::kSftp;
    settings.user = sftp->user();
    settings.key_file = sftp->key();
    settings.known_hosts = dir.File("no_known_hosts");
    testing::WriteBytes(settings.known_hosts, "");
    EXPECT_EQ(DeliverHistory(history.Request(settings)).delivered, 0u) << "a host it does not know";
    std::filesystem::remove(history.out + "/deliveries.jsonl");
    settings.known_hosts = sftp->known_hosts();
  } else {
    http = std::make_unique<testing::HttpReceiver>(history.root);
    settings.url = http->Url();
    settings.protocol = DeliveryProtocol::kHttp;
    settings.method = GetParam() == "http-post" ? HttpMethod::kPost : HttpMethod::kPut;
  }
  // The second time every file is there already and is replaced.
  for (int round = 1; round <= 2; ++round) {
    const HistoryDeliveryResult result = DeliverHistory(history.Request(settings));
    if (sftp && result.delivered == 0 && !sftp->Refusal().empty()) {
      GTEST_SKIP() << sftp->Refusal();
    }
    EXPECT_EQ(result.delivered, 6u) << "round " << round;
    EXPECT_TRUE(result.spooled.empty());
  }
  history.ExpectServerEqualsOut();
  const std::vector<nlohmann::json> log = history.Log();
  ASSERT_EQ(log.size(), 12u);
  EXPECT_EQ(log[0]["file"], "north/270308.tly");
  EXPECT_EQ(log[0]["due"], "2027-03-09T00:00:00") << "a day's final file goes at its midnight";
  EXPECT_EQ(log[2]["remote"], "270310.tly");
  EXPECT_EQ(log[3]["site"], "south");
  for (const nlohmann::json& line : log) {
    EXPECT_EQ(line["outcome"], "ok") << line;
    EXPECT_EQ(line["bytes"], ReadBytes(history.out + "/" + line["file"].get<std::string>()).size());
  }
}

INSTANTIATE_TEST_SUITE_P(Protocols, DeliveryTo,
                         ::testing::Values("ftp", "ftps", "sftp", "http-put", "http-post",
                                           "https"));

// A server that refuses for a while: the device retries, spools, sends the
// backlog with its next push, and the log is the server's history.
TEST(Delivery, AFailingServerGetsTheBacklogAndTheLogTellsTheTruth) {
  TempDir dir;
  History history(dir);
  testing::HttpReceiver http(history.root);
  DeliverySettings settings;
  settings.url = http.Url();
  settings.protocol = DeliveryProtocol::kHttp;
  http.Refuse(3);  // all three attempts of north's first day
  HistoryDeliveryRequest request = history.Request(settings);
  std::vector<std::string> notices;
  request.notice = [&](const std::string& text) { notices.push_back(text); };
  DeliverHistory(request);

  const std::string server =
      "http://127.0.0.1:" + settings.url.substr(17, settings.url.find('/', 17) - 17);
  EXPECT_EQ(notices, (std::vector<std::string>{server + " fails: the server answered HTTP 503",
                                               server + " is back"}));
  const std::vector<nlohmann::json> log = history.Log();
  ASSERT_EQ(log.size(), 9u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(log[i]["outcome"], "failed");
    EXPECT_EQ(log[i]["file"], "north/270308.tly");
  }
  EXPECT_EQ(log[1]["made"], "2027-03-09T00:05:00") << "retried after half the retry minutes";
  EXPECT_EQ(log[2]["made"], "2027-03-09T00:10:00");
  EXPECT_EQ(log[3]["file"], "north/270308.tly") << "the spooled file goes first at the next push";
  EXPECT_EQ(log[3]["made"], "2027-03-10T00:00:00");
  EXPECT_EQ(log[3]["due"], "2027-03-09T00:00:00");
  std::vector<std::string> arrived;
  for (const testing::HttpReceiver::Arrival& arrival : http.arrivals()) {
    arrived.push_back(arrival.path);
  }
  std::vector<std::string> logged;
  for (const nlohmann::json& line : log) {
    if (line["outcome"] == "ok") logged.push_back(line["file"]);
  }
  EXPECT_EQ(arrived, logged);
  history.ExpectServerEqualsOut();

  // Down for a whole run: everything waits in the spool, across runs.
  http.Refuse(1000);
  const HistoryDeliveryResult down = DeliverHistory(history.Request(settings));
  EXPECT_EQ(down.delivered, 0u);
  EXPECT_EQ(down.spooled.size(), 6u);
  EXPECT_TRUE(std::filesystem::exists(history.out + "/deliveries.spool"));
  http.Refuse(0);
  HistoryDeliveryRequest later = history.Request(settings);
  later.pushes.assign(2, {});
  const HistoryDeliveryResult up = DeliverHistory(later);
  EXPECT_EQ(up.delivered, 6u);
  EXPECT_FALSE(std::filesystem::exists(history.out + "/deliveries.spool"));
}

TEST(Delivery, PasswordsComeFromTheEnvironmentAndAreNeverShown) {
  TempDir dir;
  History history(dir);
  const std::string secret = "s3cret-Pa55";
  testing::HttpReceiver http(history.root, "device", secret);
  DeliverySettings settings;
  settings.url = http.Url();
  settings.protocol = DeliveryProtocol::kHttp;
  settings.user = "device";
  settings.password_env = "TLY_TEST_DELIVERY_PASSWORD";
  settings.retry_minutes = 0;
  ::unsetenv("TLY_TEST_DELIVERY_PASSWORD");
  EXPECT_THROW(DeliverHistory(history.Request(settings)), DeliveryRefused);

  ::setenv("TLY_TEST_DELIVERY_PASSWORD", "wrong", 1);
  EXPECT_EQ(DeliverHistory(history.Request(settings)).delivered, 0u);
  ::setenv("TLY_TEST_DELIVERY_PASSWORD", secret.c_str(), 1);
  EXPECT_EQ(DeliverHistory(history.Request(settings)).delivered, 6u);
  ::unsetenv("TLY_TEST_DELIVERY_PASSWORD");
  history.ExpectServerEqualsOut();
  const std::string log = ReadBytes(history.out + "/deliveries.jsonl");
  EXPECT_NE(log.find("HTTP 401"), std::string::npos);
  EXPECT_EQ(log.find(secret), std::string::npos);
}

// The lines of the log `text`, sorted: what a run of shares says together.
std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Every delivery fault at 0.2: the server's history (what arrived, under
// which name, in which order) is what the log says, each kind is there, the
// server holds OUT but for what the faults say differs, and the log is the
// same on any number of connections and of shares.
TEST(Delivery, WithDeliveryFaultsTheLogIsTheServersHistory) {
  TempDir dir;
  History history(dir, 27);
  DeliverySettings settings;
  settings.protocol = DeliveryProtocol::kHttp;
  std::string logs[3];
  for (int run = 0; run < 3; ++run) {
    const std::string root = history.root + std::to_string(run);
    testing::HttpReceiver http(root);
    settings.url = http.Url();
    std::vector<SpooledFile> spooled;
    // Runs 0 and 1 deliver every day on 1 and 2 connections; run 2 in two shares.
    for (int share = 1; share <= (run == 2 ? 2 : 1); ++share) {
      HistoryDeliveryRequest request = history.Request(settings);
      request.connections = 1 + run % 2;
      request.seed = 7;
      if (run == 2) {
        request.shard_index = share;
        request.shard_count = 2;
        for (size_t i = 0; i < request.sites.size(); ++i) {
          for (DeliveryPush& push : request.pushes[i]) {
            push.own =
                InShard({share, 2}, request.sites[i].name, static_cast<int64_t>(push.due) - 1);
          }
        }
      }
      for (DeliverySite& site : request.sites) site.faults.rate.fill(0.2);
      const HistoryDeliveryResult result = DeliverHistory(request);
      spooled.insert(spooled.end(), result.spooled.begin(), result.spooled.end());
      const std::string log = history.out + "/" + DeliveryLogFileName(share, request.shard_count);
      logs[run] += ReadBytes(log);
      std::filesystem::remove(log);
      std::filesystem::remove(history.out + "/" + SpoolFileName(share, request.shard_count));
    }

    std::vector<nlohmann::json> lines;
    std::istringstream log(logs[run]);
    for (std::string text; std::getline(log, text);) lines.push_back(nlohmann::json::parse(text));
    testing::LoggedDeliveries logged = testing::SummarizeDeliveryLog(lines);
    if (run < 2) {
      EXPECT_EQ(testing::ArrivalsBySite(http), logged.by_site);  // shares each keep their own order
    }
    EXPECT_EQ(logged.faults.size(), kDeliveryFaultCount) << logs[run];
    for (const SiteSettings& site : history.scenario.sites) {
      for (const std::string& name : testing::EntriesOf(history.out + "/" + site.name)) {
        const std::string path = site.name + "/" + name;
        const bool waits = std::any_of(spooled.begin(), spooled.end(), [&](const SpooledFile& f) {
          return f.site == site.name && f.file_name == name;
        });
        if (waits) continue;
        const nlohmann::json& last = logged.last_ok[path];
        std::string expected = ReadBytes(history.out + "/" + path);
        if (last["fault"] == "stale_resend") {
          // The day as it stood at the due of the stale version.
          const std::string due = last["due"];
          const int minute = std::stoi(due.substr(11, 2)) * 60 + std::stoi(due.substr(14, 2));
          expected = PartialDayFile(expected, DateFromFileName(name), minute);
          EXPECT_LT(expected.size(), ReadBytes(history.out + "/" + path).size()) << path;
        }
        EXPECT_EQ(last["bytes"], expected.size()) << path;
        EXPECT_TRUE(ReadBytes(root + "/" + path) == expected) << path << " " << last;
      }
    }
  }
  EXPECT_EQ(logs[0], logs[1]);
  EXPECT_EQ(SortedLines(logs[0]), SortedLines(logs[2]));
}

// Live, across midnight, with a server that refuses the first pushes: every
// file arrives once it takes them, and the log is the server's history.
TEST(Delivery, LiveDevicesPushOnTheirScheduleAndCatchUpAfterAnOutage) {
  TempDir dir;
  const std::string out = dir.File("out");
  const std::string root = dir.File("server");
  std::filesystem::create_directories(out);
  testing::HttpReceiver http(root);
  http.Refuse(3);
  const Scenario scenario = ParseScenario(kScenario, "s.toml");
  DeliverySettings settings;
  settings.url = http.Url();
  settings.protocol = DeliveryProtocol::kHttp;
  settings.every_minutes = 60;
  std::vector<LiveDelivery::Site> sites;
  for (const SiteSettings& site : scenario.sites) {
    sites.push_back({{site.name, site.shop_code, settings}, site.time_zone});
  }
  LiveScenario live(scenario, out, scenario.seed);
  LiveDelivery delivery(out, sites, 2, {});
  const int64_t start = 1804536000;  // 2027-03-08T20:00 UTC
  live.Start(start);
  delivery.Start(start);
  int64_t now = start;
  for (; now < start + 6 * 3600; now += 60) {
    live.AdvanceTo(now);
    delivery.AdvanceTo(now);
  }
  ASSERT_TRUE(live.SaveAll());
  EXPECT_TRUE(delivery.Finish(now, std::chrono::minutes(3)).empty());

  for (const SiteSettings& site : scenario.sites) {
    for (const char* name : {"270308.tly", "270309.tly"}) {
      EXPECT_EQ(ReadBytes(root + "/" + site.name + "/" + name),
                ReadBytes(out + "/" + site.name + "/" + name))
          << site.name << "/" << name;
    }
  }
  std::map<std::string, std::vector<std::string>> logged;
  std::istringstream log(ReadBytes(out + "/deliveries.jsonl"));
  int failed = 0;
  for (std::string text; std::getline(log, text);) {
    const nlohmann::json line = nlohmann::json::parse(text);
    if (line["outcome"] == "ok") {
      logged[line["site"]].push_back(line["file"]);
    } else {
      ++failed;
    }
  }
  EXPECT_EQ(failed, 3);
  std::map<std::string, std::vector<std::string>> arrived;
  for (const testing::HttpReceiver::Arrival& arrival : http.arrivals()) {
    arrived[arrival.path.substr(0, arrival.path.find('/'))].push_back(arrival.path);
  }
  EXPECT_EQ(arrived, logged);
  // Pushes that come while the last is still being sent are one: as many
  // as the server took, but both days at least.
  EXPECT_GE(logged["north"].size(), 2u);
}

}  // namespace
}  // namespace tly
