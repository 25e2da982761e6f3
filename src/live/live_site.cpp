#include "live/live_site.h"

#include <memory>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "counting/day_file_loader.h"
#include "support/output_directory.h"
#include "support/safe_file.h"
#include "support/system_error.h"

namespace tly {

bool CatchUpByMerging(const std::string& file, DayCounts& day) {
  auto on_disk = std::make_unique<DayCounts>();
  if (!LoadDayFile(file, *on_disk)) return false;
  MergeDayCounts(*on_disk, day);
  day = *on_disk;
  return true;
}

LiveSite::LiveSite(std::string writer)
    : writer_(std::move(writer)), catch_up_(CatchUpByMerging), replace_(ReplaceFileWith) {}

void LiveSite::SetDayFile(std::string dir, std::string file) {
  dir_ = std::move(dir);
  file_ = std::move(file);
}

void LiveSite::LoadDay(const LoadFn& load) {
  unread_ = !load(file_, day_);
}

void LiveSite::LockDirectory(bool required) {
  if (lock_ && lock_->dir() == dir_ && lock_->StillInPlace()) return;
  lock_.reset();
  try {
    lock_.emplace(dir_, writer_);
  } catch (const DirectoryBusy&) {
    throw;
  } catch (const std::system_error&) {
    // Missing or read-only: no file can be written there either, so there is
    // nothing to guard until it can.
    if (required) throw;
  }
}

bool LiveSite::Save(const UpdateFn& update) {
  ++save_count_;
  try {
    LockDirectory();
    if (unread_) {
      if (!catch_up_(file_, day_)) {
        throw std::system_error(EIO, std::generic_category(),
                                file_ + " exists but cannot be read; it is not replaced");
      }
      unread_ = false;
    }
    Write(update(day_));
    last_save_ok_ = true;
    last_save_error_.clear();
  } catch (const std::runtime_error& e) {
    // std::system_error included.
    last_save_ok_ = false;
    last_save_error_ = e.what();
  }
  return last_save_ok_;
}

void LiveSite::Write(const DayFileUpdate& update) {
  switch (update.kind) {
    case DayFileUpdate::Kind::kReplace:
      replace_(file_, update.image);
      return;
    case DayFileUpdate::Kind::kRemove:
      RemoveFile(file_);
      return;
    case DayFileUpdate::Kind::kKeep:
      return;
  }
}

}  // namespace tly
