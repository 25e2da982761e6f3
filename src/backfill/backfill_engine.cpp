#include "backfill/backfill_engine.h"

#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "backfill/ordered_pipeline.h"
#include "dayfile/day_file_name.h"
#include "support/output_directory.h"
#include "support/safe_file.h"
#include "support/system_error.h"

namespace tly {
namespace {

// Site-days in flight per thread making them: a thread that sleeps can take
// a millisecond to wake, several times as long as making a day; the days
// ahead of the writer cover that.
constexpr size_t kDaysInFlightPerThread = 32;

// A lock is one open file per site directory: a scenario of many sites needs
// more open files than the usual soft limit of 1024 allows.
void AllowOpenFiles(size_t needed) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t wanted = static_cast<rlim_t>(needed) + 256;
  if (limit.rlim_cur >= wanted) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

// Every site directory of `request`, made when asked and missing, and locked.
std::vector<std::unique_ptr<DirectoryLock>> LockSites(const EngineRequest& request) {
  AllowOpenFiles(request.sites.size());
  std::vector<std::unique_ptr<DirectoryLock>> locks;
  for (const SiteToWrite& site : request.sites) {
    if (request.create_directories) {
      std::error_code error;
      MakeDirectory(site.dir, error);
      if (error) ThrowSystemError(error.value(), "cannot create the site directory " + site.dir);
    }
    locks.push_back(std::make_unique<DirectoryLock>(site.dir, request.holder, request.lock_mode));
  }
  return locks;
}

// Which days from `first` to `last` have an entry under their day file's
// name in `dir`, by day. Read from one listing of the directory, which costs
// a long range far less than a look-up per day; a directory may be writable
// and searchable without being readable, and is then looked up day by day.
std::vector<char> EntriesOfRange(const std::string& dir, TDateTime first, TDateTime last) {
  std::vector<char> found(static_cast<size_t>(last - first) + 1, 0);
  std::error_code error;
  for (std::filesystem::directory_iterator entry(dir, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    const TDateTime date = DateFromFileName(name);
    if (date >= first && date <= last && name == DayFileBaseName(date)) {
      found[static_cast<size_t>(date - first)] = 1;
    }
  }
  if (!error) return found;
  for (TDateTime date = first; date <= last; date += 1) {
    const auto type = std::filesystem::symlink_status(DayFileNameFor(dir, date), error).type();
    found[static_cast<size_t>(date - first)] = type != std::filesystem::file_type::not_found;
  }
  return found;
}

// The run's site-days, site by site and day by day, and which of them hold
// a file.
class RunDays {
 public:
  explicit RunDays(const EngineRequest& request)
      : request_(request), days_(static_cast<int64_t>(request.last - request.first) + 1) {
    for (size_t site = 0; site < request.sites.size(); ++site) {
      for (int64_t day = 0; day < days_; ++day) {
        if (!request.mine || request.mine(site, Date(day))) {
          items_.push_back(static_cast<int64_t>(site) * days_ + day);
        }
      }
    }
    kept_.assign(items_.size(), 0);
  }

  int64_t size() const { return static_cast<int64_t>(items_.size()); }
  size_t SiteOf(int64_t index) const { return static_cast<size_t>(Item(index) / days_); }
  int64_t DayOf(int64_t index) const { return Item(index) % days_; }
  TDateTime Date(int64_t day) const { return request_.first + static_cast<double>(day); }
  std::string FileOf(int64_t index) const {
    return DayFileNameFor(request_.sites[SiteOf(index)].dir, Date(DayOf(index)));
  }
  bool Kept(int64_t index) const { return kept_[static_cast<size_t>(index)] != 0; }

  // Looks at what stands under the run's day file names and refuses, before
  // anything is written, what the request cannot go on with.
  void Scan();

 private:
  int64_t Item(int64_t index) const { return items_[static_cast<size_t>(index)]; }

  const EngineRequest& request_;
  const int64_t days_;
  std::vector<int64_t> items_;  // site * days + day
  std::vector<char> kept_;      // by index: kSkip keeps its file
};

void RunDays::Scan() {
  const ExistingDayFiles existing = request_.existing;
  if (existing == ExistingDayFiles::kReplace) return;
  std::vector<std::vector<char>> entries;
  for (const SiteToWrite& site : request_.sites) {
    entries.push_back(EntriesOfRange(site.dir, request_.first, request_.last));
  }
  std::vector<int64_t> found;
  std::vector<std::string> names;
  for (int64_t index = 0; index < size(); ++index) {
    if (!entries[SiteOf(index)][static_cast<size_t>(DayOf(index))]) continue;
    found.push_back(index);
    names.push_back(FileOf(index));
  }
  RefuseWhatIsNoDayFile(names);
  if (existing == ExistingDayFiles::kRefuse && !names.empty()) throw DayFilesExist(names);
  for (size_t i = 0; i < found.size(); ++i) {
    if (existing == ExistingDayFiles::kContinue) {
      request_.sites[SiteOf(found[i])].site->CheckContinued(names[i]);
    }
    // A dangling link holds no day: it is written like a missing file.
    std::error_code error;
    kept_[static_cast<size_t>(found[i])] =
        existing == ExistingDayFiles::kSkip && std::filesystem::exists(names[i], error);
  }
  if (existing != ExistingDayFiles::kSkip) return;
  // What an interrupted run was writing when it stopped; its day has no file
  // yet and is written again.
  for (int64_t index = 0; index < size(); ++index) RemoveQuietly(TempFileNameFor(FileOf(index)));
}

// Writes the site-days in order, one directory open at a time: the files go
// into the directory that is locked, by name, and no path is looked up again
// for each of them.
class DayWriter {
 public:
  DayWriter(const EngineRequest& request, const RunDays& days) : request_(request), days_(days) {}

  // Puts site-day `index` in place as `day` says: throws DayNotWritten when
  // it cannot.
  void Write(int64_t index, const SiteDayMade& made);

 private:
  // Replaces, or under kReplace removes, the day's file.
  void PutFile(int64_t index, const SiteDayMade& made);

  const EngineRequest& request_;
  const RunDays& days_;
  std::optional<OpenDirectory> open_;
  size_t open_site_ = 0;
};

void DayWriter::PutFile(int64_t index, const SiteDayMade& made) {
  const size_t site = days_.SiteOf(index);
  if (!open_ || open_site_ != site) {
    open_.reset();
    open_.emplace(request_.sites[site].dir);
    open_site_ = site;
  }
  const std::string name = DayFileBaseName(days_.Date(days_.DayOf(index)));
  if (made.written) {
    // One replacement per day; unlike the live generator's save there is no
    // retry: the backfill stops at the first day it cannot write and leaves
    // no temporary file behind.
    open_->ReplaceFileWith(name, made.image);
  } else if (request_.existing == ExistingDayFiles::kReplace) {
    open_->RemoveFile(name);
  }
}

void DayWriter::Write(int64_t index, const SiteDayMade& made) {
  if (made.problem) request_.existing_noticed(days_.FileOf(index), *made.problem);
  if (days_.Kept(index)) return;
  try {
    PutFile(index, made);
  } catch (const std::system_error& failure) {
    throw DayNotWritten(failure, days_.Date(days_.DayOf(index)), days_.FileOf(index));
  }
}

}  // namespace

int BackfillThreads(int jobs) {
  if (jobs > 0) return std::min(jobs, kMaxBackfillJobs);
  cpu_set_t allowed;
  int cores = 0;
  if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) cores = CPU_COUNT(&allowed);
  if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(cores, 1, kMaxBackfillJobs);
}

void RunBackfillEngine(const EngineRequest& request, const EngineProgressFn& progress) {
  const auto locks = LockSites(request);
  RunDays days(request);
  days.Scan();

  EngineProgress done;
  done.total = static_cast<uint64_t>(days.size());
  if (progress) progress(done);
  const bool notice_wanted = request.existing == ExistingDayFiles::kContinue &&
                             static_cast<bool>(request.existing_noticed);
  const auto make = [&](int64_t index, SiteDayMade& made) {
    made = SiteDayMade{};
    const SiteDayTask task{days.Date(days.DayOf(index)),
                           days.DayOf(index),
                           days.FileOf(index),
                           request.existing,
                           days.Kept(index),
                           notice_wanted};
    try {
      request.sites[days.SiteOf(index)].site->MakeDay(task, made);
    } catch (const std::system_error& failure) {
      // Thrown on when the writer reaches this day; no later day is begun.
      throw DayNotWritten(failure, task.date, task.file);
    }
  };
  DayWriter writer(request, days);
  const auto write = [&](int64_t index, SiteDayMade& made) {
    writer.Write(index, made);
    ++done.done;
    if (days.Kept(index)) ++done.kept;
    if (!made.written) ++done.missing;
    done.faults += made.faults.size();
    if (progress) progress(done);
    if (request.faults_done) request.faults_done(days.SiteOf(index), made.faults);
  };
  PipelineOptions options;
  options.jobs = BackfillThreads(request.jobs);
  options.window = std::min(kDaysInFlightPerThread * static_cast<size_t>(options.jobs),
                            static_cast<size_t>(std::max<int64_t>(days.size(), 1)));
  options.background = true;
  RunOrdered<SiteDayMade>(days.size(), options, make, write);
}

}  // namespace tly
