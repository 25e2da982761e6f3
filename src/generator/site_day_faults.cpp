#include "generator/site_day_faults.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <tuple>

#include "config/tly_config.h"
#include "counting/day_file_writer.h"
#include "dayfile/day_file_lines.h"
#include "dayfile/day_file_name.h"
#include "dayfile/day_file_reader.h"
#include "dayfile/sealed_image.h"
#include "generator/site_day.h"
#include "generator/stream_random.h"

namespace tly {
namespace {

// Kind k draws from the stream of quarter kFaultStreamBase - k: far below the
// day-wide traffic streams (-1, -2) and every real quarter hour.
constexpr int32_t kFaultStreamBase = -1000;

// A row of the day as the device writes it: the quarter hour it belongs to
// and its stamp and counts as written.
struct Row {
  int true_slot = 0;
  SlotCounts counts{};
};

// A count a fault touched: which record it belongs to and its clean value.
struct Cell {
  size_t record = 0;
  int slot = 0;
  int channel = 0;
  int64_t true_value = 0;
};

int32_t Clamped(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// The slots of `used` from `first` to `last`.
std::vector<int> SlotsWithin(const std::vector<int>& used, int first, int last) {
  std::vector<int> within;
  for (const int slot : used) {
    if (slot >= first && slot <= last) within.push_back(slot);
  }
  return within;
}

std::vector<int> UsedSlots(const DayCounts& day) {
  std::vector<int> used;
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    if (day.SlotUsed[slot] != 0) used.push_back(slot);
  }
  return used;
}

}  // namespace

FaultedSiteDay PlantSiteDayFaults(const SiteSettings& site, uint32_t seed, TDateTime date,
                                  const DayCounts& day, TDateTime updated_at) {
  FaultedSiteDay result;
  std::array<std::optional<StreamRandom>, kFaultKindCount> drawn;
  bool any = false;
  for (size_t k = 0; k < kFaultKindCount; ++k) {
    const double rate = site.faults.rate[k];
    if (rate <= 0) continue;
    StreamRandom stream(StreamKey{seed, HashOfName(site.name), static_cast<int64_t>(DatePart(date)),
                                  kFaultStreamBase - static_cast<int32_t>(k), 0});
    if (stream.Uniform() < rate) {
      drawn[k] = stream;
      any = true;
    }
  }
  if (!any) {
    result.image = SiteDayImage(site, day, updated_at);
    return result;
  }
  const auto has = [&](FaultKind kind) { return drawn[static_cast<size_t>(kind)].has_value(); };
  const auto random = [&](FaultKind kind) -> StreamRandom& {
    return *drawn[static_cast<size_t>(kind)];
  };
  const auto below = [&](FaultKind kind, size_t n) {
    return static_cast<int>(random(kind).Below(static_cast<uint32_t>(n)));
  };
  const std::string file = site.name + "/" + DayFileBaseName(date);
  const auto add_record = [&](FaultKind kind) -> size_t {
    FaultRecord record;
    record.site = site.name;
    record.file = file;
    record.kind = kind;
    result.records.push_back(std::move(record));
    return result.records.size() - 1;
  };
  if (has(FaultKind::kMissingDay)) {
    result.written = false;
    add_record(FaultKind::kMissingDay);
    return result;
  }

  // Faults of the device: counts first, on a copy of the day.
  auto work = std::make_unique<DayCounts>(day);
  const int channels = std::clamp(work->ChannelCount, 0, kMaxChannels);
  std::vector<int> active;
  for (const DoorSettings& door : site.doors) {
    for (const int channel : {door.in_channel, door.out_channel}) {
      if (channel >= 1 && channel <= channels) active.push_back(channel);
    }
  }
  std::sort(active.begin(), active.end());
  active.erase(std::unique(active.begin(), active.end()), active.end());
  std::vector<Cell> cells;
  const auto touch = [&](size_t record, int slot, int channel) {
    cells.push_back({record, slot, channel, day.Slots[slot].Counts[channel - 1]});
  };
  const auto span_of = [&](size_t record, const std::vector<int>& slots) {
    result.records[record].first_quarter = slots.front();
    result.records[record].last_quarter = slots.back();
  };
  std::vector<int> used = UsedSlots(*work);

  if (has(FaultKind::kOutage) && !used.empty() && channels > 0) {
    const FaultKind kind = FaultKind::kOutage;
    const int length = 2 + below(kind, 15);
    const int first = used[below(kind, used.size())];
    const std::vector<int> lost = SlotsWithin(used, first, first + length - 1);
    const size_t record = add_record(kind);
    span_of(record, lost);
    for (int c = 1; c <= channels; ++c) result.records[record].channels.push_back(c);
    for (const int slot : lost) {
      work->SlotUsed[slot] = 0;
      for (int c = 1; c <= channels; ++c) touch(record, slot, c);
    }
    used = UsedSlots(*work);
  }
  if (has(FaultKind::kStuckChannel)) {
    // It starts on a count, so that it shows.
    const FaultKind kind = FaultKind::kStuckChannel;
    std::vector<std::pair<int, int>> counted;  // slot, channel
    for (const int slot : used) {
      for (const int channel : active) {
        if (work->Slots[slot].Counts[channel - 1] != 0) counted.emplace_back(slot, channel);
      }
    }
    if (!counted.empty()) {
      const auto [first, channel] = counted[below(kind, counted.size())];
      const int length = 4 + below(kind, 29);
      const std::vector<int> stuck = SlotsWithin(used, first, first + length - 1);
      const size_t record = add_record(kind);
      span_of(record, stuck);
      result.records[record].channels = {channel};
      for (const int slot : stuck) {
        touch(record, slot, channel);
        work->Slots[slot].Counts[channel - 1] = 0;
      }
    }
  }
  if (has(FaultKind::kSpike) && !used.empty() && !active.empty()) {
    const FaultKind kind = FaultKind::kSpike;
    const int channel = active[below(kind, active.size())];
    const int slot = used[below(kind, used.size())];
    const int64_t factor = 10 + below(kind, 11);
    const size_t record = add_record(kind);
    span_of(record, {slot});
    result.records[record].channels = {channel};
    touch(record, slot, channel);
    int32_t& count = work->Slots[slot].Counts[channel - 1];
    count = Clamped((static_cast<int64_t>(count) + 10) * factor);
  }
  if (has(FaultKind::kSwappedDoor)) {
    // It starts where the door's entries and exits differ, so that it shows.
    const FaultKind kind = FaultKind::kSwappedDoor;
    std::vector<std::pair<int, size_t>> uneven;  // slot, door
    for (const int slot : used) {
      for (size_t door = 0; door < site.doors.size(); ++door) {
        const int in = site.doors[door].in_channel;
        const int out = site.doors[door].out_channel;
        if (in <= channels && out <= channels &&
            work->Slots[slot].Counts[in - 1] != work->Slots[slot].Counts[out - 1]) {
          uneven.emplace_back(slot, door);
        }
      }
    }
    if (!uneven.empty()) {
      const auto [first, door] = uneven[below(kind, uneven.size())];
      const int length = 4 + below(kind, 29);
      const int in = site.doors[door].in_channel;
      const int out = site.doors[door].out_channel;
      const std::vector<int> swapped = SlotsWithin(used, first, first + length - 1);
      const size_t record = add_record(kind);
      span_of(record, swapped);
      result.records[record].channels = {std::min(in, out), std::max(in, out)};
      result.records[record].door = static_cast<int>(door) + 1;
      for (const int slot : swapped) {
        touch(record, slot, in);
        touch(record, slot, out);
        std::swap(work->Slots[slot].Counts[in - 1], work->Slots[slot].Counts[out - 1]);
      }
    }
  }
  if (has(FaultKind::kCounterReset) && channels > 0) {
    const FaultKind kind = FaultKind::kCounterReset;
    std::vector<int> counted;
    for (const int slot : used) {
      for (int c = 0; c < channels; ++c) {
        if (work->Slots[slot].Counts[c] > 0) {
          counted.push_back(slot);
          break;
        }
      }
    }
    if (!counted.empty()) {
      const int slot = counted[below(kind, counted.size())];
      // What the device counted after it came back: a share of the quarter hour.
      const double kept = random(kind).Uniform() * 0.5;
      const size_t record = add_record(kind);
      span_of(record, {slot});
      for (int c = 1; c <= channels; ++c) {
        result.records[record].channels.push_back(c);
        int32_t& count = work->Slots[slot].Counts[c - 1];
        if (count <= 0) continue;
        touch(record, slot, c);
        count = static_cast<int32_t>(std::floor(count * kept));
      }
    }
  }

  // Then the rows: their stamps and their number.
  std::vector<Row> rows;
  for (const int slot : used) rows.push_back({slot, work->Slots[slot]});
  size_t skew_first_row = rows.size();
  if (has(FaultKind::kClockSkew) && !rows.empty()) {
    const FaultKind kind = FaultKind::kClockSkew;
    const int quarters = 1 + below(kind, 4);
    int shift = below(kind, 2) == 0 ? -quarters : quarters;
    const size_t length = 2 + static_cast<size_t>(below(kind, 11));
    const size_t first = static_cast<size_t>(below(kind, rows.size()));
    const size_t end = std::min(first + length, rows.size());
    const auto fits = [&](int by) {
      return rows[first].counts.Hour * 4 + rows[first].counts.Minute / 15 + by >= 0 &&
             rows[end - 1].counts.Hour * 4 + rows[end - 1].counts.Minute / 15 + by < kSlotsPerDay;
    };
    if (!fits(shift)) shift = -shift;
    if (fits(shift)) {
      const size_t record = add_record(kind);
      result.records[record].first_quarter = rows[first].true_slot;
      result.records[record].last_quarter = rows[end - 1].true_slot;
      result.records[record].shift_minutes = shift * 15;
      skew_first_row = first;
      for (size_t i = first; i < end; ++i) {
        const int slot = rows[i].counts.Hour * 4 + rows[i].counts.Minute / 15 + shift;
        rows[i].counts.Hour = slot / 4;
        rows[i].counts.Minute = (slot % 4) * 15;
      }
    }
  }
  // Rows that later faults may edit: not the two copies of a duplicated row,
  // which stay the same.
  std::vector<size_t> editable(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) editable[i] = i;
  std::vector<std::pair<size_t, size_t>> record_rows;  // record, row index
  if (has(FaultKind::kDuplicateRow) && !rows.empty()) {
    const FaultKind kind = FaultKind::kDuplicateRow;
    const size_t row = static_cast<size_t>(below(kind, rows.size()));
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(row) + 1, rows[row]);
    const size_t record = add_record(kind);
    span_of(record, {rows[row].true_slot});
    record_rows.emplace_back(record, row + 1);
    editable.clear();
    for (size_t i = 0; i < rows.size(); ++i) {
      if (i != row && i != row + 1) editable.push_back(i);
    }
  }

