#include "plot/plot_data.h"

#include <gtest/gtest.h>

#include <string>

namespace tly {
namespace {

// Days with other sites: a door first counted on the second day gets bars
// (zero) on the first too; a header without channels falls back to the
// generator's pairing and says so; a row without a valid time is named and
// skipped; the date comes from the rows, else from the file name.
TEST(PlotData, DoorsAcrossDaysAndFallbacks) {
  PlotData data;
  EXPECT_TRUE(AddPlotDay(data, "/a/261201.tly",
                         "#TRV9\r\n#D1DNorth\r\n#C1YE1\r\n#C2YX1\r\n#S\r\n"
                         "001\t01/12/2026\t08:00\t 4\t 1\r\n")
                  .empty());
  const auto problems = AddPlotDay(data, "/a/261203.tly",
                                   "#TRV9\r\n#D1DNorth\r\n#S\r\n"
                                   "002\tbad date\t09:30\t 1\t 2\t 7\t 3\t x\t 9\r\n"
                                   "002\t03/12/2026\t25:00\t 1\r\n");
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("no active channel"), std::string::npos);
  EXPECT_EQ(problems[1], "row 2 has no valid time hh:nn");

  ASSERT_EQ(data.doors.size(), 2u);
  EXPECT_EQ(data.doors[0].name, "North");
  EXPECT_EQ(data.doors[1].name, "Door 2");
  ASSERT_EQ(data.days.size(), 2u);
  EXPECT_EQ(data.days[0].entries.size(), 2u);
  EXPECT_EQ(data.days[0].entries[0][32], 4);
  EXPECT_EQ(data.days[0].exits[0][32], 1);
  EXPECT_EQ(data.days[0].occupancy[95], 3);
  EXPECT_EQ(data.days[0].shop_code, "001");

  const PlotDay& second = data.days[1];
  EXPECT_EQ(second.file_name, "261203.tly");
  EXPECT_EQ(second.year * 10000 + second.month * 100 + second.day, 20261203);
  EXPECT_EQ(second.last_slot, 38);
  EXPECT_EQ(second.entries[0][38], 1);
  EXPECT_EQ(second.exits[0][38], 2);
  EXPECT_EQ(second.entries[1][38], 7);
  EXPECT_EQ(second.exits[1][38], 3) << "the counts end at the first field that is no integer";
  EXPECT_EQ(second.occupancy[37], 0);
  EXPECT_EQ(second.occupancy[38], 3);
}

// Files of two sites: a door is an earlier file's door only when its number
// and its name match, so each site's doors keep their own names.
TEST(PlotData, DoorsOfTwoSitesKeepTheirNames) {
  PlotData data;
  const std::string rows = "#S\r\n001\t01/12/2026\t08:00\t 4\t 1\r\n";
  for (const std::string door : {"#D1DNorth", "#D1DMall", "#D1DNorth"}) {
    AddPlotDay(data, "/a/261201.tly", "#TRV9\r\n" + door + "\r\n#C1YE1\r\n#C2YX1\r\n" + rows);
  }
  ASSERT_EQ(data.doors.size(), 2u);
  EXPECT_EQ(data.doors[0].name, "North");
  EXPECT_EQ(data.doors[1].name, "Mall");
  EXPECT_EQ(data.days[1].entries[1][32], 4) << "the Mall's counts are the Mall's";
  EXPECT_EQ(data.days[2].entries[0][32], 4) << "North again is the same door";
}

}  // namespace
}  // namespace tly
