#include "live/generation_cycle.h"

#include <utility>

#include "config/day_file_replace.h"
#include "dayfile/day_file_name.h"
#include "flat/day_file_image.h"
#include "flat/flat_tick.h"
#include "support/clock.h"

namespace tly {

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr int32_t kNoChannel = -1;

}  // namespace

GenerationCycle::GenerationCycle(GenerationTimer& timer, OutDirSource out_dir,
                                 CountsChanged counts_changed, uint32_t seed, std::string writer)
    : timer_(timer),
      out_dir_(std::move(out_dir)),
      counts_changed_(std::move(counts_changed)),
      random_(seed),
      site_(std::move(writer)) {
  site_.SetDayFileReplacer(ReplaceDayFile);
  site_.ScheduleSave(0);
}

bool GenerationCycle::IsGenerating() const {
  return timer_.IsEnabled();
}

void GenerationCycle::SetGenerating(bool value) {
  if (timer_.IsEnabled() != value) timer_.SetEnabled(value);
}

void GenerationCycle::StartGeneration() {
  BuildDayFileName();
  site_.LockDirectory();
  ReloadDay();
  site_.ScheduleSave(CurrentClock().Now() + kTickSeconds / kSecondsPerDay);
  SetGenerating(true);
}

void GenerationCycle::StopGeneration() {
  SetGenerating(false);
  SaveDay();
  site_.Unlock();
}

void GenerationCycle::BuildDayFileName() {
  BuildDayFileNameFor(CurrentClock().Now());
}

void GenerationCycle::BuildDayFileNameFor(TDateTime moment) {
  day_date_ = DatePart(moment);
  std::string dir = out_dir_ ? out_dir_() : std::string();
  std::string file = DayFileNameFor(dir, day_date_);
  site_.SetDayFile(std::move(dir), std::move(file));
}

void GenerationCycle::ReloadDay() {
  site_.LoadDay([this](const std::string& file, DayCounts& day) {
    return ReloadDayFile(file, day, config_);
  });
  if (!site_.Unread()) NoticeExistingDayFile(site_.File(), existing_noticed_);
}

bool GenerationCycle::SaveDay() {
  // The whole sealed file is built first and then replaces the day file in
  // one step, so no reader ever sees the rows without their header and seal.
  return site_.Save([this](const DayCounts& day) {
    return DayFileUpdate{DayFileUpdate::Kind::kReplace,
                         BuildDayFileImage(day, config_, CurrentClock().Now())};
  });
}

void GenerationCycle::Tick() {
  const TDateTime t = CurrentClock().Now();

  const FlatTick tick = DrawFlatTick(random_);
  if (tick.total < 1) return;

  // Counts of a new date must not be added to the old day: finish the old
  // day's file first, then continue in the file of t's date. This also makes
  // a day change after the save below impossible, so none is looked for there.
  if (DatePart(t) != day_date_) {
    if (!site_.File().empty()) SaveDay();
    BuildDayFileNameFor(t);
    ReloadDay();
  }

  // One call per counted access point: the four doors, then the passage.
  for (int point = 0; point < kFlatChannels / 2; ++point) {
    const int in = 2 * point;  // the point's channel in; the next one is its out
    AddCounts(site_.Day(), in, tick.counts[in], t, in + 1, tick.counts[in + 1], kNoChannel, 0,
              kNoChannel, 0);
  }
  if (counts_changed_) counts_changed_();

  if (!site_.SaveDue(t)) return;
  SaveDay();
  site_.ScheduleSave(CurrentClock().Now() + kTickSeconds / kSecondsPerDay);
}

}  // namespace tly