  std::string row_text;
  for (const Row& row : rows) {
    row_text += FormatSlotRow(site.shop_code, row.counts, channels);
    row_text += kLineEnd;
  }
  TTlyConfig config = SiteConfig(site);
  const std::string sealed = config.BuildSealedFileText(row_text, updated_at);

  // Faults after sealing, on the file's lines.
  std::vector<std::string> lines;
  for (size_t start = 0; start < sealed.size();) {
    const size_t end = sealed.find(kLineEnd, start);
    lines.push_back(sealed.substr(start, end - start));
    start = end + kLineEnd.size();
  }
  size_t seal_line = 0;
  while (!IsSealLine(lines[seal_line])) ++seal_line;
  size_t rows_begin = seal_line + 3;

  if (has(FaultKind::kBadSeal) && !editable.empty() && channels > 0) {
    const FaultKind kind = FaultKind::kBadSeal;
    const size_t row = editable[below(kind, editable.size())];
    const int channel = 1 + below(kind, channels);
    int32_t& count = rows[row].counts.Counts[channel - 1];
    const size_t record = add_record(kind);
    span_of(record, {rows[row].true_slot});
    result.records[record].channels = {channel};
    record_rows.emplace_back(record, row);
    touch(record, rows[row].true_slot, channel);
    count = Clamped(static_cast<int64_t>(count) + 1 + below(kind, 9));
    lines[rows_begin + row] = FormatSlotRow(site.shop_code, rows[row].counts, channels);
  }
  if (has(FaultKind::kStrayByte) && !editable.empty() && channels > 0) {
    const FaultKind kind = FaultKind::kStrayByte;
    const size_t row = editable[below(kind, editable.size())];
    const int channel = 1 + below(kind, channels);
    std::string& line = lines[rows_begin + row];
    // Count field n is field 3 + n (from 1): after 2 + n TABs.
    size_t at = 0;
    for (int tab = 0; tab < 2 + channel; ++tab) at = line.find('\t', at) + 1;
    line.replace(at, 1, "\xC2\xA0");
    const size_t record = add_record(kind);
    span_of(record, {rows[row].true_slot});
    result.records[record].channels = {channel};
    result.records[record].text = "C2A0";
    record_rows.emplace_back(record, row);
  }
  if (has(FaultKind::kMissingHeaderLine)) {
    const FaultKind kind = FaultKind::kMissingHeaderLine;
    // Lines whose absence a reader can tell: the tags every header has once,
    // and door or channel lines followed by another of their kind (a gap in
    // the numbers).
    std::vector<size_t> candidates;
    for (size_t i = 1; i < seal_line; ++i) {
      const std::string_view tag = std::string_view(lines[i]).substr(0, 2);
      if (tag == "#M" || tag == "#R" || tag == "#K" || tag == "#F" ||
          ((tag == "#D" || tag == "#C") && std::string_view(lines[i + 1]).substr(0, 2) == tag)) {
        candidates.push_back(i);
      }
    }
    if (!candidates.empty()) {
      const size_t line = candidates[below(kind, candidates.size())];
      const size_t record = add_record(kind);
      result.records[record].line = static_cast<int>(line) + 1;
      result.records[record].text = lines[line];
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(line));
      --seal_line;
      --rows_begin;
    }
  }
  const std::string_view line_end = has(FaultKind::kLfLineEnds) ? "\n" : kLineEnd;
  if (has(FaultKind::kLfLineEnds)) add_record(FaultKind::kLfLineEnds);
  std::string bytes;
  std::vector<size_t> line_start;
  for (const std::string& line : lines) {
    line_start.push_back(bytes.size());
    bytes += line;
    bytes += line_end;
  }
  size_t rows_present = rows.size();
  if (has(FaultKind::kTruncated) && !rows.empty()) {
    const FaultKind kind = FaultKind::kTruncated;
    const size_t row = static_cast<size_t>(below(kind, rows.size()));
    const size_t length = lines[rows_begin + row].size();
    const size_t kept =
        line_start[rows_begin + row] + 1 + static_cast<size_t>(below(kind, length - 1));
    bytes.resize(kept);
    const size_t record = add_record(kind);
    result.records[record].first_quarter = rows[row].true_slot;
    result.records[record].last_quarter = rows.back().true_slot;
    result.records[record].kept_bytes = static_cast<int64_t>(kept);
    record_rows.emplace_back(record, row);
    for (int c = 1; c <= channels; ++c) result.records[record].channels.push_back(c);
    for (size_t i = row; i < rows.size(); ++i) {
      for (int c = 1; c <= channels; ++c) touch(record, rows[i].true_slot, c);
    }
    rows_present = row;
    // What the device wrote into rows that never arrived is not in the file.
    std::vector<bool> cut(result.records.size(), false);
    for (const auto& [other, other_row] : record_rows) {
      if (other != record && other_row >= row) cut[other] = true;
    }
    for (size_t i = 0; i < result.records.size(); ++i) {
      if (result.records[i].kind == FaultKind::kClockSkew && skew_first_row >= row) cut[i] = true;
    }
    std::vector<size_t> renumbered(result.records.size());
    std::vector<FaultRecord> kept_records;
    for (size_t i = 0; i < result.records.size(); ++i) {
      renumbered[i] = kept_records.size();
      if (!cut[i]) kept_records.push_back(std::move(result.records[i]));
    }
    std::vector<Cell> kept_cells;
    for (const Cell& cell : cells) {
      if (!cut[cell.record])
        kept_cells.push_back({renumbered[cell.record], cell.slot, cell.channel, cell.true_value});
    }
    std::vector<std::pair<size_t, size_t>> kept_rows;
    for (const auto& [other, other_row] : record_rows) {
      if (!cut[other]) kept_rows.emplace_back(renumbered[other], other_row);
    }
    result.records = std::move(kept_records);
    cells = std::move(kept_cells);
    record_rows = std::move(kept_rows);
  }

  // The truth: what the file holds where the faults touched it.
  std::map<std::pair<int, int>, int64_t> written;
  for (size_t i = 0; i < rows_present; ++i) {
    for (int c = 1; c <= channels; ++c) {
      written.emplace(std::pair{rows[i].true_slot, c}, rows[i].counts.Counts[c - 1]);
    }
  }
  std::sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) {
    return std::tie(a.record, a.slot, a.channel) < std::tie(b.record, b.slot, b.channel);
  });
  cells.erase(std::unique(cells.begin(), cells.end(),
                          [](const Cell& a, const Cell& b) {
                            return a.record == b.record && a.slot == b.slot &&
                                   a.channel == b.channel;
                          }),
              cells.end());
  for (const Cell& cell : cells) {
    const auto found = written.find({cell.slot, cell.channel});
    FaultValue value{cell.slot, cell.channel, cell.true_value, std::nullopt};
    if (found != written.end()) {
      if (found->second == cell.true_value) continue;
      value.written = found->second;
    }
    result.records[cell.record].values.push_back(value);
  }
  for (const auto& [record, row] : record_rows) {
    result.records[record].line = static_cast<int>(rows_begin + row) + 1;
  }
  std::string reader_rows;
  const std::string_view seal = ScanDayFileText(bytes, [&reader_rows](std::string_view row) {
    reader_rows += row;
    reader_rows += kLineEnd;
  });
  const bool seal_matches = seal == SealOfRows(reader_rows);
  for (FaultRecord& record : result.records) record.seal_matches = seal_matches;
  result.image = std::move(bytes);
  return result;
}

}  // namespace tly
