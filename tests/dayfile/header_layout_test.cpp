#include "dayfile/header_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace tly {
namespace {

// The header the generator writes for its own site, as it stands in a file.
constexpr std::string_view kDefaultHeader =
    "#TRV9\r\n#M last updated at 07/12/2026 23:59\r\n"
    "#D1DPorte 1\r\n#D2DPorte 2\r\n#D3DPorte 3\r\n#D4DPorte 4\r\n#D5CPassage 1\r\n"
    "#C1YE1\r\n#C2YX1\r\n#C3YE2\r\n#C4YX2\r\n#C5YE3\r\n#C6YX3\r\n#C7YE4\r\n#C8YX4\r\n"
    "#C9YE5\r\n#C10YX5\r\n#R1111111111111111\r\n#K1.000\r\n#F0\r\n#S0123\r\n"
    "Magasin \tDate \tHeure \t CANALS\t\t\t\r\n";

TEST(HeaderLayout, ReadsTheGeneratorsDoorsAndChannels) {
  const HeaderLayout layout = ParseHeaderLayout(kDefaultHeader);
  EXPECT_EQ(layout.device_type, "RV9");
  EXPECT_EQ(layout.shop_name, "");
  EXPECT_TRUE(layout.problems.empty());
  ASSERT_EQ(layout.doors.size(), 5u);
  for (int d = 1; d <= 4; ++d) {
    EXPECT_EQ(layout.doors[d - 1].number, d);
    EXPECT_EQ(layout.doors[d - 1].kind, 'D');
    EXPECT_EQ(layout.doors[d - 1].name, "Porte " + std::to_string(d));
  }
  EXPECT_EQ(layout.doors[4].kind, 'C');
  EXPECT_EQ(layout.doors[4].name, "Passage 1");
  ASSERT_EQ(layout.channels.size(), 10u);
  for (int n = 1; n <= 10; ++n) {
    const HeaderChannel& channel = layout.channels[n - 1];
    EXPECT_EQ(channel.number, n);
    EXPECT_TRUE(channel.active);
    EXPECT_EQ(channel.out, n % 2 == 0) << n;
    EXPECT_EQ(channel.door, (n + 1) / 2) << n;
    EXPECT_EQ(channel.name, "");
  }
}

// Names are taken as written (blanks, digits, '#'); the block ends at the seal
// or at the first line that is not a '#' line, whatever follows; a bad door
// or channel line is named and the rest is still read.
TEST(HeaderLayout, NamesBoundariesAndBrokenLines) {
  const HeaderLayout layout = ParseHeaderLayout(
      "#TQDX\n# Shop name: Halle 3 #2\n#D12P\n#D7D 7 Nord\n"
      "#C64IB32 North gate\n#C9YD3\n#C10YA3x\n#C0YE1\n#C11QE1\n#C12YZ1\n#C13YE\n#Dx\n#D3\n"
      "#S\n#D8DAfter the seal\n");
  EXPECT_EQ(layout.device_type, "QDX");
  EXPECT_EQ(layout.shop_name, "Halle 3 #2");
  ASSERT_EQ(layout.doors.size(), 2u);
  EXPECT_EQ(layout.doors[0].number, 12);
  EXPECT_EQ(layout.doors[0].kind, 'P');
  EXPECT_EQ(layout.doors[0].name, "");
  EXPECT_EQ(layout.doors[1].name, " 7 Nord");
  ASSERT_EQ(layout.channels.size(), 2u);
  EXPECT_EQ(layout.channels[0].number, 64);
  EXPECT_FALSE(layout.channels[0].active);
  EXPECT_TRUE(layout.channels[0].out);
  EXPECT_EQ(layout.channels[0].door, 32);
  EXPECT_EQ(layout.channels[0].name, "North gate");
  EXPECT_TRUE(layout.channels[1].out) << "D is an exit letter";
  ASSERT_EQ(layout.problems.size(), 7u);
  EXPECT_EQ(layout.problems[0],
            "#C10YA3x: the door number is followed by neither the end nor a blank");
  EXPECT_EQ(layout.problems[2], "#C11QE1: the state letter is not Y or I");
  EXPECT_EQ(layout.problems[6], "#D3: no door kind after the number");

  EXPECT_TRUE(ParseHeaderLayout("#D1DA\r\nrow\r\n#D2DB\r\n").doors.size() == 1);
  EXPECT_TRUE(ParseHeaderLayout("").doors.empty());
  EXPECT_EQ(ParseHeaderLayout("#D99999DBig\n").problems.size(), 1u);
}

}  // namespace
}  // namespace tly
