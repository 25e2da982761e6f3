#ifndef TLY_CONFIG_TLY_CONFIG_H_
#define TLY_CONFIG_TLY_CONFIG_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_tables.h"
#include "config/fixed_text.h"
#include "config/persistent.h"
#include "support/date_time.h"

namespace tly {

// The counting site a day file describes: device type, port, shop name, 32
// access points, 64 counting channels, the header's numeric values and the seal
// of the data lines. It builds the day file's header from these values and
// rewrites a day file with a fresh, sealed header.
//
// Not thread-safe; one owner uses it from one thread.
class TTlyConfig : public TPersistent {
 public:
  // A new configuration: device type "TLY01", KValue 1.0, FValue 0, no shop
  // name, and the tables of SetDefaults.
  TTlyConfig();
  ~TTlyConfig() override = default;
  TTlyConfig(const TTlyConfig&) = default;
  TTlyConfig& operator=(const TTlyConfig&) = default;

  // When `source` is a TTlyConfig, copies device type, port, shop name, flags,
  // KValue, FValue and both tables; Seal and DataHash stay as they are. Any
  // other source, or none, changes nothing.
  void Assign(const TPersistent* source) override;

  // Resets port, flags, channels, doors, Seal and DataHash for the current
  // device type. Device type, shop name, KValue and FValue stay.
  void SetDefaults();

  // Gives a door whose name is blank (only blanks and control characters) the
  // name "Door", and a kind other than 'D', 'C' or 'P' the kind 'D'.
  static void NormalizeDoor(DoorEntry& door);

  // Stores the first 6 characters of `text` as device type; anything but
  // exactly "TLY01", "RV9", "QDX" or "TLY08" becomes "TLY01". Then adapts the
  // flags and tables to the type: "RV9" clears flag bits 16..19 and keeps only
  // channels 1..4, "TLY08" keeps channels 1..8, "QDX" keeps all; these three
  // resynchronise the doors. "TLY01" rebuilds its channels from the doors.
  void SetDeviceType(std::string_view text);

  // Recomputes the doors' Active and HasOut marks from the active channels.
  // A channel whose DoorIndex is outside 1..32 is ignored.
  void SyncDoorsFromChannels();

  // For device type "TLY01" only: channels 1..4 become the incoming and 5..8
  // the outgoing channels of doors 1..4, following the doors' marks; all other
  // channels are cleared. Does nothing for any other type.
  void BuildTly01Channels();

  // Direct, writable access to the tables, addressed 1..32 and 1..64.
  DoorTable& GetDoorTable() { return doors_; }
  const DoorTable& GetDoorTable() const { return doors_; }
  ChannelTable& GetChannelTable() { return channels_; }
  const ChannelTable& GetChannelTable() const { return channels_; }

  // Replaces `lines` with the header lines of the day file, without line ends.
  // The "last updated" line carries `updated_at` with the date and time
  // separators of the user's LC_TIME locale. Never fails on any content.
  void BuildHeaderLines(std::vector<std::string>& lines, TDateTime updated_at) const;
  // BuildHeaderLines with the time of CurrentClock().
  void BuildHeaderLines(std::vector<std::string>& lines) const;

  // The header lines joined, each followed by CR LF.
  std::string GetHeaderText() const;

  // Sets Seal to the text after the first two characters of a seal line
  // ("#S..."); a line shorter than 3 characters gives an empty Seal.
  void ParseSealLine(std::string_view line);

  // Replaces `lines` with the data lines of the day file `file_name`, in file
  // order, and Seal with the text of its last seal line (empty when there is
  // none). Lines end at CR LF or a lone LF. A missing file gives no lines and
  // an empty Seal. Throws std::system_error when the file cannot be read.
  void ReadDataLines(const std::string& file_name, std::vector<std::string>& lines);

  // The complete day file for the data rows `rows` (each ended by CR LF):
  // sets DataHash and Seal to the SHA-1 (upper-case hex) of `rows`, or empty
  // when there are none, then returns the header text (its "last updated"
  // line showing `updated_at`), the two title lines and the rows. Touches no
  // file.
  std::string BuildSealedFileText(std::string_view rows, TDateTime updated_at);
  // BuildSealedFileText with the time of CurrentClock().
  std::string BuildSealedFileText(std::string_view rows);

  // Rewrites the day file `file_name` as fresh header, the two title lines and
  // its data lines, sealed with the SHA-1 of those lines (Seal and DataHash are
  // set first), through ReplaceDayFile (config/day_file_replace.h). When the
  // replacement is refused twice it is logged to the debug log, the temporary
  // file is kept and the call returns normally. Throws std::system_error when
  // the day file cannot be read or the temporary file cannot be created or
  // written (a partial temporary file is removed).
  void SetHeaderToFile(const std::string& file_name);

  FixedText<6> DeviceType;
  FixedText<32> ComPort;
  FixedText<32> ShopName;
  std::uint32_t Flags = 0;  // bits 12..27 are the sixteen marks of the "#R" line
  double KValue = 1.0;
  std::int32_t FValue = 0;
  std::string Seal;      // text of the "#S" line
  std::string DataHash;  // digest of the data lines from the last rewrite

 private:
  DoorTable doors_;
  ChannelTable channels_;
};

}  // namespace tly

#endif  // TLY_CONFIG_TLY_CONFIG_H_
