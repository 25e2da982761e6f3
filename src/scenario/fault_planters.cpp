// One planter per fault kind. Each draws its place from its own stream on the
// clean site-day alone, claims the counts it may change, and says what it
// does to the file in its step (fault_place.h).

#include <algorithm>
#include <cmath>
#include <limits>

#include "counting/day_file_writer.h"
#include "scenario/fault_place.h"
#include "support/date_time.h"

namespace tly {

namespace {

constexpr int kLastQuarter = kSlotsPerDay - 1;
// What a 16-bit counter loses when it wraps.
constexpr int64_t kWrapLoss = 65536;

int32_t ClampedCount(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int Below(StreamRandom& random, size_t n) {
  return static_cast<int>(random.Below(static_cast<uint32_t>(n)));
}

// A span of `length` quarter hours from `first`, moved back whole where it
// would run past the day's last quarter hour.
std::pair<int, int> SpanFrom(int first, int length) {
  const int start = std::min(first, kSlotsPerDay - length);
  return {start, start + length - 1};
}

FaultPlace PlaceOf(const SiteDayPlan& plan, FaultKind kind) {
  FaultPlace place;
  place.record.site = plan.site->name;
  place.record.kind = kind;
  return place;
}

std::vector<int> AllChannels(const SiteDayPlan& plan) {
  std::vector<int> all;
  for (int c = 1; c <= plan.channels; ++c) all.push_back(c);
  return all;
}

// Claims `channels` of every quarter hour from `first` to `last`.
void Claim(FaultPlace& place, int first, int last, const std::vector<int>& channels) {
  for (int slot = first; slot <= last; ++slot) {
    for (const int channel : channels) place.cells.emplace_back(slot, channel);
  }
}

void SetSpan(FaultPlace& place, int first, int last) {
  place.record.first_quarter = first;
  place.record.last_quarter = last;
}

std::optional<FaultPlace> PlaceMissingDay(const SiteDayPlan& plan, StreamRandom&) {
  FaultPlace place = PlaceOf(plan, FaultKind::kMissingDay);
  place.whole_file = true;
  place.record.seal_matches = std::nullopt;
  place.apply = [](FileWork& work, FaultRecord&) { work.written = false; };
  return place;
}

// The quarter hours of the day `off` marks, gone from the file: the whole
// day (no file) or the rows of those quarter hours. None when the day loses
// nothing.
std::optional<FaultPlace> PlaceDayOff(const SiteDayPlan& plan, FaultKind kind,
                                      const std::array<bool, kSlotsPerDay>& off) {
  FaultPlace place = PlaceOf(plan, kind);
  if (std::all_of(off.begin(), off.end(), [](bool quarter) { return quarter; })) {
    place.whole_file = true;
    place.record.seal_matches = std::nullopt;
    place.apply = [](FileWork& work, FaultRecord&) { work.written = false; };
    return place;
  }
  std::vector<int> lost;
  for (const int slot : plan.rows) {
    if (off[slot]) lost.push_back(slot);
  }
  if (lost.empty()) return std::nullopt;
  const auto first = std::find(off.begin(), off.end(), true) - off.begin();
  const auto last = kLastQuarter - (std::find(off.rbegin(), off.rend(), true) - off.rbegin());
  place.record.channels = AllChannels(plan);
  SetSpan(place, static_cast<int>(first), static_cast<int>(last));
  // Every quarter hour it covers, rows or none: no row may be moved into it.
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    if (off[slot]) Claim(place, slot, slot, place.record.channels);
  }
  place.apply = [lost](FileWork& work, FaultRecord&) {
    for (const int slot : lost) work.counts.SlotUsed[slot] = 0;
  };
  return place;
}

// Periods begun on this day or the 7 before: each from a quarter hour of its
// first day for 1 to 7 days, to the same quarter hour of its last.
std::optional<FaultPlace> PlaceOfflineDays(const SiteDayPlan& plan, StreamRandom&) {
  const double rate = plan.site->faults[FaultKind::kOfflineDays];
  const int64_t today = static_cast<int64_t>(DatePart(plan.date));
  std::array<bool, kSlotsPerDay> off{};
  for (int64_t begun = today - 7; begun <= today; ++begun) {
    StreamRandom draw =
        FaultStream(plan.seed, HashOfName(plan.site->name), begun, FaultKind::kOfflineDays);
    if (!(draw.Uniform() < rate)) continue;
    const int64_t from = begun * kSlotsPerDay + Below(draw, kSlotsPerDay);
    const int64_t to = from + (1 + Below(draw, 7)) * int64_t{kSlotsPerDay};  // exclusive
    for (int slot = 0; slot < kSlotsPerDay; ++slot) {
      const int64_t quarter = today * kSlotsPerDay + slot;
      off[slot] = off[slot] || (quarter >= from && quarter < to);
    }
  }
  return PlaceDayOff(plan, FaultKind::kOfflineDays, off);
}

// The span of each UTC day that may reach into the local day, where the
// site's draw for that day says the outage strikes it.
std::optional<FaultPlace> PlaceFleetOutage(const SiteDayPlan& plan, StreamRandom&) {
  constexpr int64_t kUnixDayZero = 25569;  // 1970-01-01 as a day number
  const double rate = plan.site->faults[FaultKind::kFleetOutage];
  const int64_t today = static_cast<int64_t>(DatePart(plan.date));
  std::array<bool, kSlotsPerDay> off{};
  for (int64_t day = today - 1; day <= today + 1; ++day) {
    StreamRandom site =
        FaultStream(plan.seed, HashOfName(plan.site->name), day, FaultKind::kFleetOutage);
    if (!(site.Uniform() < rate)) continue;
    StreamRandom fleet = FaultStream(plan.seed, 0, day, FaultKind::kFleetOutage);
    const int64_t from = (day - kUnixDayZero) * 86400 + Below(fleet, kSlotsPerDay) * int64_t{900};
    const int64_t to = from + (4 + Below(fleet, 29)) * int64_t{900};
    for (size_t i = 0; i < plan.clock.slot.size(); ++i) {
      const int64_t at = plan.clock.start_unix + static_cast<int64_t>(i) * 900;
      if (at >= from && at < to) off[plan.clock.slot[i]] = true;
    }
  }
  return PlaceDayOff(plan, FaultKind::kFleetOutage, off);
}

std::optional<FaultPlace> PlaceEmptyFile(const SiteDayPlan& plan, StreamRandom&) {
  FaultPlace place = PlaceOf(plan, FaultKind::kEmptyFile);
  place.whole_file = true;
  place.record.channels = AllChannels(plan);
  Claim(place, 0, kLastQuarter, place.record.channels);
  place.apply = [](FileWork& work, FaultRecord&) {
    work.bytes.clear();
    work.rows_kept = 0;
  };
  return place;
}

std::optional<FaultPlace> PlaceTruncated(const SiteDayPlan& plan, StreamRandom& random) {
  if (plan.rows.empty()) return std::nullopt;
  const int slot = plan.rows[Below(random, plan.rows.size())];
  // The row's length does not depend on other faults: they change no count
  // of it (they claim none), and its stamps keep their width.
  const size_t length =
      FormatSlotRow(plan.site->shop_code, plan.clean->Slots[slot], plan.channels).size();
  const size_t within = 1 + static_cast<size_t>(Below(random, length - 1));
  FaultPlace place = PlaceOf(plan, FaultKind::kTruncated);
  place.file_end = true;
  place.breaks_seal = true;
  place.record.channels = AllChannels(plan);
  SetSpan(place, slot, plan.rows.back());
  Claim(place, slot, kLastQuarter, place.record.channels);
  place.line_slot = slot;
  place.apply = [slot, within](FileWork& work, FaultRecord& record) {
    const size_t row = work.RowOf(slot);
    const size_t kept = work.LineStart(work.rows_begin + row) + within;
    work.bytes.resize(kept);
    work.rows_kept = row;
    record.kept_bytes = static_cast<int64_t>(kept);
  };
  return place;
}

std::optional<FaultPlace> PlaceNulPadding(const SiteDayPlan& plan, StreamRandom&) {
  FaultPlace place = PlaceOf(plan, FaultKind::kNulPadding);
  place.file_end = true;
  place.breaks_seal = true;
  place.apply = [](FileWork& work, FaultRecord& record) {
    constexpr size_t kCluster = 4096;
    const size_t padding = kCluster - work.bytes.size() % kCluster;
    work.bytes.append(padding, '\0');
    record.padding_bytes = static_cast<int64_t>(padding);
  };
  return place;
}

std::optional<FaultPlace> PlaceOutage(const SiteDayPlan& plan, StreamRandom& random) {
  if (plan.rows.empty() || plan.channels == 0) return std::nullopt;
  const int length = 2 + Below(random, 15);
  const auto [first, last] = SpanFrom(plan.rows[Below(random, plan.rows.size())], length);
  FaultPlace place = PlaceOf(plan, FaultKind::kOutage);
  place.record.channels = AllChannels(plan);
  SetSpan(place, first, last);
  Claim(place, first, last, place.record.channels);
  // clang 14 (the fuzzing build's compiler) cannot capture structured
  // bindings; an init-capture copies them with every compiler.
  place.apply = [from = first, to = last](FileWork& work, FaultRecord&) {
    for (int slot = from; slot <= to; ++slot) work.counts.SlotUsed[slot] = 0;
  };
  return place;
}

std::optional<FaultPlace> PlaceStuckChannel(const SiteDayPlan& plan, StreamRandom& random) {
  std::vector<std::pair<int, int>> counted;  // slot, channel
  for (const int slot : plan.rows) {
    for (const int channel : plan.active) {
      if (plan.Count(slot, channel) != 0) counted.emplace_back(slot, channel);
    }
  }
  if (counted.empty()) return std::nullopt;
  const auto [start, channel] = counted[Below(random, counted.size())];
  const auto [first, last] = SpanFrom(start, 4 + Below(random, 29));
  FaultPlace place = PlaceOf(plan, FaultKind::kStuckChannel);
  place.record.channels = {channel};
  SetSpan(place, first, last);
  Claim(place, first, last, {channel});
  place.apply = [from = first, to = last, stuck = channel](FileWork& work, FaultRecord&) {
    for (int slot = from; slot <= to; ++slot) work.counts.Slots[slot].Counts[stuck - 1] = 0;
  };
  return place;
}

std::optional<FaultPlace> PlaceSpike(const SiteDayPlan& plan, StreamRandom& random) {
  if (plan.rows.empty() || plan.active.empty()) return std::nullopt;
  const int channel = plan.active[Below(random, plan.active.size())];
  const int slot = plan.rows[Below(random, plan.rows.size())];
  const int64_t factor = 10 + Below(random, 11);
  FaultPlace place = PlaceOf(plan, FaultKind::kSpike);
  place.record.channels = {channel};
  SetSpan(place, slot, slot);
  Claim(place, slot, slot, {channel});
  place.apply = [slot, channel, factor](FileWork& work, FaultRecord&) {
    int32_t& count = work.counts.Slots[slot].Counts[channel - 1];
    count = ClampedCount((static_cast<int64_t>(count) + 10) * factor);
  };
  return place;
}

std::optional<FaultPlace> PlaceSwappedDoor(const SiteDayPlan& plan, StreamRandom& random) {
  const std::vector<DoorSettings>& doors = plan.site->doors;
  std::vector<std::pair<int, size_t>> uneven;  // slot, door
  for (const int slot : plan.rows) {
    for (size_t door = 0; door < doors.size(); ++door) {
      const int in = doors[door].in_channel;
      const int out = doors[door].out_channel;
      if (in <= plan.channels && out <= plan.channels &&
          plan.Count(slot, in) != plan.Count(slot, out)) {
        uneven.emplace_back(slot, door);
      }
    }
  }
  if (uneven.empty()) return std::nullopt;
  const auto [start, door] = uneven[Below(random, uneven.size())];
  const auto [first, last] = SpanFrom(start, 4 + Below(random, 29));
  const int in = doors[door].in_channel;
  const int out = doors[door].out_channel;
  FaultPlace place = PlaceOf(plan, FaultKind::kSwappedDoor);
  place.record.channels = {std::min(in, out), std::max(in, out)};
  place.record.door = static_cast<int>(door) + 1;
  SetSpan(place, first, last);
  Claim(place, first, last, {in, out});
  place.apply = [from = first, to = last, in, out](FileWork& work, FaultRecord&) {
    for (int slot = from; slot <= to; ++slot) {
      std::swap(work.counts.Slots[slot].Counts[in - 1], work.counts.Slots[slot].Counts[out - 1]);
    }
  };
  return place;
}

std::optional<FaultPlace> PlaceCounterReset(const SiteDayPlan& plan, StreamRandom& random) {
  std::vector<int> counted;
  for (const int slot : plan.rows) {
    for (int c = 1; c <= plan.channels; ++c) {
      if (plan.Count(slot, c) > 0) {
        counted.push_back(slot);
        break;
      }
    }
  }
  if (counted.empty()) return std::nullopt;
  const int slot = counted[Below(random, counted.size())];
  // What the device counted after it came back: a share of the quarter hour.
  const double kept = random.Uniform() * 0.5;
  FaultPlace place = PlaceOf(plan, FaultKind::kCounterReset);
  place.record.channels = AllChannels(plan);
  SetSpan(place, slot, slot);
  Claim(place, slot, slot, place.record.channels);
  place.apply = [slot, kept](FileWork& work, FaultRecord&) {
    for (int32_t& count : work.counts.Slots[slot].Counts) {
      if (count > 0) count = static_cast<int32_t>(std::floor(count * kept));
    }
  };
  return place;
}

std::optional<FaultPlace> PlaceCounterWrap(const SiteDayPlan& plan, StreamRandom& random) {
  if (plan.rows.empty() || plan.active.empty()) return std::nullopt;
  const int slot = plan.rows[Below(random, plan.rows.size())];
  const int channel = plan.active[Below(random, plan.active.size())];
  FaultPlace place = PlaceOf(plan, FaultKind::kCounterWrap);
  place.record.channels = {channel};
  SetSpan(place, slot, slot);
  Claim(place, slot, slot, {channel});
  place.apply = [slot, channel](FileWork& work, FaultRecord&) {
    int32_t& count = work.counts.Slots[slot].Counts[channel - 1];
    count = ClampedCount(static_cast<int64_t>(count) - kWrapLoss);
  };
  return place;
}

std::optional<FaultPlace> PlaceClockSkew(const SiteDayPlan& plan, StreamRandom& random) {
  if (plan.rows.size() < 2) return std::nullopt;
  const int quarters = 1 + Below(random, 4);
  const int sign = Below(random, 2) == 0 ? -1 : 1;
  const size_t length =
      std::min<size_t>(2 + static_cast<size_t>(Below(random, 11)), plan.rows.size());
  const size_t first =
      std::min(static_cast<size_t>(Below(random, plan.rows.size())), plan.rows.size() - length);
  const std::vector<int> moved(plan.rows.begin() + static_cast<std::ptrdiff_t>(first),
                               plan.rows.begin() + static_cast<std::ptrdiff_t>(first + length));
  // Only onto quarter hours the local day has.
  const auto fits = [&](int shift) {
    return std::all_of(moved.begin(), moved.end(), [&](int slot) {
      return slot + shift >= 0 && slot + shift < kSlotsPerDay && plan.shown[slot + shift];
    });
  };
  int shift = sign * quarters;
  if (!fits(shift)) shift = -shift;
  if (!fits(shift)) return std::nullopt;
  FaultPlace place = PlaceOf(plan, FaultKind::kClockSkew);
  SetSpan(place, moved.front(), moved.back());
  place.record.shift_minutes = shift * 15;
  // Its rows and the quarter hours they show: no other fault may change
  // them, nor leave a gap the moved rows would fill.
  const std::vector<int> all = AllChannels(plan);
  for (const int slot : moved) {
    Claim(place, slot, slot, all);
    Claim(place, slot + shift, slot + shift, all);
  }
  place.apply = [moved, shift](FileWork& work, FaultRecord&) {
    for (WorkRow& row : work.rows) {
      if (std::find(moved.begin(), moved.end(), row.slot) == moved.end()) continue;
      row.counts.Hour = (row.slot + shift) / 4;
      row.counts.Minute = (row.slot + shift) % 4 * 15;
    }
  };
  return place;
}

std::optional<FaultPlace> PlaceDuplicateRow(const SiteDayPlan& plan, StreamRandom& random) {
  if (plan.rows.empty()) return std::nullopt;
  const int slot = plan.rows[Below(random, plan.rows.size())];
  FaultPlace place = PlaceOf(plan, FaultKind::kDuplicateRow);
  SetSpan(place, slot, slot);
  Claim(place, slot, slot, AllChannels(plan));
  place.line_slot = slot;
  place.line_of_copy = true;
  place.apply = [slot](FileWork& work, FaultRecord&) {
    const size_t row = work.RowOf(slot);
    WorkRow copy = work.rows[row];
    copy.copy = true;
    work.rows.insert(work.rows.begin() + static_cast<std::ptrdiff_t>(row) + 1, copy);
  };
  return place;
}

std::optional<FaultPlace> PlaceWrongDateName(const SiteDayPlan& plan, StreamRandom& random) {
  if (plan.rows.empty()) return std::nullopt;
  const int shift = Below(random, 2) == 0 ? -1 : 1;
  const CivilDate shown = DecodeDate(plan.date + shift);
  FaultPlace place = PlaceOf(plan, FaultKind::kWrongDateName);
  place.record.shift_days = shift;
  place.apply = [shown](FileWork& work, FaultRecord&) {
    for (WorkRow& row : work.rows) {
      row.counts.Year = shown.Year;
      row.counts.Month = shown.Month;
      row.counts.Day = shown.Day;
    }
  };
  return place;
}

std::optional<FaultPlace> PlaceStrayByte(const SiteDayPlan& plan, StreamRandom& random) {
  if (plan.rows.empty() || plan.channels == 0) return std::nullopt;
  const int slot = plan.rows[Below(random, plan.rows.size())];
  const int channel = 1 + Below(random, static_cast<size_t>(plan.channels));
  FaultPlace place = PlaceOf(plan, FaultKind::kStrayByte);
  place.breaks_seal = true;
  place.record.channels = {channel};
  place.record.text = "C2A0";
  SetSpan(place, slot, slot);
  Claim(place, slot, slot, {channel});
  place.line_slot = slot;
  place.apply = [slot, channel](FileWork& work, FaultRecord&) {
    std::string& line = work.lines[work.rows_begin + work.RowOf(slot)];
    // Count field n is field 3 + n (from 1): after 2 + n TABs.
    size_t at = 0;
    for (int tab = 0; tab < 2 + channel; ++tab) at = line.find('\t', at) + 1;
    line.replace(at, 1, "\xC2\xA0");
  };
  return place;
}

std::optional<FaultPlace> PlaceBadSeal(const SiteDayPlan& plan, StreamRandom& random) {
  if (plan.rows.empty() || plan.channels == 0) return std::nullopt;
  const int slot = plan.rows[Below(random, plan.rows.size())];
  const int channel = 1 + Below(random, static_cast<size_t>(plan.channels));
  const int64_t raise = 1 + Below(random, 9);
  FaultPlace place = PlaceOf(plan, FaultKind::kBadSeal);
  place.needs_seal = true;
  place.record.channels = {channel};
  SetSpan(place, slot, slot);
  Claim(place, slot, slot, {channel});
  place.line_slot = slot;
  place.apply = [slot, channel, raise](FileWork& work, FaultRecord&) {
    const size_t row = work.RowOf(slot);
    int32_t& count = work.rows[row].counts.Counts[channel - 1];
    count = ClampedCount(count + raise);
    work.lines[work.rows_begin + row] = work.RowLine(row);
  };
  return place;
}

std::optional<FaultPlace> PlaceMissingHeaderLine(const SiteDayPlan& plan, StreamRandom& random) {
  FaultPlace place = PlaceOf(plan, FaultKind::kMissingHeaderLine);
  // The header's lines depend on the layout alone: which to leave out is
  // drawn when the file is there.
  place.apply = [draw = random](FileWork& work, FaultRecord& record) mutable {
    // Lines whose absence a reader can tell: the tags every header has once,
    // and door or channel lines followed by another of their kind (a gap in
    // the numbers).
    std::vector<size_t> candidates;
    for (size_t i = 1; i + 3 < work.rows_begin; ++i) {
      const std::string_view tag = std::string_view(work.lines[i]).substr(0, 2);
      if (tag == "#M" || tag == "#R" || tag == "#K" || tag == "#F" ||
          ((tag == "#D" || tag == "#C") &&
           std::string_view(work.lines[i + 1]).substr(0, 2) == tag)) {
        candidates.push_back(i);
      }
    }
    const size_t line = candidates[Below(draw, candidates.size())];
    record.line = static_cast<int>(line) + 1;
    record.text = work.lines[line];
    work.lines.erase(work.lines.begin() + static_cast<std::ptrdiff_t>(line));
    --work.rows_begin;
  };
  return place;
}

std::optional<FaultPlace> PlaceLfLineEnds(const SiteDayPlan& plan, StreamRandom&) {
  FaultPlace place = PlaceOf(plan, FaultKind::kLfLineEnds);
  place.apply = [](FileWork& work, FaultRecord&) { work.line_end = "\n"; };
  return place;
}

struct Planter {
  FaultPlanter place;
  FaultStep step;
  bool over_days = false;
};

constexpr std::array<Planter, kFaultKindCount> kPlanters = {{
    {PlaceMissingDay, FaultStep::kDay},        {PlaceOfflineDays, FaultStep::kDay, true},
    {PlaceFleetOutage, FaultStep::kDay, true}, {PlaceEmptyFile, FaultStep::kBytes},
    {PlaceTruncated, FaultStep::kBytes},       {PlaceNulPadding, FaultStep::kBytes},
    {PlaceOutage, FaultStep::kCounts},         {PlaceStuckChannel, FaultStep::kCounts},
    {PlaceSpike, FaultStep::kCounts},          {PlaceSwappedDoor, FaultStep::kCounts},
    {PlaceCounterReset, FaultStep::kCounts},   {PlaceCounterWrap, FaultStep::kCounts},
    {PlaceClockSkew, FaultStep::kRows},        {PlaceDuplicateRow, FaultStep::kRows},
    {PlaceWrongDateName, FaultStep::kRows},    {PlaceStrayByte, FaultStep::kLines},
    {PlaceBadSeal, FaultStep::kLines},         {PlaceMissingHeaderLine, FaultStep::kLines},
    {PlaceLfLineEnds, FaultStep::kLines},
}};

}  // namespace

FaultPlanter PlanterOf(FaultKind kind) {
  return kPlanters[static_cast<size_t>(kind)].place;
}

FaultStep StepOf(FaultKind kind) {
  return kPlanters[static_cast<size_t>(kind)].step;
}

bool DrawsOverDays(FaultKind kind) {
  return kPlanters[static_cast<size_t>(kind)].over_days;
}

}  // namespace tly
