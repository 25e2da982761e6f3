#include "flat/default_layout.h"

#include <gtest/gtest.h>

#include <string>

#include "config/date_time_separators.h"
#include "support/clock.h"
#include "support/date_time.h"
#include "testutil/sha1.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

// A configuration that differs from the layout in every field the layout sets.
TTlyConfig ScrambledConfig() {
  TTlyConfig config;
  config.SetDeviceType("QDX");
  config.Flags = 0xFFFFFFFFu;
  config.ComPort = "/dev/ttyUSB0";
  config.ShopName = "Shop";
  config.KValue = 2.5;
  config.FValue = 9;
  config.Seal = "SEAL";
  config.DataHash = "HASH";
  for (DoorEntry& door : config.GetDoorTable()) {
    door = DoorEntry{true, FixedText<32>("old name"), 'P', true, 7};
  }
  int i = 0;
  for (ChannelEntry& channel : config.GetChannelTable()) {
    channel = ChannelEntry{true, i % 2 == 0, 32 - i % 32, i % 3, FixedText<64>("old channel")};
    ++i;
  }
  return config;
}

TEST(DefaultLayout, OverwritesBothTablesWhateverWasThere) {
  TTlyConfig config = ScrambledConfig();
  const TTlyConfig before = config;
  ApplyDefaultLayout(config);

  EXPECT_EQ(config.DeviceType, "RV9");
  EXPECT_EQ(config.Flags, 0u);
  const char* names[] = {"Porte 1", "Porte 2", "Porte 3", "Porte 4", "Passage 1"};
  for (int d = 1; d <= kDoorCount; ++d) {
    const DoorEntry& door = config.GetDoorTable()[d];
    EXPECT_EQ(door.Active, d <= 5) << d;
    EXPECT_EQ(door.Name, d <= 5 ? names[d - 1] : "") << d;
    EXPECT_EQ(door.Kind, d == 5 ? 'C' : 'D') << d;
    EXPECT_FALSE(door.HasOut) << d;
    EXPECT_EQ(door.Reserved, 0) << d;
  }
  for (int n = 1; n <= kChannelCount; ++n) {
    const ChannelEntry& channel = config.GetChannelTable()[n];
    EXPECT_EQ(channel.Active, n <= 10) << n;
    EXPECT_EQ(channel.IsOut, n % 2 == 0) << n;
    EXPECT_EQ(channel.DoorIndex, (n + 1) / 2) << n;
    EXPECT_TRUE(channel.Name.Empty()) << n;
    EXPECT_EQ(channel.Kind, before.GetChannelTable()[n].Kind) << n;
  }
  EXPECT_EQ(config.ComPort, "/dev/ttyUSB0");
  EXPECT_EQ(config.ShopName, "Shop");
  EXPECT_EQ(config.KValue, 2.5);
  EXPECT_EQ(config.FValue, 9);
  EXPECT_EQ(config.Seal, "SEAL");
  EXPECT_EQ(config.DataHash, "HASH");

  // A second application finds nothing left to change.
  TTlyConfig again = config;
  ApplyDefaultLayout(again);
  EXPECT_EQ(again.GetDoorTable(), config.GetDoorTable());
  EXPECT_EQ(again.GetChannelTable(), config.GetChannelTable());
  EXPECT_EQ(again.Flags, config.Flags);
  EXPECT_EQ(again.DeviceType, config.DeviceType);
}

// The whole day file the generator writes: default layout, rows, seal.
TEST(DefaultLayout, RewrittenDayFileCarriesTheLayoutHeaderAndSeal) {
  testing::TempDir dir;
  ManualClock clock(EncodeDate(2026, 12, 8) + EncodeTime(17, 4, 30, 0));
  ScopedClock scoped(clock);
  TTlyConfig config;
  ApplyDefaultLayout(config);

  const std::string day = dir.File("261208.tly");
  const std::string rows =
      "0001\t08/12/2026\t00:00\t1\t0\t0\t0\t0\t0\t0\t0\t0\t2\r\n"
      "0001\t08/12/2026\t17:00\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\r\n";
  testing::WriteBytes(day, rows);
  config.SetHeaderToFile(day);

  const std::string seal = testing::Sha1UpperHex(rows);

  const DateTimeSeparators s = LocaleDateTimeSeparators();
  const std::string expected =
      std::string("#TRV9\r\n") + "#M last updated at 08" + s.Date + "12" + s.Date + "2026 17" +
      s.Time + "04\r\n" +
      "#D1DPorte 1\r\n#D2DPorte 2\r\n#D3DPorte 3\r\n#D4DPorte 4\r\n#D5CPassage 1\r\n"
      "#C1YE1\r\n#C2YX1\r\n#C3YE2\r\n#C4YX2\r\n#C5YE3\r\n#C6YX3\r\n#C7YE4\r\n#C8YX4\r\n"
      "#C9YE5\r\n#C10YX5\r\n"
      "#R1111111111111111\r\n#K1.000\r\n#F0\r\n#S" +
      seal +
      "\r\n"
      "Magasin \tDate \tHeure \t CANALS\t\t\t\r\n"
      "\t\t\tCNL1\tCNL2\tCNL3\tCNL4\r\n" +
      rows;
  EXPECT_EQ(testing::ReadBytes(day), expected);
}

}  // namespace
}  // namespace tly
