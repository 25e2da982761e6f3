#include "backfill/scenario_backfill.h"

#include <sys/resource.h>
#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "counting/day_file_loader.h"
#include "counting/existing_day_file_notice.h"
#include "dayfile/day_file_name.h"
#include "faults/fault_truth_file.h"
#include "flat/random_source.h"
#include "scenario/site_day.h"
#include "scenario/site_day_faults.h"
#include "scenario/site_layout_check.h"
#include "scenario/stream_random.h"
#include "support/directory_lock.h"
#include "support/file_read.h"
#include "support/output_directory.h"
#include "support/safe_file.h"
#include "support/system_error.h"

namespace tly {
namespace {

// The last moment of a day a save names in its "#M" line: the last tick.
const TDateTime kLastTickOfDay = EncodeTime(23, 59, 58, 0);

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

// Every site-day of the request, numbered site by site, day by day; the
// number is all a worker needs to find its site and date.
class SiteDays {
 public:
  explicit SiteDays(const ScenarioBackfillRequest& request)
      : request_(request),
        first_(EncodeDate(request.from.Year, request.from.Month, request.from.Day)),
        days_(static_cast<size_t>(EncodeDate(request.to.Year, request.to.Month, request.to.Day) -
                                  first_) +
              1) {}

  size_t size() const { return request_.scenario->sites.size() * days_; }
  const SiteSettings& site(size_t item) const { return request_.scenario->sites[item / days_]; }
  TDateTime date(size_t item) const { return first_ + static_cast<double>(item % days_); }
  bool Mine(size_t item) const {
    return InShard(request_.shard, site(item).name, static_cast<int64_t>(date(item)));
  }
  std::string FileOf(size_t item) const {
    return DayFileNameFor(SiteDirectory(request_.out_dir, site(item)), date(item));
  }

