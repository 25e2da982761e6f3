#ifndef TLY_BACKFILL_BACKFILL_H_
#define TLY_BACKFILL_BACKFILL_H_

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "counting/day_counts.h"
#include "counting/existing_day_file_notice.h"
#include "flat/random_source.h"
#include "support/date_time.h"

namespace tly {

// Ticks of one day: one every even second from 00:00:00 to 23:59:58.
inline constexpr int kTicksPerDay = 43200;

// The most threads a backfill generates days on.
inline constexpr int kMaxBackfillJobs = 256;

// What a backfill does with a day file of its range that exists already.
enum class ExistingDayFiles {
  kRefuse,    // nothing is written while any exists (the default)
  kContinue,  // load it and add the day's ticks to it, as the generator would
  kReplace,   // write the day as if there were none
  kSkip,      // keep it as it is (resuming an interrupted backfill)
};

// What to simulate: the generator running without a pause from `from`
// 00:00:00 to `to` 23:59:58, writing into `out_dir`, its random source
// starting at `seed`.
struct BackfillRequest {
  std::string out_dir;
  CivilDate from;
  CivilDate to;
  uint32_t seed = 0;
  ExistingDayFiles existing = ExistingDayFiles::kRefuse;
  // With kContinue: told of each existing day file that holds a problem (its
  // first, FirstProblemOfDayFile of dayfile/day_file_findings.h) before it is
  // continued as the loader reads it.
  ExistingNoticedFn existing_noticed;
  int jobs = 0;  // threads generating days, 1..kMaxBackfillJobs; 0: one per core
};

// Where a backfill stands, reported after each finished day.
struct BackfillProgress {
  int days_done = 0;     // days written or skipped
  int days_skipped = 0;  // of which kept as they were (ExistingDayFiles::kSkip)
  int days_total = 0;
  uint64_t ticks_done = 0;
};

// Thrown (before anything is written) when day files of the range exist and
// the request says kRefuse. The message names the first and how many.
class DayFilesExist : public std::invalid_argument {
 public:
  // The error for `existing` (not empty), the files in the order found.
  explicit DayFilesExist(const std::vector<std::string>& existing);
};

// Thrown when a day of the range cannot be written, or its existing file
// cannot be read (which leaves that file as it is). what() is the cause's
// message, code() its error code, day() the day. Every day before it has its
// file, no day after it was written.
class DayNotWritten : public std::system_error {
 public:
  DayNotWritten(const std::system_error& cause, TDateTime day);
  const char* what() const noexcept override { return message_.c_str(); }
  TDateTime day() const { return day_; }

 private:
  std::string message_;
  TDateTime day_;
};

using BackfillProgressFn = std::function<void(const BackfillProgress&)>;

// Throws std::invalid_argument "<which> date YYYY-MM-DD does not exist" or
// "... is outside the years 1991 to 2090 that a yymmdd file name can tell
// apart" (kFirstNamedYear..kLastNamedYear of dayfile/day_file_name.h) when
// `date` cannot be a day of a backfill.
void CheckBackfillDate(const CivilDate& date, const char* which);

// Throws std::invalid_argument naming the first of `entries` (what exists
// under day file names) that is neither a regular file, a link to one nor a
// dangling link: a directory, a named pipe or a device under such a name can
// be neither continued nor kept as a day.
void RefuseWhatIsNoDayFile(const std::vector<std::string>& entries);

// Throws std::invalid_argument, with why in words for the user, when
// `request` cannot run: a date that does not exist or lies outside the years
// a day file's name tells apart (kFirstNamedYear..kLastNamedYear of
// dayfile/day_file_name.h: a day outside them would continue the file of
// another century), `to` before `from`, an output directory that is missing,
// not a directory or not writable, `jobs` outside 0..kMaxBackfillJobs.
// Touches no file.
void CheckBackfillRequest(const BackfillRequest& request);

// Adds the generator's ticks of one whole day to `day`, drawing from `random`
// exactly as the generation cycle does (ten draws per tick, in the cycle's
// order), and leaves `random` where the cycle would be after the day's last
// tick. A tick whose ten counts are all 0 adds nothing and does not mark its
// slot used. Counters wrap as 32-bit two's-complement integers. No file I/O.
void AddDayTicks(DayCounts& day, RandomSource& random);

// Runs the backfill, holding the writer's lock of `out_dir` throughout: for
// each day from `from` to `to`, applies the default layout to a fresh
// configuration, handles an existing day file as `existing` says, adds the
// day's ticks and writes the file once, exactly as the generator's save at
// the day's last tick (23:59:58) writes it. The days are generated on `jobs`
// threads of their own, several at once and at the lowest priority (at
// normal priority when other work on the machine starves them), and written
// by the calling thread in day order while the next ones are generated; each
// day's draws are those one random source running through all days from
// `seed` gives it (a skipped day skips its draws), so the files are the same
// for any number of threads and whichever days were skipped. At most
// 32 * `jobs` days are in flight at a time, whatever the length of the range.
// With kSkip, leftover temporary files of the range (from an interrupted run)
// are removed first. `progress`, when set, is called on the calling thread
// after each day, in day order. Each day's file replaces the old one in one
// step (OutputDirectory::ReplaceFileWith of support/output_directory.h).
// Throws, before any file is touched: std::invalid_argument when
// CheckBackfillRequest finds a fault or (unless `existing` is kReplace) an
// entry of the range is no day file (RefuseWhatIsNoDayFile), DayFilesExist
// when files exist and `existing` is kRefuse, DirectoryBusy (support/directory_lock.h) when another
// process writes into `out_dir`. Throws DayNotWritten for the first day that
// cannot be written, or exists but cannot be read; the days before it keep
// their files, no day after it is written. Throws std::system_error when a
// thread cannot be started.
void Backfill(const BackfillRequest& request, const BackfillProgressFn& progress = {});

}  // namespace tly

#endif  // TLY_BACKFILL_BACKFILL_H_
