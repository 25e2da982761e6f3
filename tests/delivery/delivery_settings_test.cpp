// Delivery tables of a scenario file: defaults overridden key by key, the
// url expanded and shown without its user info, and every bad value refused
// with the file, the line and the key.

#include <gtest/gtest.h>

#include <string>

#include "delivery/delivery_url.h"
#include "scenario/scenario_file.h"

namespace tly {
namespace {

const std::string kSite = "[[site]]\nname = \"a\"\nshop_code = \"S1\"\n";

std::string ProblemOf(const std::string& text) {
  try {
    ParseScenario(text, "s.toml");
  } catch (const ScenarioError& error) {
    return error.what();
  }
  return "accepted";
}

TEST(DeliverySettings, SiteTablesOverrideTheScenarioKeyByKey) {
  const Scenario scenario = ParseScenario(
      "[delivery]\nurl = \"ftp://127.0.0.1:2121/{site}/\"\nevery_minutes = 5\nuser = \"dev\"\n"
      "password_env = \"TLY_PW\"\n" +
          kSite +
          "[[site]]\nname = \"b\"\nshop_code = \"S2\"\nprofile = \"flat\"\n"
          "[site.delivery]\nurl = \"https://h/in/{shop_code}.tly\"\nmethod = \"POST\"\n"
          "temp_name = false\ninsecure = true\nretry_minutes = 0\n"
          "[[site]]\nname = \"c\"\nshop_code = \"S3\"\n",
      "s.toml");
  const DeliverySettings& a = *scenario.sites[0].delivery;
  EXPECT_EQ(a.protocol, DeliveryProtocol::kFtp);
  EXPECT_EQ(a.every_minutes, 5);
  EXPECT_EQ(a.password_env, "TLY_PW");
  EXPECT_TRUE(a.temp_name);
  EXPECT_EQ(a.retry_minutes, 10);
  const DeliverySettings& b = *scenario.sites[1].delivery;
  EXPECT_EQ(b.protocol, DeliveryProtocol::kHttps);
  EXPECT_EQ(b.method, HttpMethod::kPost);
  EXPECT_EQ(b.every_minutes, 5) << "the scenario's, not given by the site";
  EXPECT_EQ(b.user, "dev");
  EXPECT_FALSE(b.temp_name);
  EXPECT_TRUE(b.insecure);
  EXPECT_EQ(scenario.sites[2].delivery->url, "ftp://127.0.0.1:2121/{site}/");
  EXPECT_FALSE(ParseScenario(kSite, "s.toml").sites[0].delivery) << "no table, no delivery";

  // Delivery faults stand in [faults] beside the others.
  const Scenario faulty = ParseScenario(
      "[faults]\nlate_delivery = 0.5\nspike = 0.1\n" + kSite + "[site.faults]\nin_place = 1\n",
      "s.toml");
  EXPECT_EQ(faulty.sites[0].delivery_faults[DeliveryFault::kLateDelivery], 0.5);
  EXPECT_EQ(faulty.sites[0].delivery_faults[DeliveryFault::kInPlace], 1);
  EXPECT_EQ(faulty.sites[0].faults[FaultKind::kSpike], 0.1);
}

TEST(DeliverySettings, BadTablesAreRefusedWithLineAndKeyAndNoSecret) {
  const std::string url = "url = \"ftp://h/\"\n";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"[delivery]\nurl = \"gopher://h/\"\n" + kSite, "s.toml:2: delivery.url: \"gopher://h/\" "},
      {"[delivery]\nurl = \"ftp://bob:hunter2@h/\"\n" + kSite,
       "s.toml:2: delivery.url: \"ftp://***@h/\" holds a user"},
      {"[delivery]\nurl = \"ftp:///x/\"\n" + kSite, "delivery.url: \"ftp:///x/\" names no host"},
      {"[delivery]\nurl = \"ftp://h/{name}/\"\n" + kSite, "holds a '{' that does not start"},
      {"[delivery]\nurl = \"ftp://h/a b/\"\n" + kSite, "holds a blank"},
      {"[delivery]\n" + url + "every_minutes = 0\n" + kSite,
       "s.toml:3: delivery.every_minutes: must be a whole number from 1 to 1440"},
      {"[delivery]\n" + url + "every_minutes = 1441\n" + kSite, "from 1 to 1440"},
      {"[delivery]\nurl = \"http://h/\"\nmethod = \"GET\"\n" + kSite,
       "s.toml:3: delivery.method: must be \"PUT\" or \"POST\""},
      {"[delivery]\n" + url + "method = \"PUT\"\n" + kSite,
       "delivery.method: applies to http:// and https:// urls, not to ftp://"},
      {"[delivery]\n" + url + "key_file = \"k\"\n" + kSite,
       "delivery.key_file: applies to sftp://"},
      {"[delivery]\n" + url + "password_env = \"hunter 2\"\n" + kSite,
       "delivery.password_env: must be the name of an environment variable"},
      {"[delivery]\n" + url + "temp_name = \"yes\"\n" + kSite,
       "delivery.temp_name: must be true or false"},
      {"[delivery]\n" + url + "colour = 1\n" + kSite, "s.toml:3: delivery.colour: is not a key"},
      {"[delivery]\nevery_minutes = 5\n" + kSite, "s.toml:3: site[1].delivery.url: is missing"},
      {kSite + "[site.delivery]\nuser = \"u\"\n", "s.toml:4: site[1].delivery.url: is missing"},
      {kSite + "[site.delivery]\nurl = \"sftp://h/\"\nca_file = \"c\"\n",
       "s.toml:6: site[1].delivery.ca_file: applies to ftps:// and https://"},
      {"[defaults]\ndelivery = 1\n" + kSite, "defaults.delivery: stands at the top as [delivery]"},
  };
  for (const auto& c : cases) {
    const std::string problem = ProblemOf(c.text);
    EXPECT_NE(problem.find(c.message), std::string::npos) << c.text << "\n gave: " << problem;
    EXPECT_EQ(problem.find("hunter2"), std::string::npos) << problem;
  }
}

TEST(DeliveryUrl, ExpansionTargetsAndRedaction) {
  const std::string url = ExpandUrl("sftp://h:22/up/{site}/{shop_code}/", "north", "007");
  EXPECT_EQ(url, "sftp://h:22/up/north/007/");
  const RemoteTarget folder = TargetOf(url, "261207.tly", true);
  EXPECT_EQ(folder.url, "sftp://h:22/up/north/007/261207.tly");
  EXPECT_EQ(folder.upload_url, folder.url + ".part");
  EXPECT_EQ(folder.name, "261207.tly");
  EXPECT_EQ(TargetOf(url, "261207.tly", false, "261207(1).tly").upload_url,
            "sftp://h:22/up/north/007/261207(1).tly");
  const RemoteTarget named = TargetOf("http://h/in/latest.tly", "261207.tly", false);
  EXPECT_EQ(named.name, "latest.tly");
  EXPECT_EQ(named.upload_url, "http://h/in/latest.tly");
  EXPECT_EQ(RedactUrl("ftp://u:p@w@h/x@y"), "ftp://***@h/x@y");
  EXPECT_EQ(RedactUrl("ftp://h/x@y"), "ftp://h/x@y");
}

}  // namespace
}  // namespace tly
