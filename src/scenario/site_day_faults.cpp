#include "scenario/site_day_faults.h"

#include <algorithm>
#include <bitset>
#include <map>
#include <memory>
#include <optional>

#include "config/tly_config.h"
#include "dayfile/day_file_lines.h"
#include "dayfile/day_file_name.h"
#include "dayfile/day_file_reader.h"
#include "dayfile/line_scanner.h"
#include "dayfile/sealed_image.h"
#include "faults/fault_table.h"
#include "scenario/fault_place.h"
#include "scenario/site_day.h"

namespace tly {
namespace {

// What the faults taken so far hold of the site-day.
class Claims {
 public:
  // Takes `place` unless it meets a place taken before.
  bool Take(const FaultPlace& place) {
    if (whole_ || (place.whole_file && any_)) return false;
    if ((place.file_end && end_) || (place.needs_seal && seal_broken_) ||
        (place.breaks_seal && seal_needed_)) {
      return false;
    }
    for (const auto& [slot, channel] : place.cells) {
      if (cells_[slot].test(channel - 1)) return false;
    }
    for (const auto& [slot, channel] : place.cells) cells_[slot].set(channel - 1);
    any_ = true;
    whole_ = whole_ || place.whole_file;
    end_ = end_ || place.file_end;
    seal_broken_ = seal_broken_ || place.breaks_seal;
    seal_needed_ = seal_needed_ || place.needs_seal;
    return true;
  }

 private:
  std::array<std::bitset<kMaxChannels>, kSlotsPerDay> cells_{};
  bool any_ = false;
  bool whole_ = false;
  bool end_ = false;
  bool seal_broken_ = false;
  bool seal_needed_ = false;
};

SiteDayPlan PlanOf(const SiteSettings& site, uint32_t seed, TDateTime date, const DayCounts& day,
                   bool needs_clock) {
  SiteDayPlan plan;
  plan.site = &site;
  plan.seed = seed;
  plan.date = date;
  plan.clean = &day;
  plan.channels = std::clamp(day.ChannelCount, 0, kMaxChannels);
  for (const DoorSettings& door : site.doors) {
    for (const int channel : {door.in_channel, door.out_channel}) {
      if (channel >= 1 && channel <= plan.channels) plan.active.push_back(channel);
    }
  }
  std::sort(plan.active.begin(), plan.active.end());
  plan.active.erase(std::unique(plan.active.begin(), plan.active.end()), plan.active.end());
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    if (day.SlotUsed[slot] != 0) plan.rows.push_back(slot);
  }
  if (needs_clock) {
    plan.clock = ClockOfSiteDay(site, date);
    for (const int slot : plan.clock.slot) plan.shown[slot] = true;
  }
  return plan;
}

// The faults of `places` applied, step by step, to the file of `day`.
std::unique_ptr<FileWork> WriteWith(const SiteSettings& site, const DayCounts& day,
                                    TDateTime updated_at, std::vector<FaultPlace>& places) {
  auto work = std::make_unique<FileWork>();
  work->counts = day;
  work->shop_code = site.shop_code;
  work->line_end = std::string(kLineEnd);
  const auto step = [&](FaultStep which) {
    for (FaultPlace& place : places) {
      if (StepOf(place.record.kind) == which) place.apply(*work, place.record);
    }
  };
  step(FaultStep::kDay);
  if (!work->written) return work;
  step(FaultStep::kCounts);
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    if (work->counts.SlotUsed[slot] != 0) work->rows.push_back({slot, work->counts.Slots[slot]});
  }
  step(FaultStep::kRows);
  std::string rows;
  for (size_t i = 0; i < work->rows.size(); ++i) {
    rows += work->RowLine(i);
    rows += kLineEnd;
  }
  const std::string sealed = SiteConfig(site).BuildSealedFileText(rows, updated_at);
  LineScanner lines(sealed);
  for (ScannedLine line; lines.Next(line);) work->lines.emplace_back(line.text);
  size_t seal_line = 0;
  while (!IsSealLine(work->lines[seal_line])) ++seal_line;
  work->rows_begin = seal_line + 3;
  step(FaultStep::kLines);
  for (const std::string& line : work->lines) {
    work->bytes += line;
    work->bytes += work->line_end;
  }
  work->rows_kept = work->rows.size();
  step(FaultStep::kBytes);
  return work;
}

