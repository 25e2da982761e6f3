#ifndef TLY_LIVE_LIVE_SCENARIO_H_
#define TLY_LIVE_LIVE_SCENARIO_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "counting/existing_day_file_notice.h"
#include "faults/fault_truth_file.h"
#include "scenario/scenario.h"
#include "support/directory_lock.h"

namespace tly {

// Every site of a scenario generating live: a simulated clock moves on (as
// fast as the real one, or faster), and each site's passages of the day are
// revealed as their moment comes, each at its own second within its quarter
// hour, so that a day file at the end of its day is the backfill's file (but
// for its "#M" line). Each site saves at most every 2 simulated seconds when
// its counts changed, replacing its day file in one step, and moves on to
// its next local day at its own midnight. A site with fault rates gets its
// faults (site_day_faults.h) in the last save of each day it finishes: the
// day as the site delivers it; what was planted is kept in Truth(). Saves
// during the day and of a day not finished are clean.
//
// A day is always counted from its midnight, as a device counts it: a run
// that starts in the middle of a day counts the day so far at once. An
// existing day file is continued from where its counts stand among the
// day's passages, so that a run stopped and started again (or a second run
// over the same span) gives the same files as one run; a file that holds
// the day finished with its faults is left as it is. A file whose counts are
// no beginning of the day (another seed, an edit) is continued all the same,
// counting from the moment the day begins in the run, and the owner is told.
// A file that exists but cannot be read when its day begins is never
// replaced: each save reads it again first and fails while it cannot; once it
// can, the day is continued from it as if it had been read at once. Each site
// is a LiveSite (live_site.h). Toolkit-free; one thread drives it.
class LiveScenario {
 public:
  // What happened to a site that the owner may want to tell.
  struct DayChange {
    std::string site;
    std::string finished_file;  // the day just saved for the last time
    std::string next_file;
  };
  using DayChangeFn = std::function<void(const DayChange&)>;

  // `scenario` must outlive this object. Nothing is read or written yet.
  LiveScenario(const Scenario& scenario, std::string out_dir, uint32_t seed);
  ~LiveScenario();
  LiveScenario(const LiveScenario&) = delete;
  LiveScenario& operator=(const LiveScenario&) = delete;

  // Begins at the simulated instant `unix_seconds` (UTC): creates and locks
  // every site directory and loads each site's day file of that local date.
  // Throws DirectoryBusy when another writer holds a site directory,
  // std::system_error when one cannot be created or locked, and OtherLayout
  // (site_layout_check.h) when a site's day file describes another layout
  // than the site has (a later day's such file is never replaced: its saves
  // fail).
  void Start(int64_t unix_seconds);

  // Moves the simulated clock on to `unix_seconds`: reveals what happened
  // until then, finishes the days that ended (each saved for the last time,
  // reported to `day_changed`) and saves the sites that are due.
  void AdvanceTo(int64_t unix_seconds, const DayChangeFn& day_changed = {});

  // Saves every site now (the final save). Returns whether all saves worked.
  bool SaveAll();

  // Whether the last save of each site worked, and the first error since
  // the saves last all worked.
  bool SavesOk() const;
  const std::string& LastSaveError() const { return last_error_; }
  // Who is told when a site's existing day file that holds a problem is
  // continued (NoticeExistingDayFile), or one whose counts are no beginning
  // of the day; nobody by default.
  void SetExistingNoticed(ExistingNoticedFn notice) { existing_noticed_ = std::move(notice); }

  // Day files written so far, successful or not.
  uint64_t SaveCount() const { return saves_; }
  // The days of sites with fault rates finished so far, with the faults
  // planted in each, in the order finished.
  const std::vector<DayTruth>& Truth() const { return truth_; }

 private:
  struct Site;

  // Saves `site`, reporting failure in the counters above; `day_over`: the
  // last save of its day, which gets the day's faults.
  void Save(Site& site, int64_t unix_seconds, bool day_over = false);
  // Makes `site` the day that contains `unix_seconds`, continuing its file.
  void BeginDay(Site& site, int64_t unix_seconds);
  // Loads `site`'s day file and continues the day from it as it began in the
  // run: where counting resumes, whether the file is the finished day or of
  // another layout, and what the owner is told. False when the file exists
  // but cannot be read.
  bool ContinueDayFile(Site& site);
  // Where `site`'s passages of the day start being counted, given what its
  // day file holds; the day begins in the run at `unix_seconds`. False when
  // the file holds counts of no beginning of the day: they are kept, and
  // counting starts at `unix_seconds`.
  bool ResumeDay(Site& site, int64_t unix_seconds);
  // Whether `site`'s day file is its day as the day's last save writes it,
  // faults and all (but for the moment of the save).
  bool FinishedBefore(const Site& site) const;
  // Counts what `site` passed until `until` seconds after its midnight that
  // is not counted yet, and gives each quarter hour reached its row.
  void Reveal(Site& site, int64_t until);

  const Scenario& scenario_;
  std::string out_dir_;
  uint32_t seed_;
  std::vector<std::unique_ptr<Site>> sites_;
  int64_t now_ = 0;  // the simulated instant reached
  uint64_t saves_ = 0;
  std::string last_error_;
  ExistingNoticedFn existing_noticed_;
  std::vector<DayTruth> truth_;
};

}  // namespace tly

#endif  // TLY_LIVE_LIVE_SCENARIO_H_
