// A header read back into a configuration writes the same header again, for
// every device type; a header that describes no layout gives none.

#include "config/header_config.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace tly {
namespace {

std::string HeaderOf(const TTlyConfig& config) {
  std::vector<std::string> lines;
  config.BuildHeaderLines(lines, EncodeDate(2027, 3, 4) + EncodeTime(5, 6, 0, 0));
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

TTlyConfig Configured(const std::string& type) {
  TTlyConfig config;
  config.SetDeviceType(type);
  DoorTable& doors = config.GetDoorTable();
  ChannelTable& channels = config.GetChannelTable();
  doors[1].Name =
      "Entr\xE9"
      "e";
  doors[1].Kind = 'D';
  doors[2].Name = "Quai";
  doors[2].Kind = 'C';
  doors[3].Name = "";
  doors[3].Kind = 'P';
  for (const auto& [number, door, out, kind] :
       std::vector<std::tuple<int, int, bool, int>>{{1, 1, false, 1},
                                                    {2, 1, true, 1},
                                                    {3, 2, false, 2},
                                                    {6, 2, true, 0},
                                                    {7, 3, false, 0},
                                                    {8, 3, true, 0}}) {
    channels[number].Active = true;
    channels[number].DoorIndex = door;
    channels[number].IsOut = out;
    channels[number].Kind = kind;
  }
  channels[3].Name = "south side";
  config.SyncDoorsFromChannels();
  config.BuildTly01Channels();
  config.ShopName = "Rivoli";
  config.Flags = (1u << 12) | (1u << 27);
  config.KValue = 12.5;
  config.FValue = -3;
  return config;
}

TEST(HeaderConfig, ReadBackItWritesTheSameHeader) {
  for (const char* type : {"RV9", "QDX", "TLY08", "TLY01"}) {
    const TTlyConfig config = Configured(type);
    const std::string header = HeaderOf(config);
    const std::optional<TTlyConfig> read = ConfigOfHeader(header + "Magasin \tDate\r\n");
    ASSERT_TRUE(read) << type;
    EXPECT_EQ(HeaderOf(*read), header) << type;
  }
  TTlyConfig plain;
  plain.SetDeviceType("RV9");
  plain.GetChannelTable()[1].Active = true;
  plain.SyncDoorsFromChannels();
  std::string lf;
  for (const char c : HeaderOf(plain)) {
    if (c != '\r') lf += c;
  }
  const std::optional<TTlyConfig> read = ConfigOfHeader(lf);
  ASSERT_TRUE(read);
  EXPECT_EQ(HeaderOf(*read), HeaderOf(plain)) << "LF line ends are read as well";
}

TEST(HeaderConfig, AHeaderThatDescribesNoLayoutGivesNone) {
  const std::string header = HeaderOf(Configured("RV9"));
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = header;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  EXPECT_FALSE(ConfigOfHeader(replaced("#TRV9", "#TXYZ")));
  EXPECT_FALSE(ConfigOfHeader(replaced("#TRV9\r\n", "")));
  EXPECT_FALSE(ConfigOfHeader(replaced("#C1YA1", "#C1QA1"))) << "a channel line unread";
  EXPECT_FALSE(ConfigOfHeader(replaced("#C1YA1", "#C65YA1"))) << "beyond 64 channels";
  EXPECT_FALSE(ConfigOfHeader(replaced("#C1YA1", "#C1YA33"))) << "beyond 32 doors";
  EXPECT_FALSE(ConfigOfHeader("#TRV9\r\n#D1DPorte\r\n#S\r\n")) << "no channel lines";
  EXPECT_FALSE(ConfigOfHeader(""));
}

}  // namespace
}  // namespace tly
