#ifndef TLY_PLOT_PLOT_DATA_H_
#define TLY_PLOT_PLOT_DATA_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The traffic of day files as the chart shows it: per door and quarter hour
// the entries and exits, and the occupancy through each day. Toolkit-free, so
// that what is drawn can be checked without drawing it.

namespace tly {

inline constexpr int kPlotSlots = 96;  // quarter hours of a day

// A door or passage of the plotted site.
struct PlotDoor {
  int32_t number = 0;  // as in the header's "#D" and "#C" lines
  std::string name;
};

// Counts per quarter hour, one array per door (indexed like PlotData::doors).
using SlotCounts64 = std::array<int64_t, kPlotSlots>;

// One day file's traffic.
struct PlotDay {
  std::string file_name;             // without its directory
  std::string shop_code;             // first field of the first row, "" when there is none
  int year = 0, month = 0, day = 0;  // of the rows, else of the file name; 0: unknown
  std::vector<SlotCounts64> entries;
  std::vector<SlotCounts64> exits;
  int last_slot = -1;  // the last quarter hour with a row, -1 when none
  // Entries minus exits over all doors from the day's start to the end of
  // each quarter hour.
  SlotCounts64 occupancy{};
};

// The days of a chart in the order given and the doors they count.
struct PlotData {
  std::vector<PlotDoor> doors;
  std::vector<PlotDay> days;
  std::string shop_name;  // of the first header that names one
};

// Adds the day file `bytes` (found at `path`) as the next day of `data`. Its
// header's active "#C" channels tell which count field is an entry or an exit
// of which door (count field n is channel n); a door not yet in `data` (by
// its number and its name) is appended with the name of its "#D" line
// ("Door n" without one). When the
// header names no active channel, the generator's own pairing is assumed:
// odd channels enter and even ones leave door (n + 1) / 2. Rows are read as
// the loader reads them (the lenient reading of dayfile/row_reading.h): a
// row without a time it can read is skipped, its counts end at the first
// field that is not an integer. Returns what could not be read (header
// lines, rows, the assumed pairing), empty for a sound file.
std::vector<std::string> AddPlotDay(PlotData& data, std::string_view path, std::string_view bytes);

}  // namespace tly

#endif  // TLY_PLOT_PLOT_DATA_H_
