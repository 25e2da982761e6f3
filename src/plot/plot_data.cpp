#include "plot/plot_data.h"

#include <algorithm>

#include "dayfile/day_file_name.h"
#include "dayfile/day_file_reader.h"
#include "dayfile/header_layout.h"
#include "dayfile/row_reading.h"
#include "dayfile/row_text.h"
#include "support/date_time.h"

namespace tly {

namespace {

// Where a count field goes: a door index into PlotData::doors and the
// direction; door -1 for a field nobody counts.
struct ChannelTarget {
  int door = -1;
  bool out = false;
};

// The door `number` of the header `layout` in the chart, added when new. A
// door is the same door of an earlier file only when its number and its name
// both match: files of two sites keep each site's names for its doors.
size_t DoorIndex(PlotData& data, PlotDay& day, const HeaderLayout& layout, int32_t number) {
  PlotDoor door{number, "Door " + std::to_string(number)};
  for (const HeaderDoor& line : layout.doors) {
    if (line.number == number) door.name = line.name;
  }
  const auto known = std::find_if(data.doors.begin(), data.doors.end(), [&](const PlotDoor& d) {
    return d.number == door.number && d.name == door.name;
  });
  const size_t index = static_cast<size_t>(known - data.doors.begin());
  if (known == data.doors.end()) data.doors.push_back(std::move(door));
  if (day.entries.size() < data.doors.size()) {
    day.entries.resize(data.doors.size(), SlotCounts64{});
    day.exits.resize(data.doors.size(), SlotCounts64{});
  }
  return index;
}

// Where each count field of the header `layout` goes (indexed by the field's
// number from 1), its doors added to `data` in the order of the header's
// door lines, so that the legend reads like the header. Empty when the
// header names no active channel.
std::vector<ChannelTarget> TargetsOf(PlotData& data, PlotDay& day, const HeaderLayout& layout) {
  for (const HeaderDoor& door : layout.doors) {
    for (const HeaderChannel& channel : layout.channels) {
      if (channel.active && channel.number <= kMaxRowCounts && channel.door == door.number) {
        DoorIndex(data, day, layout, door.number);
        break;
      }
    }
  }
  std::vector<ChannelTarget> targets(kMaxRowCounts + 1);
  bool any_channel = false;
  for (const HeaderChannel& channel : layout.channels) {
    if (!channel.active || channel.number > kMaxRowCounts) continue;
    targets[channel.number] = {static_cast<int>(DoorIndex(data, day, layout, channel.door)),
                               channel.out};
    any_channel = true;
  }
  if (!any_channel) targets.clear();
  return targets;
}

// Adds the rows of `bytes` to `day`, read as the loader reads them; a row
// without a time is named in `problems`. No `targets`: the generator's own
// pairing of channels to doors.
void AddRows(PlotData& data, PlotDay& day, const HeaderLayout& layout, std::string_view bytes,
             const std::vector<ChannelTarget>& targets, std::vector<std::string>& problems) {
  bool dated = false;
  int row_number = 0;
  ScanDayFileText(bytes, [&](std::string_view row) {
    ++row_number;
    FieldReader fields(row);
    const std::string_view shop = fields.Next();
    const std::string_view date = fields.Next();
    const int slot = LenientQuarterOf(fields.Next());
    if (slot < 0) {
      problems.push_back("row " + std::to_string(row_number) + " has no valid time hh:nn");
      return;
    }
    if (day.shop_code.empty()) day.shop_code = shop;
    CivilDate civil;
    if (!dated && ReadLenientDate(date, civil)) {
      dated = true;
      day.year = civil.Year;
      day.month = civil.Month;
      day.day = civil.Day;
    }
    day.last_slot = std::max(day.last_slot, slot);
    for (int n = 1; n <= kMaxRowCounts; ++n) {
      int32_t count = 0;
      if (!ParseFieldInteger(fields.Next(), count)) break;
      ChannelTarget target = targets.empty() ? ChannelTarget{} : targets[n];
      if (targets.empty()) {
        target = {static_cast<int>(DoorIndex(data, day, layout, (n + 1) / 2)), n % 2 == 0};
      }
      if (target.door < 0) continue;
      SlotCounts64& counts = target.out ? day.exits[target.door] : day.entries[target.door];
      counts[slot] += count;
    }
  });
}

// The day of `path`'s name for a day whose rows name none; the doors of
// every day so far; the occupancy through `day`.
void FinishDay(PlotData& data, PlotDay& day, std::string_view path) {
  if (day.year == 0) {
    const TDateTime from_name = DateFromFileName(path);
    if (from_name != kNoDate) {
      const CivilDate date = DecodeDate(from_name);
      day.year = date.Year;
      day.month = date.Month;
      day.day = date.Day;
    }
  }
  // A door first counted today has no bars on the days before.
  for (PlotDay& earlier : data.days) {
    earlier.entries.resize(data.doors.size(), SlotCounts64{});
    earlier.exits.resize(data.doors.size(), SlotCounts64{});
  }
  int64_t occupancy = 0;
  for (int slot = 0; slot < kPlotSlots; ++slot) {
    for (size_t door = 0; door < day.entries.size(); ++door) {
      occupancy += day.entries[door][slot] - day.exits[door][slot];
    }
    day.occupancy[slot] = occupancy;
  }
}

}  // namespace

std::vector<std::string> AddPlotDay(PlotData& data, std::string_view path, std::string_view bytes) {
  const HeaderLayout layout = ParseHeaderLayout(bytes);
  std::vector<std::string> problems = layout.problems;
  if (data.shop_name.empty()) data.shop_name = layout.shop_name;

  PlotDay& day = data.days.emplace_back();
  const size_t slash = path.rfind('/');
  day.file_name = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
  day.entries.resize(data.doors.size(), SlotCounts64{});
  day.exits.resize(data.doors.size(), SlotCounts64{});

  const std::vector<ChannelTarget> targets = TargetsOf(data, day, layout);
  if (targets.empty()) {
    problems.push_back(
        "the header names no active channel; odd channels are taken as the "
        "entries and even ones as the exits of door (n + 1) / 2");
  }
  AddRows(data, day, layout, bytes, targets, problems);
  FinishDay(data, day, path);
  return problems;
}

}  // namespace tly
