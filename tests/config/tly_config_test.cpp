#include "config/tly_config.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>

namespace tly {
namespace {

TEST(TlyConfig, NewConfigurationDefaults) {
  const TTlyConfig config;
  EXPECT_EQ(config.DeviceType, "TLY01");
  EXPECT_EQ(config.ComPort, "COM1");
  EXPECT_TRUE(config.ShopName.Empty());
  EXPECT_EQ(config.Flags, 0xF007u);
  EXPECT_EQ(config.KValue, 1.0);
  EXPECT_EQ(config.FValue, 0);
  EXPECT_TRUE(config.Seal.empty());
  EXPECT_TRUE(config.DataHash.empty());
  for (int n = 1; n <= kChannelCount; ++n) {
    const ChannelEntry& channel = config.GetChannelTable()[n];
    EXPECT_EQ(channel.Active, n <= 8) << n;
    EXPECT_EQ(channel.IsOut, n > 4) << n;  // inactive ones too
    EXPECT_EQ(channel.DoorIndex, 1) << n;
    EXPECT_EQ(channel.Kind, 0) << n;
  }
  for (int d = 1; d <= kDoorCount; ++d) {
    const DoorEntry& door = config.GetDoorTable()[d];
    EXPECT_EQ(door.Name, "Door") << d;
    EXPECT_EQ(door.Kind, 'D') << d;
    EXPECT_EQ(door.Active, d == 1) << d;
    EXPECT_FALSE(door.HasOut) << d;
  }
}

TEST(TlyConfig, TextFieldsAreCutToTheirCapacity) {
  TTlyConfig config;
  config.ShopName = std::string(40, 's');
  EXPECT_EQ(config.ShopName.Length(), 32u);
  config.GetChannelTable()[64].Name = std::string(70, 'c');
  EXPECT_EQ(config.GetChannelTable()[64].Name, std::string(64, 'c'));
  config.GetDoorTable()[32].Name.Set("exactly thirty-two characters!!!");
  EXPECT_EQ(config.GetDoorTable()[32].Name.Length(), 32u);
}

TEST(TlyConfig, TablesRejectNumbersOutsideTheirRange) {
  TTlyConfig config;
  EXPECT_THROW(config.GetDoorTable()[0], std::out_of_range);
  EXPECT_THROW(config.GetDoorTable()[33], std::out_of_range);
  EXPECT_THROW(config.GetChannelTable()[65], std::out_of_range);
  EXPECT_NO_THROW(config.GetChannelTable()[64]);
}

TEST(TlyConfig, Rv9KeepsFourChannelsAndClearsItsFlagBits) {
  TTlyConfig config;
  config.Flags = 0xFFFFFFFFu;
  config.GetChannelTable()[6].Kind = 2;
  config.GetChannelTable()[6].Name = "kept";
  config.SetDeviceType("RV9");
  EXPECT_EQ(config.DeviceType, "RV9");
  EXPECT_EQ(config.Flags, 0xFFF0FFFFu);
  for (int n = 1; n <= kChannelCount; ++n) {
    const ChannelEntry& channel = config.GetChannelTable()[n];
    EXPECT_EQ(channel.Active, n <= 4) << n;
    EXPECT_FALSE(channel.IsOut) << n;
    EXPECT_EQ(channel.DoorIndex, 1) << n;
  }
  EXPECT_EQ(config.GetChannelTable()[6].Kind, 2);
  EXPECT_EQ(config.GetChannelTable()[6].Name, "kept");
  EXPECT_TRUE(config.GetDoorTable()[1].Active);
  EXPECT_FALSE(config.GetDoorTable()[1].HasOut);
  for (int d = 2; d <= kDoorCount; ++d) EXPECT_FALSE(config.GetDoorTable()[d].Active) << d;
}

TEST(TlyConfig, UnknownDeviceTypesBecomeTly01WithItsChannelLayout) {
  for (const char* text : {"rv9", "", "XYZ", "RV9 ", "TLY011", "QDX\t", "TLY08andmore"}) {
    TTlyConfig config;
    // "QDX" keeps all channels active and marks door 1 as counted both ways.
    config.SetDeviceType("QDX");
    config.SetDeviceType(text);
    EXPECT_EQ(config.DeviceType, "TLY01") << '"' << text << '"';
    const ChannelTable& channels = config.GetChannelTable();
    for (int n = 1; n <= kChannelCount; ++n) {
      EXPECT_EQ(channels[n].Active, n == 1 || n == 5) << text << n;
    }
    EXPECT_TRUE(channels[5].IsOut) << text;
  }
}

TEST(TlyConfig, Tly01ChannelsFollowTheDoors) {
  TTlyConfig config;
  DoorTable& doors = config.GetDoorTable();
  doors[1].Active = true;
  doors[3].Active = true;
  doors[3].HasOut = true;
  doors[2].HasOut = true;  // an inactive door counts nothing, even outgoing
  config.GetChannelTable()[20].Active = true;
  config.SetDeviceType("TLY01");

  const ChannelTable& channels = config.GetChannelTable();
  const bool active[8] = {true, false, true, false, false, false, true, false};
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(channels[n].Active, active[n - 1]) << n;
    EXPECT_EQ(channels[n].IsOut, n > 4) << n;
    EXPECT_EQ(channels[n].DoorIndex, (n - 1) % 4 + 1) << n;
  }
  for (int n = 9; n <= kChannelCount; ++n) {
    EXPECT_EQ(channels[n], (ChannelEntry{false, false, 1, 0, {}})) << n;
  }
}

TEST(TlyConfig, BuildTly01ChannelsIgnoresOtherDeviceTypes) {
  TTlyConfig config;
  config.SetDeviceType("QDX");
  const ChannelTable before = config.GetChannelTable();
  config.BuildTly01Channels();
  EXPECT_EQ(config.GetChannelTable(), before);
}

TEST(TlyConfig, NormalizeDoorFillsOnlyBlankNamesAndUnknownKinds) {
  DoorEntry blanks;
  blanks.Name = "   ";
  blanks.Kind = 'X';
  TTlyConfig::NormalizeDoor(blanks);
  EXPECT_EQ(blanks.Name, "Door");
  EXPECT_EQ(blanks.Kind, 'D');

  DoorEntry controls;
  controls.Name = "\t\r\n";
  TTlyConfig::NormalizeDoor(controls);
  EXPECT_EQ(controls.Name, "Door");

  DoorEntry padded;
  padded.Name = " a ";
  padded.Kind = 'P';
  TTlyConfig::NormalizeDoor(padded);
  EXPECT_EQ(padded.Name, " a ");
  EXPECT_EQ(padded.Kind, 'P');

  DoorEntry high_byte;  // a byte above 127 is a character, not a control
  high_byte.Name = "\xE9";
  high_byte.Kind = 'C';
  TTlyConfig::NormalizeDoor(high_byte);
  EXPECT_EQ(high_byte.Name, "\xE9");
  EXPECT_EQ(high_byte.Kind, 'C');
}

TEST(TlyConfig, SyncIgnoresChannelsOnDoorsOutsideTheTable) {
  TTlyConfig config;
  config.SetDeviceType("QDX");
  ChannelTable& channels = config.GetChannelTable();
  for (ChannelEntry& channel : channels) channel.Active = false;
  const int bad_doors[] = {0, -1, 33, INT_MAX, INT_MIN};
  int n = 1;
  for (int door : bad_doors) {
    channels[n].Active = true;
    channels[n].IsOut = true;
    channels[n].DoorIndex = door;
    ++n;
  }
  channels[n].Active = true;
  channels[n].IsOut = true;
  channels[n].DoorIndex = 32;
  config.SyncDoorsFromChannels();
  for (int d = 1; d <= kDoorCount; ++d) {
    EXPECT_EQ(config.GetDoorTable()[d].Active, d == 32) << d;
    EXPECT_EQ(config.GetDoorTable()[d].HasOut, d == 32) << d;
  }
}

TEST(TlyConfig, AssignCopiesEverythingButTheDigests) {
  TTlyConfig source;
  source.SetDeviceType("QDX");
  source.ComPort = "/dev/ttyS3";
  source.ShopName = "Shop";
  source.Flags = 5;
  source.KValue = 2.5;
  source.FValue = -7;
  source.Seal = "SOURCESEAL";
  source.DataHash = "SOURCEHASH";
  source.GetDoorTable()[9].Name = "Nine";
  source.GetChannelTable()[40].Kind = 1;

  TTlyConfig target;
  target.Seal = "TARGETSEAL";
  target.DataHash = "TARGETHASH";
  target.Assign(&source);
  EXPECT_EQ(target.DeviceType, "QDX");
  EXPECT_EQ(target.ComPort, "/dev/ttyS3");
  EXPECT_EQ(target.ShopName, "Shop");
  EXPECT_EQ(target.Flags, 5u);
  EXPECT_EQ(target.KValue, 2.5);
  EXPECT_EQ(target.FValue, -7);
  EXPECT_EQ(target.GetDoorTable(), source.GetDoorTable());
  EXPECT_EQ(target.GetChannelTable(), source.GetChannelTable());
  EXPECT_EQ(target.Seal, "TARGETSEAL");
  EXPECT_EQ(target.DataHash, "TARGETHASH");
}

TEST(TlyConfig, AssignFromAnythingElseChangesNothing) {
  class Other : public TPersistent {};
  const Other other;
  TTlyConfig target;
  target.ShopName = "unchanged";
  const TTlyConfig before = target;
  target.Assign(&other);
  target.Assign(nullptr);
  EXPECT_EQ(target.ShopName, "unchanged");
  EXPECT_EQ(target.GetDoorTable(), before.GetDoorTable());
  EXPECT_EQ(target.GetChannelTable(), before.GetChannelTable());
  EXPECT_EQ(target.DeviceType, before.DeviceType);
}

}  // namespace
}  // namespace tly
