#include "backfill/scenario_backfill.h"

#include <cerrno>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "backfill/backfill_engine.h"
#include "backfill/fault_truth_spool.h"
#include "counting/day_file_loader.h"
#include "counting/existing_day_file_notice.h"
#include "faults/fault_truth_file.h"
#include "flat/random_source.h"
#include "scenario/site_day.h"
#include "scenario/site_day_faults.h"
#include "scenario/site_layout_check.h"
#include "scenario/stream_random.h"
#include "support/file_read.h"

namespace tly {
namespace {

// The last moment of a day a save names in its "#M" line: the last tick.
const TDateTime kLastTickOfDay = EncodeTime(23, 59, 58, 0);

}  // namespace

void CheckScenarioBackfillRequest(const ScenarioBackfillRequest& request) {
  if (request.scenario == nullptr || request.scenario->sites.empty()) {
    throw std::invalid_argument("the scenario has no site");
  }
  BackfillRequest common;
  common.out_dir = request.out_dir;
  common.from = request.from;
  common.to = request.to;
  common.jobs = request.jobs;
  CheckBackfillRequest(common);
  if (request.shard.count < 1 || request.shard.index < 1 ||
      request.shard.index > request.shard.count) {
    throw std::invalid_argument("shard " + std::to_string(request.shard.index) + "/" +
                                std::to_string(request.shard.count) +
                                " is not K/N with 1 <= K <= N");
  }
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

namespace {

// A site of a scenario: its traffic from counter-based streams, its faults
// planted when it has fault rates.
class ScenarioSite final : public BackfillSite {
 public:
  ScenarioSite(const SiteSettings& site, uint32_t seed) : site_(site), seed_(seed) {}

  void MakeDay(const SiteDayTask& task, SiteDayMade& made) const override;
  void CheckContinued(const std::string& file) const override { RefuseOtherLayout(site_, file); }

 private:
  // The day's counts to add to: what its file holds when continuing.
  std::unique_ptr<DayCounts> StartingCounts(const SiteDayTask& task, SiteDayMade& made) const;

  const SiteSettings& site_;
  uint32_t seed_;
};

std::unique_ptr<DayCounts> ScenarioSite::StartingCounts(const SiteDayTask& task,
                                                        SiteDayMade& made) const {
  auto day = std::make_unique<DayCounts>();
  if (task.existing != ExistingDayFiles::kContinue || task.kept) {
    InitDayCountsFor(*day, task.date);
    return day;
  }
  if (!LoadDayFile(task.file, *day)) {
    throw std::system_error(EIO, std::generic_category(),
                            "cannot read the existing day file " + task.file);
  }
  if (task.notice_wanted) {
    NoticeExistingDayFile(task.file, [&made](const std::string&, const std::string& problem) {
      made.problem = problem;
    });
  }
  return day;
}

void ScenarioSite::MakeDay(const SiteDayTask& task, SiteDayMade& made) const {
  // A kept day without fault rates has nothing left to make; one with them
  // still belongs to the truth of the run.
  if (task.kept && !site_.faults.Any()) return;
  const std::unique_ptr<DayCounts> day = StartingCounts(task, made);
  const TDateTime updated_at = task.date + kLastTickOfDay;
  if (!site_.faults.Any()) {
    made.image = SiteDayFile(site_, seed_, task.date, *day, updated_at);
    return;
  }
  AddSiteDayTraffic(site_, seed_, task.date, *day);
  FaultedSiteDay faulted = PlantSiteDayFaults(site_, seed_, task.date, *day, updated_at);
  made.written = faulted.written;
  made.image = std::move(faulted.image);
  made.faults = std::move(faulted.records);
}

}  // namespace

void ScenarioBackfill(const ScenarioBackfillRequest& request, const ScenarioProgressFn& progress) {
  CheckScenarioBackfillRequest(request);
  const Scenario& scenario = *request.scenario;
  std::vector<ScenarioSite> sites;
  sites.reserve(scenario.sites.size());
  EngineRequest run;
  for (const SiteSettings& site : scenario.sites) {
    sites.emplace_back(site, request.seed);
    run.sites.push_back({&sites.back(), SiteDirectory(request.out_dir, site)});
  }
  run.first = EncodeDate(request.from.Year, request.from.Month, request.from.Day);
  run.last = EncodeDate(request.to.Year, request.to.Month, request.to.Day);
  run.existing = request.existing;
  run.existing_noticed = request.existing_noticed;
  run.jobs = request.jobs;
  run.create_directories = true;
  // Shards of one run may write side by side.
  run.lock_mode = request.shard.count > 1 ? DirectoryLock::Mode::kSharedWithShards
                                          : DirectoryLock::Mode::kExclusive;
  run.holder = "tly-generator backfill --scenario";
  run.mine = [&](size_t site, TDateTime date) {
    return InShard(request.shard, scenario.sites[site].name, static_cast<int64_t>(date));
  };
  // The truth waits on disk, one site's lines read back at a time.
  std::optional<FaultTruthSpool> truth;
  if (scenario.HasFaults()) {
    truth.emplace(request.out_dir, scenario.sites.size());
    run.faults_done = [&truth](size_t site, std::vector<FaultRecord>& faults) {
      truth->Add(site, faults);
    };
  }
  RunBackfillEngine(run, [&progress](const EngineProgress& engine) {
    if (progress) progress({engine.done, engine.kept, engine.total, engine.missing, engine.faults});
  });
  if (truth) {
    const std::string dir =
        request.out_dir + (request.out_dir.empty() || request.out_dir.back() != '/' ? "/" : "");
    truth->WriteTruth(dir + FaultTruthFileName(request.shard.index, request.shard.count));
  }
}

}  // namespace tly
