// backfill --deliver and deliver, as a user runs them: exit codes, what
// they say, and the spool that carries a server's outage to the next run.

#include "cli/deliver_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/backfill_command.h"
#include "delivery/live_delivery.h"
#include "delivery/test_servers.h"
#include "scenario/scenario_file.h"
#include "support/directory_lock.h"
#include "testutil/subcommand_runner.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::TempDir;

testing::CommandOutcome Command(std::vector<std::string> args, const TempDir& scratch) {
  if (args[0] == "deliver") {
    return testing::RunSubcommand<DeliverOptions>(AddDeliverCommand, RunDeliverCommand,
                                                  std::move(args), scratch);
  }
  return testing::RunSubcommand<BackfillOptions>(AddBackfillCommand, RunBackfillCommand,
                                                 std::move(args), scratch);
}

std::string ScenarioTo(const TempDir& dir, const std::string& url, const std::string& extra = "") {
  const std::string path = dir.File("s.toml");
  testing::WriteBytes(path, "[delivery]\nurl = \"" + url + "\"\nretry_minutes = 0\n" + extra +
                                "[[site]]\nname = \"north\"\nshop_code = \"N1\"\n");
  return path;
}

TEST(DeliverCommand, BackfillDeliversAndAnOutageWaitsInTheSpoolForTheNextRun) {
  TempDir scratch;
  TempDir dir;
  const std::string out = dir.File("out");
  const std::string root = dir.File("server");
  std::filesystem::create_directories(out);
  testing::HttpReceiver http(root);
  const std::string scenario = ScenarioTo(dir, http.Url());
  http.Refuse(1000);
  const testing::CommandOutcome down =
      Command({"backfill", "--scenario", scenario, "--out", out, "--from", "2027-03-08", "--to",
               "2027-03-09", "--deliver"},
              scratch);
  EXPECT_EQ(down.exit_code, 1) << down.err;
  EXPECT_NE(down.out.find("0 files of 1 site delivered"), std::string::npos) << down.out;
  EXPECT_NE(down.err.find(" fails: the server answered HTTP 503"), std::string::npos) << down.err;
  EXPECT_NE(
      down.err.find("north/270309.tly was not delivered; it waits in " + out + "/deliveries.spool"),
      std::string::npos)
      << down.err;

  http.Refuse(0);
  const testing::CommandOutcome up =
      Command({"deliver", "--scenario", scenario, "--out", out, "--from", "2027-03-09"}, scratch);
  EXPECT_EQ(up.exit_code, 0) << up.err;
  EXPECT_NE(up.out.find("2 files of 1 site delivered"), std::string::npos) << up.out;
  EXPECT_EQ(ReadBytes(root + "/north/270308.tly"), ReadBytes(out + "/north/270308.tly"))
      << "the spooled day goes although --from leaves it out";
  EXPECT_FALSE(std::filesystem::exists(out + "/deliveries.spool"));
}

TEST(DeliverCommand, WhatCannotBeDoneAsAskedExitsWithTwo) {
  TempDir scratch;
  TempDir dir;
  const std::string out = dir.path();
  const std::string plain = dir.File("plain.toml");
  testing::WriteBytes(plain, "[[site]]\nname = \"north\"\nshop_code = \"N1\"\n");
  const std::string secret = ScenarioTo(dir, "http://127.0.0.1:9/",
                                        "user = \"u\"\n"
                                        "password_env = \"TLY_TEST_UNSET_PASSWORD\"\n");
  ::unsetenv("TLY_TEST_UNSET_PASSWORD");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"deliver", "--scenario", plain, "--out", out}, "gives no site a delivery"},
      {{"deliver", "--scenario", secret, "--out", out},
       "names TLY_TEST_UNSET_PASSWORD, which is not set"},
      {{"deliver", "--scenario", secret, "--out", out, "--from", "2027-02-30"},
       "is not a day of the calendar"},
      {{"backfill", "--out", out, "--from", "2027-03-08", "--to", "2027-03-08", "--deliver"},
       "--deliver needs --scenario"},
  };
  for (const auto& c : cases) {
    const testing::CommandOutcome outcome = Command(c.args, scratch);
    EXPECT_EQ(outcome.exit_code, 2) << c.message;
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
  }
}

// scenario --check names where each site delivers and how, with the name of
// its password's variable and never the password.
TEST(DeliverCommand, TheCheckOfAScenarioListsEachSitesDeliveryWithoutAPassword) {
  ::setenv("TLY_TEST_SHOWN_PASSWORD", "s3cret-Pa55", 1);
  const Scenario scenario = ParseScenario(
      "[delivery]\nurl = \"sftp://10.0.0.5/in/{site}/\"\nuser = \"counter\"\n"
      "password_env = \"TLY_TEST_SHOWN_PASSWORD\"\n"
      "[faults]\nlate_delivery = 0.25\nstale_resend = 0.1\n"
      "[[site]]\nname = \"north\"\nshop_code = \"N1\"\n"
      "[[site]]\nname = \"south\"\nshop_code = \"S1\"\n"
      "[site.delivery]\nurl = \"https://ingest.example.com/up/{shop_code}\"\nmethod = \"POST\"\n"
      "every_minutes = 60\ninsecure = true\n",
      "s.toml");
  ::unsetenv("TLY_TEST_SHOWN_PASSWORD");
  EXPECT_EQ(DeliverySummary(scenario),
            (std::vector<std::string>{
                "Delivery of 2 sites:",
                "  north: sftp://10.0.0.5/in/north/ every 15 minutes, as NAME.part then renamed, "
                "user counter, password in $TLY_TEST_SHOWN_PASSWORD, retried for 10 minutes",
                "    delivery faults: late_delivery 0.25, stale_resend 0.1",
                "  south: https://ingest.example.com/up/S1 every 60 minutes, POST as a form, user "
                "counter, password in $TLY_TEST_SHOWN_PASSWORD, any certificate or host key "
                "trusted, retried for 10 minutes",
                "    delivery faults: late_delivery 0.25, stale_resend 0.1"}));
  EXPECT_TRUE(
      DeliverySummary(ParseScenario("[[site]]\nname = \"a\"\nshop_code = \"A\"\n", "p.toml"))
          .empty());
}

// A live run's delivery and `deliver` share OUT's log and spool: the second
// to come is refused, saying who delivers, and nothing is written.
TEST(DeliverCommand, ADeliverBesideALiveRunIsRefusedClearly) {
  TempDir scratch;
  TempDir dir;
  const std::string scenario = ScenarioTo(dir, "http://127.0.0.1:9/");
  const Scenario parsed = LoadScenario(scenario);
  {
    const std::unique_ptr<LiveDelivery> live =
        StartSitesDelivery(parsed, dir.path(), 1804536000, nullptr);
    const testing::CommandOutcome outcome =
        Command({"deliver", "--scenario", scenario, "--out", dir.path()}, scratch);
    EXPECT_EQ(outcome.exit_code, 2);
    EXPECT_NE(outcome.err.find("tly-generator live delivery"), std::string::npos) << outcome.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("deliveries.jsonl")));
  }
  const DirectoryLock deliver(dir.path(), "tly-generator deliver");
  EXPECT_THROW(StartSitesDelivery(parsed, dir.path(), 1804536000, nullptr), DirectoryBusy);
}

}  // namespace
}  // namespace tly
