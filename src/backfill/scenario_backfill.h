#ifndef TLY_BACKFILL_SCENARIO_BACKFILL_H_
#define TLY_BACKFILL_SCENARIO_BACKFILL_H_

#include <cstdint>
#include <functional>
#include <string>

#include "backfill/backfill.h"
#include "scenario/scenario.h"

namespace tly {

// Which share of a scenario's site-days one process writes: the N shares of
// shard K = 1..N are apart and together are the whole.
struct Shard {
  int index = 1;  // K
  int count = 1;  // N
};

// What to generate: every site of `scenario` from `from` to `to` (local
// dates) into OUT/<site name>/.
struct ScenarioBackfillRequest {
  const Scenario* scenario = nullptr;
  std::string out_dir;
  CivilDate from;
  CivilDate to;
  uint32_t seed = 0;  // the scenario's seed unless the command line gives another
  ExistingDayFiles existing = ExistingDayFiles::kRefuse;
  // Threads making site-days, 1..kMaxBackfillJobs, 0: one per core; the
  // memory in use grows with them, not with sites or days.
  int jobs = 1;
  Shard shard;
  // With kContinue: told of each existing day file that holds a problem
  // (its first, FirstProblemOfDayFile of dayfile/day_file_findings.h) before
  // it is continued as the loader reads it; on the calling thread, in order.
  ExistingNoticedFn existing_noticed;
};

// Where a scenario backfill stands.
struct ScenarioProgress {
  uint64_t files_done = 0;     // written or kept (skipped)
  uint64_t files_skipped = 0;  // kept as they were
  uint64_t files_total = 0;    // this shard's site-days
  uint64_t files_missing = 0;  // left out by a missing_day fault
  uint64_t faults = 0;         // faults planted in the site-days done
};

// Called on the calling thread once before the first site-day and after each.
using ScenarioProgressFn = std::function<void(const ScenarioProgress&)>;

// Throws std::invalid_argument, with why in words for the user, when
// `request` cannot run: no site, bad dates, output directory or jobs (as
// CheckBackfillRequest), a shard that is not K/N. Touches no file.
void CheckScenarioBackfillRequest(const ScenarioBackfillRequest& request);

// Whether the site-day of site `site_name` and day number `day` belongs to
// `shard`: decided by a hash of both, so the shares are even and stable.
bool InShard(const Shard& shard, const std::string& site_name, int64_t day);

// Writes the shard's site-days on the one backfill engine (RunBackfillEngine
// of backfill_engine.h): made on `jobs` threads, written on the calling
// thread site by site and day by day. When a site of the scenario has fault
// rates, the faults they draw are planted in its files (site_day_faults.h)
// and the ground truth of the shard's site-days, kept on disk meanwhile
// (fault_truth_spool.h), is written at the end to
// OUT/FaultTruthFileName(K, N) (fault_truth_file.h), those of days kept by
// kSkip included. A day whose file a missing_day fault leaves out is not
// written; kReplace removes its old file, kContinue keeps it. Each site-day
// is generated on its own (site_day.h) and written once, replacing its file
// in one step, so the files are the same on any number of threads, in one
// process or in shards. Holds the writer's lock of every site directory it
// writes into (a shared one when sharded, so that the shards of one run may
// write side by side), creating missing site directories.
// Throws, before writing: std::invalid_argument for bad dates, directories or
// shards (as CheckBackfillRequest) and (unless `existing` is kReplace) an
// entry under a day file's name that is no day file (RefuseWhatIsNoDayFile),
// DayFilesExist when files of the shard exist and `existing` is kRefuse,
// OtherLayout (site_layout_check.h) when `existing` is kContinue and a file
// describes another layout than its site, DirectoryBusy when another writer
// holds a site directory, std::system_error when a site directory cannot be
// made or the truth cannot be kept (FaultTruthSpool). Throws DayNotWritten for the first site-day
// that cannot be written, or whose existing file cannot be read when continuing: every site-day
// before it is written, none after it; no truth file is written then.
void ScenarioBackfill(const ScenarioBackfillRequest& request,
                      const ScenarioProgressFn& progress = {});

// The day files of `site` for `date` as generated from `seed`, on top of
// `day` (already initialised for that date, and holding what an existing file
// held when continuing). `updated_at` is the moment its "#M" line names.
std::string SiteDayFile(const SiteSettings& site, uint32_t seed, TDateTime date, DayCounts& day,
                        TDateTime updated_at);

}  // namespace tly

#endif  // TLY_BACKFILL_SCENARIO_BACKFILL_H_