// The truth of each place: the counts it changed, its line, the seal.
void TellTruth(const SiteDayPlan& plan, const FileWork& work, std::vector<FaultPlace>& places) {
  std::map<std::pair<int, int>, int64_t> written;
  for (size_t i = 0; i < work.rows_kept; ++i) {
    for (int c = 1; c <= plan.channels; ++c) {
      written.emplace(std::pair{work.rows[i].slot, c}, work.rows[i].counts.Counts[c - 1]);
    }
  }
  std::optional<bool> seal_matches;
  if (work.written && !work.bytes.empty()) {
    std::string reader_rows;
    const std::string_view seal = ScanDayFileText(work.bytes, [&reader_rows](std::string_view row) {
      reader_rows += row;
      reader_rows += kLineEnd;
    });
    seal_matches = seal == SealOfRows(reader_rows);
  }
  for (FaultPlace& place : places) {
    FaultRecord& record = place.record;
    std::sort(place.cells.begin(), place.cells.end());
    for (const auto& [slot, channel] : place.cells) {
      if (plan.clean->SlotUsed[slot] == 0) continue;
      const int64_t clean = plan.Count(slot, channel);
      const auto found = written.find({slot, channel});
      FaultValue value{slot, channel, clean, std::nullopt};
      if (found != written.end()) {
        if (found->second == clean) continue;
        value.written = found->second;
      }
      record.values.push_back(value);
    }
    if (place.line_slot) {
      const size_t row = work.RowOf(*place.line_slot) + (place.line_of_copy ? 1 : 0);
      record.line = static_cast<int>(work.rows_begin + row) + 1;
    }
    record.seal_matches = seal_matches;
  }
}

// The record of the passages the counter of `site` missed on `date`, when it
// missed any: its channels in ascending order, 96 quarter hours each.
std::optional<FaultRecord> MissedPassagesRecord(const SiteSettings& site, uint32_t seed,
                                                TDateTime date) {
  if (!site.realism.Miscounts()) return std::nullopt;
  const MissedCounts missed = PassagesMissed(site, seed, date);
  if (std::all_of(missed.counts.begin(), missed.counts.end(), [](uint32_t n) { return n == 0; })) {
    return std::nullopt;
  }
  FaultRecord record;
  record.site = site.name;
  record.file = site.name + "/" + DayFileBaseName(date);
  for (const DoorSettings& door : site.doors) {
    record.channels.push_back(door.in_channel);
    record.channels.push_back(door.out_channel);
  }
  std::sort(record.channels.begin(), record.channels.end());
  record.channels.erase(std::unique(record.channels.begin(), record.channels.end()),
                        record.channels.end());
  record.missed.emplace();
  for (const int channel : record.channels) {
    std::vector<uint32_t>& quarters = record.missed->emplace_back(kSlotsPerDay);
    for (int slot = 0; slot < kSlotsPerDay; ++slot) quarters[slot] = missed.At(slot, channel);
  }
  return record;
}

// The site-day of `result` with the record of its missed passages, when its
// file is written.
FaultedSiteDay WithMissedPassages(FaultedSiteDay result, const SiteSettings& site, uint32_t seed,
                                  TDateTime date) {
  if (!result.written) return result;
  if (std::optional<FaultRecord> record = MissedPassagesRecord(site, seed, date)) {
    result.records.push_back(std::move(*record));
  }
  return result;
}

}  // namespace

FaultedSiteDay PlantSiteDayFaults(const SiteSettings& site, uint32_t seed, TDateTime date,
                                  const DayCounts& day, TDateTime updated_at) {
  FaultedSiteDay result;
  std::vector<std::pair<FaultKind, StreamRandom>> drawn;
  const uint64_t site_hash = HashOfName(site.name);
  for (const FaultKindInfo& info : FaultTable()) {
    const double rate = site.faults[info.kind];
    if (rate <= 0) continue;
    StreamRandom stream =
        FaultStream(seed, site_hash, static_cast<int64_t>(DatePart(date)), info.kind);
    if (DrawsOverDays(info.kind) || stream.Uniform() < rate) drawn.emplace_back(info.kind, stream);
  }
  const SiteDayPlan plan = PlanOf(site, seed, date, day, !drawn.empty());
  Claims claims;
  std::vector<FaultPlace> places;
  for (auto& [kind, stream] : drawn) {
    std::optional<FaultPlace> place = PlanterOf(kind)(plan, stream);
    if (place && claims.Take(*place)) places.push_back(std::move(*place));
  }
  if (places.empty()) {
    result.image = SiteDayImage(site, day, updated_at);
    return WithMissedPassages(std::move(result), site, seed, date);
  }
  const std::unique_ptr<FileWork> work = WriteWith(site, day, updated_at, places);
  TellTruth(plan, *work, places);
  const std::string file = site.name + "/" + DayFileBaseName(date);
  for (FaultPlace& place : places) {
    place.record.file = file;
    result.records.push_back(std::move(place.record));
  }
  result.written = work->written;
  result.image = std::move(work->bytes);
  return WithMissedPassages(std::move(result), site, seed, date);
}

}  // namespace tly
