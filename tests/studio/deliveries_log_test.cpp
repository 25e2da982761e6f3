#include "studio/deliveries_log.h"

#include <gtest/gtest.h>

#include <QTableWidget>

#include "studio/deliveries_view.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

// A log of two sites: a file that failed and then went through is no longer
// spooled, one that was cut and one that failed are; a line being written
// and a line that is no attempt are counted, not taken.
constexpr char kLog[] =
    R"({"site":"north","file":"north/270104.tly","remote":"ftp://h/in","due":"2027-01-04T10:00Z","made":"2027-01-04T10:00Z","bytes":900,"outcome":"failed","error":"refused","fault":"server_down"})"
    "\n"
    R"({"site":"north","file":"north/270104.tly","remote":"ftp://h/in","due":"2027-01-04T10:00Z","made":"2027-01-04T10:05Z","bytes":900,"outcome":"ok","error":null,"fault":null})"
    "\n\n"
    R"({"site":"south","file":"south/270104.tly","remote":"sftp://h/in","due":"2027-01-04T11:00Z","made":"2027-01-04T11:00Z","bytes":40,"outcome":"cut","error":"reset","fault":"cut"})"
    "\n"
    R"(["not", "an", "attempt"])"
    "\n"
    R"({"site":"north","file":"north/270105.tly","remote":"ftp://h/in","due":"2027-01-05T10:00Z","made":"2027-01-05T10:00Z","bytes":950,"outcome":"failed","error":"timeout","fault":null})"
    "\n"
    R"({"site":"south","file":"south/2701)";

TEST(DeliveriesLog, PerSiteTheLastPushTheFailuresAndWhatIsSpooled) {
  const DeliveryLog log = ParseDeliveryLog(kLog);
  ASSERT_EQ(log.attempts.size(), 4u);
  EXPECT_EQ(log.unreadable_lines, 2);
  EXPECT_EQ(log.attempts[0].fault, "server_down");
  EXPECT_EQ(log.attempts[1].error, "");
  EXPECT_EQ(log.attempts[2].bytes, 40);

  const std::vector<SiteDeliveries> sites = SummarizeDeliveries(log);
  ASSERT_EQ(sites.size(), 2u);
  EXPECT_EQ(sites[0].site, "north");
  EXPECT_EQ(sites[0].attempts, 3);
  EXPECT_EQ(sites[0].failures, 2);
  EXPECT_EQ(sites[0].last_push, "2027-01-04T10:05Z");
  EXPECT_EQ(sites[0].spooled, std::vector<std::string>{"north/270105.tly"});
  EXPECT_EQ(sites[1].site, "south");
  EXPECT_EQ(sites[1].last_push, "");
  EXPECT_EQ(sites[1].spooled, std::vector<std::string>{"south/270104.tly"});

  testing::TempDir dir;
  testing::WriteBytes(dir.File("deliveries.jsonl"), kLog);
  DeliveriesView view;
  view.Reload(QString::fromStdString(dir.path()));
  EXPECT_EQ(view.Sites()->rowCount(), 2);
  EXPECT_EQ(view.Attempts()->rowCount(), 4);
  EXPECT_EQ(view.Sites()->item(1, 5)->text(), "south/270104.tly");
}

}  // namespace
}  // namespace tly