 private:
  const ScenarioBackfillRequest& request_;
  TDateTime first_;
  size_t days_;
};

}  // namespace

void CheckScenarioBackfillRequest(const ScenarioBackfillRequest& request) {
  if (request.scenario == nullptr || request.scenario->sites.empty()) {
    throw std::invalid_argument("the scenario has no site");
  }
  BackfillRequest dates;
  dates.out_dir = request.out_dir;
  dates.from = request.from;
  dates.to = request.to;
  CheckBackfillRequest(dates);
  if (request.shard.count < 1 || request.shard.index < 1 ||
      request.shard.index > request.shard.count) {
    throw std::invalid_argument("shard " + std::to_string(request.shard.index) + "/" +
                                std::to_string(request.shard.count) +
                                " is not K/N with 1 <= K <= N");
  }
  if (request.jobs < 1) throw std::invalid_argument("jobs must be 1 or more");
}

namespace {

// Refuses to continue the day file `file` of `site` when it describes
// another layout. A file that cannot be read is left to the loader, which
// reports it.
void RefuseOtherLayout(const SiteSettings& site, const std::string& file) {
  std::optional<std::string> text;
  try {
    text = ReadWholeFile(file);
  } catch (const std::system_error&) {
    return;
  }
  if (!text) return;
  if (const std::optional<std::string> difference = LayoutDifference(site, *text)) {
    throw OtherLayout(file, site, *difference, "give --existing replace to write its days anew");
  }
}

}  // namespace

bool InShard(const Shard& shard, const std::string& site_name, int64_t day) {
  if (shard.count <= 1) return true;
  const uint64_t hash = StreamRandom(StreamKey{0, HashOfName(site_name), day, 0, 0}).Next();
  return static_cast<int>(hash % static_cast<uint64_t>(shard.count)) == shard.index - 1;
}

namespace {

// Adds the traffic of `site` on `date` from `seed` to `day`.
void AddSiteDayTraffic(const SiteSettings& site, uint32_t seed, TDateTime date, DayCounts& day) {
  if (site.profile == TrafficProfile::kFlat) {
    // The program's own ticks, summed a day at a time as its backfill does.
    RandomSource random(FlatDayState(site, seed, date));
    AddDayTicks(day, random);
  } else {
    AddVisitorsTo(day, site, seed, ClockOfSiteDay(site, date));
  }
}

}  // namespace

std::string SiteDayFile(const SiteSettings& site, uint32_t seed, TDateTime date, DayCounts& day,
                        TDateTime updated_at) {
  AddSiteDayTraffic(site, seed, date, day);
  return SiteDayImage(site, day, updated_at);
}

void ScenarioBackfill(const ScenarioBackfillRequest& request, const ScenarioProgressFn& progress) {
  CheckScenarioBackfillRequest(request);
  const Scenario& scenario = *request.scenario;
  const SiteDays items(request);

  // Every site directory, created when missing and locked for the run.
  AllowOpenFiles(scenario.sites.size());
  std::vector<std::unique_ptr<DirectoryLock>> locks;
  const DirectoryLock::Mode mode = request.shard.count > 1 ? DirectoryLock::Mode::kSharedWithShards
                                                           : DirectoryLock::Mode::kExclusive;
  for (const SiteSettings& site : scenario.sites) {
    const std::string dir = SiteDirectory(request.out_dir, site);
    std::error_code error;
    MakeDirectory(dir, error);
    if (error) ThrowSystemError(error.value(), "cannot create the site directory " + dir);
    locks.push_back(
        std::make_unique<DirectoryLock>(dir, "tly-generator backfill --scenario", mode));
  }

  ScenarioProgress done;
  std::vector<size_t> existing;  // the items whose day file exists
  std::vector<std::string> existing_files;
  for (size_t item = 0; item < items.size(); ++item) {
    if (!items.Mine(item)) continue;
    ++done.files_total;
    if (request.existing == ExistingDayFiles::kReplace) continue;
    std::string file = items.FileOf(item);
    std::error_code error;
    if (std::filesystem::symlink_status(file, error).type() !=
        std::filesystem::file_type::not_found) {
      existing.push_back(item);
      existing_files.push_back(std::move(file));
    }
  }
  RefuseWhatIsNoDayFile(existing_files);
  if (request.existing == ExistingDayFiles::kRefuse && !existing_files.empty()) {
    throw DayFilesExist(existing_files);
  }
  if (request.existing == ExistingDayFiles::kContinue) {
    for (size_t i = 0; i < existing.size(); ++i)
      RefuseOtherLayout(items.site(existing[i]), existing_files[i]);
  }
  if (request.existing == ExistingDayFiles::kSkip) {
    // What an interrupted run was writing when it stopped; its day has no
    // file yet and is written below.
    for (size_t item = 0; item < items.size(); ++item) {
      if (items.Mine(item)) RemoveQuietly(TempFileNameFor(items.FileOf(item)));
    }
  }
  if (progress) progress(done);

  std::mutex progress_mutex;
  std::vector<FaultRecord> truth;
  const auto one_done = [&](bool skipped, bool missing, std::vector<FaultRecord>&& records) {
    const std::lock_guard<std::mutex> lock(progress_mutex);
    ++done.files_done;
    if (skipped) ++done.files_skipped;
    if (missing) ++done.files_missing;
    done.faults += records.size();
    for (FaultRecord& record : records) truth.push_back(std::move(record));
    if (progress) progress(done);
  };
  const auto make_one = [&](size_t item) {
    const SiteSettings& site = items.site(item);
    const TDateTime date = items.date(item);
    const std::string file = items.FileOf(item);
    const TDateTime updated_at = date + kLastTickOfDay;
    std::error_code error;
    auto day = std::make_unique<DayCounts>();
    if (request.existing == ExistingDayFiles::kSkip && std::filesystem::exists(file, error)) {
      // Kept as it is; its faults still belong to the truth of the run.
      FaultedSiteDay faulted;
      if (site.faults.Any()) {
        InitDayCountsFor(*day, date);
        AddSiteDayTraffic(site, request.seed, date, *day);
        faulted = PlantSiteDayFaults(site, request.seed, date, *day, updated_at);
      }
      one_done(true, !faulted.written, std::move(faulted.records));
      return;
    }
    if (request.existing == ExistingDayFiles::kContinue) {
      if (!LoadDayFile(file, *day)) {
        throw std::system_error(EIO, std::generic_category(),
                                "cannot read the existing day file " + file);
      }
      if (request.existing_noticed)
        NoticeExistingDayFile(file, [&](const std::string& name, const std::string& problem) {
          const std::lock_guard<std::mutex> lock(progress_mutex);
          if (request.existing_noticed) request.existing_noticed(name, problem);
        });
    } else {
      InitDayCountsFor(*day, date);
    }
    if (!site.faults.Any()) {
      ReplaceFileWith(file, SiteDayFile(site, request.seed, date, *day, updated_at));
      one_done(false, false, {});
      return;
    }
    AddSiteDayTraffic(site, request.seed, date, *day);
    FaultedSiteDay faulted = PlantSiteDayFaults(site, request.seed, date, *day, updated_at);
    if (faulted.written) {
      ReplaceFileWith(file, faulted.image);
    } else if (request.existing == ExistingDayFiles::kReplace) {
      RemoveFile(file);
    }
    one_done(false, !faulted.written, std::move(faulted.records));
  };

  // As many threads as asked for, also beyond the cores: TBB's own limit
  // (the cores) would give fewer, with a warning on stderr.
  const tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                    static_cast<size_t>(request.jobs));
  tbb::task_arena arena(request.jobs);
  arena.execute([&] {
    tbb::parallel_for(tbb::blocked_range<size_t>(0, items.size()),
                      [&](const tbb::blocked_range<size_t>& range) {
                        for (size_t item = range.begin(); item != range.end(); ++item) {
                          if (items.Mine(item)) make_one(item);
                        }
                      });
  });
  if (scenario.HasFaults()) {
    const std::string dir =
        request.out_dir + (request.out_dir.empty() || request.out_dir.back() != '/' ? "/" : "");
    WriteFaultTruth(dir + FaultTruthFileName(request.shard.index, request.shard.count), truth);
  }
}

}  // namespace tly
