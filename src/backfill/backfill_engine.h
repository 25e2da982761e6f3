#ifndef TLY_BACKFILL_BACKFILL_ENGINE_H_
#define TLY_BACKFILL_BACKFILL_ENGINE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "backfill/backfill.h"
#include "faults/fault_record.h"
#include "support/directory_lock.h"

// The one backfill engine behind the program's own site and the sites of a
// scenario: site-days made on threads of their own and written in order.

namespace tly {

// One site-day for a site to make.
struct SiteDayTask {
  TDateTime date;
  int64_t day_index = 0;  // days after the first of the range
  std::string file;       // the day file, with its directory
  ExistingDayFiles existing = ExistingDayFiles::kRefuse;
  bool kept = false;           // kSkip found the file: it stays as it is
  bool notice_wanted = false;  // kContinue, and somebody is told of unsound files
};

// What a site made of one site-day.
struct SiteDayMade {
  std::string image;    // the day file's bytes, when `written`
  bool written = true;  // false: the day is left without a file (a missing_day fault)
  // kContinue found the file not sound: its first problem, told in order.
  std::optional<std::string> problem;
  std::vector<FaultRecord> faults;  // planted in the day (kept days included)
};

// A site whose days the engine writes: the program's own or one of a
// scenario.
class BackfillSite {
 public:
  virtual ~BackfillSite() = default;
  // Makes the day of `task` into `made` (fresh). For a kept day only its
  // faults are wanted. Throws std::system_error when the day's existing file
  // cannot be read (it is then left as it is). Called on several threads at
  // once, for different days.
  virtual void MakeDay(const SiteDayTask& task, SiteDayMade& made) const = 0;
  // With kContinue, before anything is written: throws std::invalid_argument
  // when the existing day file `file` cannot be continued as this site's.
  virtual void CheckContinued(const std::string& file) const { (void)file; }
};

// A site and the directory its day files go into.
struct SiteToWrite {
  const BackfillSite* site = nullptr;
  std::string dir;
};

// What the engine runs.
struct EngineRequest {
  std::vector<SiteToWrite> sites;
  TDateTime first;  // the range's first and last day
  TDateTime last;
  ExistingDayFiles existing = ExistingDayFiles::kRefuse;
  ExistingNoticedFn existing_noticed;  // with kContinue; called in order
  int jobs = 0;                        // threads making days; 0: one per core
  bool create_directories = false;     // site directories that are missing are made
  DirectoryLock::Mode lock_mode = DirectoryLock::Mode::kExclusive;
  const char* holder = "tly-generator backfill";  // named in each lock file
  // Whether site `site`'s day `date` is this run's; empty: every one is.
  std::function<bool(size_t site, TDateTime date)> mine;
  // Told the faults planted in each site-day done (kept days included), with
  // its site, in order on the calling thread; may keep them. Empty: nobody.
  std::function<void(size_t site, std::vector<FaultRecord>& faults)> faults_done;
};

// Where the engine stands.
struct EngineProgress {
  uint64_t done = 0;     // site-days written, kept or left out
  uint64_t kept = 0;     // of which kept as they were (kSkip)
  uint64_t missing = 0;  // of which left out by a missing_day fault
  uint64_t total = 0;    // the run's site-days
  uint64_t faults = 0;   // planted in the site-days done
};

using EngineProgressFn = std::function<void(const EngineProgress&)>;

// The threads a backfill makes days on for `jobs`: `jobs`, or one per core
// this process may run on when it is 0.
int BackfillThreads(int jobs);

// Runs the backfill of `request`, whose dates and directories have been
// checked: creates (when asked) and locks every site directory; looks for
// the run's day files that exist and refuses, before writing, an entry that
// is no day file (unless kReplace; RefuseWhatIsNoDayFile), existing files
// under kRefuse (DayFilesExist) and files a site cannot continue under
// kContinue; with kSkip removes the run's leftover temporary files. Then the
// site-days, site by site and day by day, are made on BackfillThreads(jobs)
// threads of low priority (OrderedPipeline) and written on the calling
// thread in that order, each replacing its file in one step; a day a
// missing_day fault leaves out has its old file removed under kReplace.
// `progress` is called on the calling thread once before the first site-day
// and after each one, then `faults_done`.
// Throws DayNotWritten for the first site-day that cannot be written or
// whose existing file cannot be read: every site-day before it is written,
// none after it. Throws DirectoryBusy when another writer holds a directory,
// std::system_error when a site directory cannot be made or opened or no
// thread can be started; what `progress` or `faults_done` throws is thrown on.
void RunBackfillEngine(const EngineRequest& request, const EngineProgressFn& progress);

}  // namespace tly

#endif  // TLY_BACKFILL_BACKFILL_ENGINE_H_
