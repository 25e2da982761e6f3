#include "generator/generation_cycle.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>
#include <utility>

#include "counting/day_file_loader.h"
#include "counting/day_file_writer.h"
#include "generator/day_file_image.h"
#include "generator/day_file_name.h"
#include "generator/default_layout.h"
#include "support/clock.h"

namespace tly {

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr int kDoors = 4;
constexpr int32_t kPassageEntryChannel = 8;  // ch9; its exit is ch10
constexpr int32_t kNoChannel = -1;

}  // namespace

GenerationCycle::GenerationCycle(GenerationTimer& timer, OutDirSource out_dir,
                                 CountsChanged counts_changed, uint32_t seed)
    : timer_(timer),
      out_dir_(std::move(out_dir)),
      counts_changed_(std::move(counts_changed)),
      random_(seed) {}

bool GenerationCycle::IsGenerating() const {
  return timer_.IsEnabled();
}

void GenerationCycle::SetGenerating(bool value) {
  if (timer_.IsEnabled() != value) timer_.SetEnabled(value);
}

void GenerationCycle::StartGeneration() {
  BuildDayFileName();
  ReloadDay();
  next_save_time_ = CurrentClock().Now() + kTickSeconds / kSecondsPerDay;
  SetGenerating(true);
}

void GenerationCycle::StopGeneration() {
  SetGenerating(false);
  SaveDay();
}

void GenerationCycle::BuildDayFileName() {
  BuildDayFileNameFor(CurrentClock().Now());
}

void GenerationCycle::BuildDayFileNameFor(TDateTime moment) {
  day_date_ = DatePart(moment);
  day_file_name_ = DayFileNameFor(out_dir_ ? out_dir_() : std::string(), day_date_);
}

void GenerationCycle::ReloadDay() {
  ApplyDefaultLayout(config_);
  day_file_unread_ = !LoadDayFile(day_file_name_, day_data_, config_);
}

void GenerationCycle::CatchUpUnreadDayFile() {
  auto on_disk = std::make_unique<DayCounts>();
  if (!LoadDayFile(day_file_name_, *on_disk, config_)) {
    throw std::runtime_error(day_file_name_ + " exists but cannot be read; it is not replaced");
  }
  MergeDayCounts(*on_disk, day_data_);
  day_data_ = *on_disk;
  day_file_unread_ = false;
}

bool GenerationCycle::SaveDay() {
  ++save_count_;
  try {
    if (day_file_unread_) CatchUpUnreadDayFile();
    WriteDayRows(day_data_, day_file_name_, kGeneratorShopCode, kGeneratorFromTime,
                 kGeneratorToTime, kGeneratorChannelsPerRow);
    config_.SetHeaderToFile(day_file_name_);
    last_save_ok_ = true;
    last_save_error_.clear();
  } catch (const std::exception& e) {
    last_save_ok_ = false;
    last_save_error_ = e.what();
  } catch (...) {
    last_save_ok_ = false;
    last_save_error_ = "unknown error";
  }
  return last_save_ok_;
}

void GenerationCycle::Tick() {
  const TDateTime t = CurrentClock().Now();

  // Ten draws in a fixed order: per door its entry and a second draw that
  // caps the exit at the entry, then the passage's entry and exit.
  int32_t entries[kDoors];
  int32_t exits[kDoors];
  int32_t total = 0;
  for (int k = 0; k < kDoors; ++k) {
    entries[k] = static_cast<int32_t>(random_.RandomBelow(2));
    exits[k] = std::min(entries[k], static_cast<int32_t>(random_.RandomBelow(2)));
    total += entries[k] + exits[k];
  }
  const int32_t passage_in = static_cast<int32_t>(random_.RandomBelow(2));
  const int32_t passage_out = static_cast<int32_t>(random_.RandomBelow(2));
  total += passage_in + passage_out;
  if (total < 1) return;

  // Counts of a new date must not be added to the old day: finish the old
  // day's file first, then continue in the file of t's date. This also makes
  // a day change after the save below impossible, so none is looked for there.
  if (DatePart(t) != day_date_) {
    if (!day_file_name_.empty()) SaveDay();
    BuildDayFileNameFor(t);
    ReloadDay();
  }

  for (int k = 0; k < kDoors; ++k) {
    AddCounts(day_data_, 2 * k, entries[k], t, 2 * k + 1, exits[k], kNoChannel, 0, kNoChannel, 0);
  }
  AddCounts(day_data_, kPassageEntryChannel, passage_in, t, kPassageEntryChannel + 1, passage_out,
            kNoChannel, 0, kNoChannel, 0);
  if (counts_changed_) counts_changed_();

  if (next_save_time_ > t) return;
  SaveDay();
  next_save_time_ = CurrentClock().Now() + kTickSeconds / kSecondsPerDay;
}

}  // namespace tly
