#ifndef TLY_LIVE_GENERATION_CYCLE_H_
#define TLY_LIVE_GENERATION_CYCLE_H_

#include <cstdint>
#include <functional>
#include <string>

#include "config/tly_config.h"
#include "counting/day_counts.h"
#include "counting/existing_day_file_notice.h"
#include "flat/random_source.h"
#include "live/generation_timer.h"
#include "live/live_site.h"
#include "support/date_time.h"

namespace tly {

// The generation cycle: the in-memory day of counts, the counter configuration
// and the day file they are kept in, driven by a 2-second timer. Each tick
// draws counts for ten channels (four doors and one passage, each counted in
// and out), adds them to the quarter hour of the current time, and rewrites
// the day file yymmdd.tly in the output directory at most every 2 seconds.
// At midnight it moves on to the next day's file.
//
// It knows no window and no terminal: the owner supplies the timer, the output
// directory and what to do when the day's counts changed. "Now" is always
// CurrentClock().Now(). Not thread-safe; one thread drives it.
class GenerationCycle {
 public:
  // Gives the output directory as the user set it, already trimmed.
  using OutDirSource = std::function<std::string()>;
  // Called after a tick added counts (the window rebuilds its list).
  using CountsChanged = std::function<void()>;

  // Seconds between ticks, and the least time between two saves.
  static constexpr int kTickSeconds = 2;

  // `timer` must outlive the cycle; the timer's enabled state is whether the
  // cycle is generating. `counts_changed` may be empty. `seed` is the initial
  // state of the random source (0 for the program's fixed sequence). `writer`
  // says what this process is, for the directory lock (another writer that is
  // refused names it). The day starts empty and unnamed: call BuildDayFileName
  // and ReloadDay (or StartGeneration) before use.
  GenerationCycle(GenerationTimer& timer, OutDirSource out_dir, CountsChanged counts_changed,
                  uint32_t seed = 0, std::string writer = "tly-generator");

  GenerationCycle(const GenerationCycle&) = delete;
  GenerationCycle& operator=(const GenerationCycle&) = delete;

  // The timer's enabled state.
  bool IsGenerating() const;
  // Switches the timer, only when its state differs from `value`.
  void SetGenerating(bool value);

  // Names the day file for today, takes the writer's lock of its directory,
  // reloads the day from it, schedules the first save 2 seconds ahead and
  // starts the timer. Throws DirectoryBusy (support/directory_lock.h), with
  // nothing started, when another process writes into that directory. A
  // directory that cannot be locked at all (missing, read-only) is no
  // obstacle: generation runs on in memory and each save tries again.
  void StartGeneration();
  // Stops the timer, writes the day file (even when no save was due) and
  // gives up the directory's lock.
  void StopGeneration();

  // DayDate := today's date; DayFileName := output directory, a '/' when it
  // does not end in one, "yymmdd" of DayDate and ".tly". An empty directory
  // gives "/yymmdd.tly".
  void BuildDayFileName();
  // Applies the default counter layout to Config and loads DayFileName into
  // DayData (re-initialised for the file's day). Never fails; when the file
  // exists but cannot be read, the day is marked unread (see SaveDay).
  void ReloadDay();
  // Writes the day file: the complete sealed file (header, title lines, the
  // day's rows) is built in memory and replaces DayFileName in one atomic
  // step (ReplaceDayFile), so no reader ever sees a file without its header
  // and seal. Returns whether it succeeded (also kept for LastSaveOk); a
  // failed save changes nothing in memory and the next save rewrites the
  // whole file. A day file that existed but could not be read when the day
  // was loaded is never replaced by the counts in memory alone: the save
  // first reads it again and adds the counts made since to its rows, and
  // fails while it still cannot be read.
  bool SaveDay();

  // One timer tick at t = CurrentClock().Now(): ten draws; nothing more when
  // all are 0. When t lies on another date than DayDate, the old day is saved
  // first and the day of t is named and loaded, so the counts always land in
  // the day of their own date. Then the counts are added to t's quarter hour,
  // the owner is told, and when the save is due the day file is written and
  // the next save is scheduled 2 seconds after that.
  void Tick();

  const DayCounts& DayData() const { return site_.Day(); }
  DayCounts& DayData() { return site_.Day(); }
  const TTlyConfig& Config() const { return config_; }
  TTlyConfig& Config() { return config_; }
  // The date DayFileName was built from; kNoDate before the first build.
  TDateTime DayDate() const { return day_date_; }
  const std::string& DayFileName() const { return site_.File(); }
  // The moment at or after which the next tick with counts saves.
  TDateTime NextSaveTime() const { return site_.NextSave(); }

  // Whether the last SaveDay succeeded, and the text of the error that made it
  // fail (empty after a success). False/empty before the first save.
  bool LastSaveOk() const { return site_.SaveCount() > 0 && site_.LastSaveOk(); }
  const std::string& LastSaveError() const { return site_.LastSaveError(); }
  // Number of SaveDay calls so far, successful or not.
  uint64_t SaveCount() const { return site_.SaveCount(); }

  // Who is told when ReloadDay continues a day file that holds a problem
  // (NoticeExistingDayFile); nobody by default.
  void SetExistingNoticed(ExistingNoticedFn notice) { existing_noticed_ = std::move(notice); }

  // Replaces the day file `file_name` with the complete file `image` in one
  // step, throwing std::system_error when it cannot.
  using DayFileReplacer = LiveSite::DayFileReplacer;
  // How SaveDay replaces the day file: ReplaceDayFile (config/day_file_replace.h)
  // by default, which keeps the temporary file and writes the debug log when
  // its rename is refused twice, as the window does; a headless run that
  // leaves nothing behind but its day files gives another.
  void SetDayFileReplacer(DayFileReplacer replace) { site_.SetDayFileReplacer(std::move(replace)); }

 private:
  void BuildDayFileNameFor(TDateTime moment);

  GenerationTimer& timer_;
  OutDirSource out_dir_;
  CountsChanged counts_changed_;
  RandomSource random_;
  // The day, its file, its lock and its saves (the program's own site).
  LiveSite site_;
  TTlyConfig config_;
  TDateTime day_date_ = kNoDate;
  ExistingNoticedFn existing_noticed_;
};

}  // namespace tly

#endif  // TLY_LIVE_GENERATION_CYCLE_H_
