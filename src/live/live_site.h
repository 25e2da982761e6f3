#ifndef TLY_LIVE_LIVE_SITE_H_
#define TLY_LIVE_LIVE_SITE_H_

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "counting/day_counts.h"
#include "support/directory_lock.h"

namespace tly {

// What a save does with a site's day file.
struct DayFileUpdate {
  enum class Kind {
    kReplace,  // the day file becomes `image`
    kRemove,   // the day is delivered as no file at all
    kKeep,     // the day file already is what the save would write
  };
  Kind kind = Kind::kKeep;
  std::string image;  // the complete sealed file, for kReplace
};

// One site generating live, the program's own site and each site of a
// scenario alike: the day being counted, the day file it is kept in, the
// writer's lock of that file's directory, and the rules every live site
// follows when it saves:
// - A save builds the complete sealed file in memory and replaces the day
//   file with it in one atomic step, so no reader ever sees less than a whole
//   file; a failed save changes nothing and the next one writes it all again.
// - A day file that exists but cannot be read when its day is loaded is never
//   replaced by the counts in memory alone (that would drop the rows it
//   holds): each save first reads it again and fails while it cannot; once it
//   can, the day goes on from what the file holds and the counts made since.
// - At a day change the owner saves the old day first and then loads the
//   next day's file (SetDayFile, LoadDay), so counts land in their own day.
// What the counts are, how a day file is loaded and what image is written
// belong to the owner (the flat tick, a scenario's passages). Toolkit-free;
// one thread drives it.
class LiveSite {
 public:
  // Loads the day file `file` into `day` for the day's start; false when the
  // file exists but cannot be read.
  using LoadFn = std::function<bool(const std::string& file, DayCounts& day)>;
  // Makes `day` (the counts made since a load that could not read `file`)
  // the day as `file` reads now and those counts; false, `day` unchanged in
  // what it counted, while `file` still cannot be read.
  using CatchUpFn = std::function<bool(const std::string& file, DayCounts& day)>;
  // What the save of `day` writes. May throw std::runtime_error: the save
  // then fails with its message.
  using UpdateFn = std::function<DayFileUpdate(const DayCounts& day)>;
  // Replaces the day file `file` with the complete file `image` in one step,
  // throwing std::system_error when it cannot.
  using DayFileReplacer = std::function<void(const std::string& file, std::string_view image)>;

  // `writer` says what this process is, for the directory lock. The day is
  // empty and unnamed; saves replace files with ReplaceFileWith
  // (support/safe_file.h) and catch up with CatchUpByMerging.
  explicit LiveSite(std::string writer);
  LiveSite(const LiveSite&) = delete;
  LiveSite& operator=(const LiveSite&) = delete;

  // Names the day file `file` in the directory `dir`; nothing is read.
  void SetDayFile(std::string dir, std::string file);
  // Loads the named day file into Day() with `load`; when it exists but
  // cannot be read, the day is marked unread and every save catches up first.
  void LoadDay(const LoadFn& load);

  // Takes the lock of the day file's directory unless it is held and still
  // guards that directory. Throws DirectoryBusy when another writer holds it;
  // any other failure (a missing or read-only directory) is thrown only when
  // `required`, else the directory stays unlocked (nothing can be written
  // there either) and the next save tries again.
  void LockDirectory(bool required = false);
  // Gives up the directory's lock.
  void Unlock() { lock_.reset(); }

  // Saves the day: locks the directory, catches up an unread day file, then
  // writes what `update` gives. Returns whether it worked (also kept for
  // LastSaveOk and LastSaveError). Never throws but std::bad_alloc.
  bool Save(const UpdateFn& update);

  // The next save is due at `moment` (in the owner's own unit of time).
  void ScheduleSave(double moment) { next_save_ = moment; }
  double NextSave() const { return next_save_; }
  bool SaveDue(double now) const { return next_save_ <= now; }

  const DayCounts& Day() const { return day_; }
  DayCounts& Day() { return day_; }
  const std::string& Dir() const { return dir_; }
  const std::string& File() const { return file_; }
  // Whether the day file existed but could not be read at the load, and has
  // not been caught up since.
  bool Unread() const { return unread_; }

  // Whether the last save worked, and why it failed (empty after a success).
  // True/empty before the first save.
  bool LastSaveOk() const { return last_save_ok_; }
  const std::string& LastSaveError() const { return last_save_error_; }
  // Saves so far, successful or not.
  uint64_t SaveCount() const { return save_count_; }

  void SetCatchUp(CatchUpFn catch_up) { catch_up_ = std::move(catch_up); }
  void SetDayFileReplacer(DayFileReplacer replace) { replace_ = std::move(replace); }

 private:
  // The one place where the site's files are written or removed.
  void Write(const DayFileUpdate& update);

  std::string writer_;
  std::optional<DirectoryLock> lock_;
  DayCounts day_{};
  std::string dir_;
  std::string file_;
  bool unread_ = false;
  double next_save_ = std::numeric_limits<double>::lowest();
  bool last_save_ok_ = true;
  std::string last_save_error_;
  uint64_t save_count_ = 0;
  CatchUpFn catch_up_;
  DayFileReplacer replace_;
};

// The flat cycle's catch-up: reads `file` again and adds the counts of `day`
// to its rows. False while it cannot be read.
bool CatchUpByMerging(const std::string& file, DayCounts& day);

}  // namespace tly

#endif  // TLY_LIVE_LIVE_SITE_H_
