#include "backfill/backfill.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "backfill/backfill_engine.h"

#include "config/tly_config.h"
#include "dayfile/day_file_name.h"
#include "flat/day_file_image.h"
#include "flat/default_layout.h"
#include "flat/tick_sums.h"

namespace tly {
namespace {

static_assert(kTickSlots == kSlotsPerDay && kFlatChannels <= kMaxChannels);

std::string FormatIsoDate(const CivilDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.Year, date.Month, date.Day);
  return text;
}

}  // namespace

void CheckBackfillDate(const CivilDate& date, const char* which) {
  if (!IsValidDate(date.Year, date.Month, date.Day)) {
    throw std::invalid_argument(std::string(which) + " date " + FormatIsoDate(date) +
                                " does not exist");
  }
  if (date.Year < kFirstNamedYear || date.Year > kLastNamedYear) {
    throw std::invalid_argument(std::string(which) + " date " + FormatIsoDate(date) +
                                " is outside the years " + std::to_string(kFirstNamedYear) +
                                " to " + std::to_string(kLastNamedYear) +
                                " that a yymmdd file name can tell apart");
  }
}

namespace {

std::string DescribeExisting(const std::vector<std::string>& existing) {
  std::string text = existing.front() + " exists already";
  if (existing.size() > 1) {
    const size_t more = existing.size() - 1;
    text = existing.front() + " and " + std::to_string(more) +
           (more == 1 ? " more day file" : " more day files") + " of the range exist already";
  }
  return text + "; say what to do with them: continue (add to them), replace or skip";
}

// The draws of one day: kTicksPerDay ticks of kFlatDrawsPerTick draws.
constexpr uint64_t kDrawsPerDay = uint64_t{kTicksPerDay} * kFlatDrawsPerTick;

// The program's own site: the generator's ticks from one random source
// running through all days of the range from `seed`.
class FlatSite final : public BackfillSite {
 public:
  explicit FlatSite(uint32_t seed) : seed_(seed) {}

  // The day's file as the generator's save at its last tick writes it.
  void MakeDay(const SiteDayTask& task, SiteDayMade& made) const override;

 private:
  uint32_t seed_;
};

void FlatSite::MakeDay(const SiteDayTask& task, SiteDayMade& made) const {
  if (task.kept) return;
  // A day's counts are a fixed-size record of some 25 KB: on the heap rather
  // than on a generating thread's stack.
  const auto counts = std::make_unique<DayCounts>();
  TTlyConfig config;
  if (task.existing == ExistingDayFiles::kReplace || task.existing == ExistingDayFiles::kRefuse) {
    // kRefuse found no file of the range, and the lock keeps other writers
    // out: looking again would only hold up the day.
    ApplyDefaultLayout(config);
    InitDayCountsFor(*counts, task.date);
  } else if (!ReloadDayFile(task.file, *counts, config)) {
    // As the cycle's reload: default layout, then the day's file continued.
    // Writing the day now would replace the file's rows with this run's
    // counts alone.
    throw std::system_error(EIO, std::generic_category(),
                            "cannot read the existing day file " + task.file);
  } else if (task.notice_wanted) {
    NoticeExistingDayFile(task.file, [&made](const std::string&, const std::string& problem) {
      made.problem = problem;
    });
  }
  // Every day draws a fixed number of times, whatever it holds, so its draws
  // start where the source from `seed` stands after the days before it.
  RandomSource random(seed_);
  random.Skip(static_cast<uint64_t>(task.day_index) * kDrawsPerDay);
  AddDayTicks(*counts, random);
  made.image = BuildDayFileImage(*counts, config, task.date + EncodeTime(23, 59, 58, 0));
}

}  // namespace

DayFilesExist::DayFilesExist(const std::vector<std::string>& existing)
    : std::invalid_argument(DescribeExisting(existing)) {}

DayNotWritten::DayNotWritten(const std::system_error& cause, TDateTime day, std::string file)
    : std::system_error(cause.code()), message_(cause.what()), day_(day), file_(std::move(file)) {}

void RefuseWhatIsNoDayFile(const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) {
    std::error_code error;
    const std::filesystem::file_type type = std::filesystem::status(entry, error).type();
    // A dangling link holds no day either: it is replaced like a missing file.
    if (type == std::filesystem::file_type::regular ||
        type == std::filesystem::file_type::not_found) {
      continue;
    }
    throw std::invalid_argument(
        entry + " is " +
        (type == std::filesystem::file_type::directory ? "a directory" : "not a regular file") +
        ", not a day file: move it out of the way");
  }
}

void CheckBackfillRequest(const BackfillRequest& request) {
  CheckBackfillDate(request.from, "from");
  CheckBackfillDate(request.to, "to");
  if (EncodeDate(request.to.Year, request.to.Month, request.to.Day) <
      EncodeDate(request.from.Year, request.from.Month, request.from.Day)) {
    throw std::invalid_argument("to date " + FormatIsoDate(request.to) + " is before from date " +
                                FormatIsoDate(request.from));
  }
  if (request.out_dir.empty()) throw std::invalid_argument("no output directory given");
  std::error_code error;
  if (!std::filesystem::exists(request.out_dir, error)) {
    throw std::invalid_argument("output directory " + request.out_dir + " does not exist");
  }
  if (!std::filesystem::is_directory(request.out_dir, error)) {
    throw std::invalid_argument("output directory " + request.out_dir + " is not a directory");
  }
  if (::access(request.out_dir.c_str(), W_OK | X_OK) != 0) {
    throw std::invalid_argument("output directory " + request.out_dir + " is not writable");
  }
  if (request.jobs < 0 || request.jobs > kMaxBackfillJobs) {
    throw std::invalid_argument("jobs " + std::to_string(request.jobs) + " is not from 1 to " +
                                std::to_string(kMaxBackfillJobs));
  }
}

void AddDayTicks(DayCounts& day, RandomSource& random) {
  DayTickSums sums;
  random = RandomSource(SumDayTicks(random.state(), sums));
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    const uint32_t* added = sums.Slots[slot];
    uint32_t any = 0;
    for (int c = 0; c < kFlatChannels; ++c) any |= added[c];
    if (any == 0) continue;
    int32_t* counts = day.Slots[slot].Counts;
    for (int c = 0; c < kFlatChannels; ++c) {
      counts[c] = static_cast<int32_t>(static_cast<uint32_t>(counts[c]) + added[c]);
    }
    MarkSlotUsed(day, slot);
    day.ChannelCount = std::max(day.ChannelCount, kFlatChannels);
  }
}

void Backfill(const BackfillRequest& request, const BackfillProgressFn& progress) {
  CheckBackfillRequest(request);
  const FlatSite site(request.seed);
  EngineRequest run;
  run.sites.push_back({&site, request.out_dir});
  run.first = EncodeDate(request.from.Year, request.from.Month, request.from.Day);
  run.last = EncodeDate(request.to.Year, request.to.Month, request.to.Day);
  run.existing = request.existing;
  run.existing_noticed = request.existing_noticed;
  run.jobs = request.jobs;
  RunBackfillEngine(run, [&progress](const EngineProgress& engine) {
    // The flat site's progress is told after each day, not before the first.
    if (!progress || engine.done == 0) return;
    BackfillProgress done;
    done.days_done = static_cast<int>(engine.done);
    done.days_skipped = static_cast<int>(engine.kept);
    done.days_total = static_cast<int>(engine.total);
    done.ticks_done = (engine.done - engine.kept) * kTicksPerDay;
    progress(done);
  });
}

}  // namespace tly
