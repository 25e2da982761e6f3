#ifndef TLY_DAYFILE_HEADER_LAYOUT_H_
#define TLY_DAYFILE_HEADER_LAYOUT_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The counting site as a day file's header describes it: the device type, the
// shop name, the doors ("#D" lines) and the channels ("#C" lines), read back
// so that a reader knows which count column is an entry or an exit of which
// door. The format itself is described in doc/day-file-format.md.

namespace tly {

// One "#D" line: "#D", the door number, one kind character ('D' a door, 'C' a
// passage, ...), then the name exactly as written (possibly empty).
struct HeaderDoor {
  int32_t number = 0;
  char kind = 'D';
  std::string name;
};

// One "#C" line: "#C", the channel number, the state letter ('Y' active, 'I'
// inactive), the kind letter ('A', 'C' or 'E' count entries; 'B', 'D' or 'X'
// count exits), the door number, then optionally one blank and a name.
// Channel n is count field n of a data row (the first count field is 1).
struct HeaderChannel {
  int32_t number = 0;
  bool active = false;
  bool out = false;
  char kind_letter = 'E';
  int32_t door = 0;
  std::string name;
};

// How the header line that names the shop begins.
inline constexpr std::string_view kShopNameTag = "# Shop name: ";

// What a header says about the site; lines it does not use are skipped.
struct HeaderLayout {
  std::string device_type;              // the text of the "#T" line
  std::string shop_name;                // of the "# Shop name: " line, "" when there is none
  std::vector<HeaderDoor> doors;        // in file order
  std::vector<HeaderChannel> channels;  // in file order
  // The values of the last "#R", "#K" and "#F" lines that follow their
  // pattern: sixteen '1' or '2' marks ('2' set), a number after optional
  // blanks (as strtod reads it), a 32-bit decimal integer.
  std::optional<std::array<bool, 16>> marks;
  std::optional<double> k_value;
  std::optional<int32_t> f_value;
  // "#D" and "#C" lines that could not be read, each as "<line>: <why>".
  std::vector<std::string> problems;
};

// Reads the header of a day file's `text`: the '#' lines from the first line
// up to and including the first seal line ("#S"), or up to the first line
// that is not a '#' line. Lines end at CR LF or a lone LF. Door and channel
// numbers are decimal, 1 to 9999; a "#D" or "#C" line that does not follow
// its pattern is left out of `doors`/`channels` and named in `problems`; a
// "#R", "#K" or "#F" line that does not is passed over.
// Never throws (beyond std::bad_alloc).
HeaderLayout ParseHeaderLayout(std::string_view text);

}  // namespace tly

#endif  // TLY_DAYFILE_HEADER_LAYOUT_H_
