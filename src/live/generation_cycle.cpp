#include "live/generation_cycle.h"

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

#include "config/day_file_replace.h"
#include "counting/day_file_loader.h"
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
      writer_(std::move(writer)),
      replace_(ReplaceDayFile) {}

bool GenerationCycle::IsGenerating() const {
  return timer_.IsEnabled();
}

void GenerationCycle::SetGenerating(bool value) {
  if (timer_.IsEnabled() != value) timer_.SetEnabled(value);
}

void GenerationCycle::StartGeneration() {
  BuildDayFileName();
  LockDayDirectory();
  ReloadDay();
  next_save_time_ = CurrentClock().Now() + kTickSeconds / kSecondsPerDay;
  SetGenerating(true);
}

void GenerationCycle::StopGeneration() {
  SetGenerating(false);
  SaveDay();
  lock_.reset();
}

void GenerationCycle::BuildDayFileName() {
  BuildDayFileNameFor(CurrentClock().Now());
}

void GenerationCycle::BuildDayFileNameFor(TDateTime moment) {
  day_date_ = DatePart(moment);
  day_dir_ = out_dir_ ? out_dir_() : std::string();
  day_file_name_ = DayFileNameFor(day_dir_, day_date_);
}

void GenerationCycle::LockDayDirectory() {
  if (lock_ && lock_->dir() == day_dir_ && lock_->StillInPlace()) return;
  lock_.reset();
  try {
    lock_.emplace(day_dir_, writer_);
  } catch (const DirectoryBusy&) {
    throw;
  } catch (const std::system_error&) {
    // Missing or read-only: no file can be written there either, so there is
    // nothing to guard until it can.
  }
}

void GenerationCycle::ReloadDay() {
  day_file_unread_ = !ReloadDayFile(day_file_name_, day_data_, config_);
  if (!day_file_unread_) NoticeExistingDayFile(day_file_name_, existing_noticed_);
}

void GenerationCycle::CatchUpUnreadDayFile() {
  auto on_disk = std::make_unique<DayCounts>();
  if (!LoadDayFile(day_file_name_, *on_disk)) {
    throw std::system_error(EIO, std::generic_category(),
                            day_file_name_ + " exists but cannot be read; it is not replaced");
  }
  MergeDayCounts(*on_disk, day_data_);
  day_data_ = *on_disk;
  day_file_unread_ = false;
}

bool GenerationCycle::SaveDay() {
  ++save_count_;
  try {
    LockDayDirectory();
    if (day_file_unread_) CatchUpUnreadDayFile();
    // The whole sealed file is built first and then replaces the day file in
    // one step, so no reader ever sees the rows without their header and seal.
    replace_(day_file_name_, BuildDayFileImage(day_data_, config_, CurrentClock().Now()));
    last_save_ok_ = true;
    last_save_error_.clear();
  } catch (const std::system_error& e) {
    last_save_ok_ = false;
    last_save_error_ = e.what();
  }
  return last_save_ok_;
}

void GenerationCycle::Tick() {
  const TDateTime t = CurrentClock().Now();

  const FlatTick tick = DrawFlatTick(random_);
  if (tick.total < 1) return;

  // Counts of a new date must not be added to the old day: finish the old
  // day's file first, then continue in the file of t's date. This also makes
  // a day change after the save below impossible, so none is looked for there.
  if (DatePart(t) != day_date_) {
    if (!day_file_name_.empty()) SaveDay();
    BuildDayFileNameFor(t);
    ReloadDay();
  }

  // One call per counted access point: the four doors, then the passage.
  for (int point = 0; point < kFlatChannels / 2; ++point) {
    AddCounts(day_data_, 2 * point, tick.counts[2 * point], t, 2 * point + 1,
              tick.counts[2 * point + 1], kNoChannel, 0, kNoChannel, 0);
  }
  if (counts_changed_) counts_changed_();

  if (next_save_time_ > t) return;
  SaveDay();
  next_save_time_ = CurrentClock().Now() + kTickSeconds / kSecondsPerDay;
}

}  // namespace tly
