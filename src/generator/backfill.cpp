#include "generator/backfill.h"

#include <unistd.h>

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/info.h>
#include <oneapi/tbb/parallel_pipeline.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "config/tly_config.h"
#include "dayfile/day_file_name.h"
#include "generator/day_file_image.h"
#include "generator/default_layout.h"
#include "generator/tick_sums.h"
#include "support/directory_lock.h"
#include "support/safe_file.h"

namespace tly {
namespace {

static_assert(kTickSlots == kSlotsPerDay && kFlatChannels <= kMaxChannels);

std::string FormatIsoDate(const CivilDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.Year, date.Month, date.Day);
  return text;
}

void CheckDate(const CivilDate& date, const char* which) {
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

// The day files of the days from `first` to `last` that exist already (any
// entry under the name counts), in day order.
std::vector<std::string> ExistingDayFilesOf(const std::string& dir, TDateTime first,
                                            TDateTime last) {
  std::vector<std::string> existing;
  for (TDateTime date = first; date <= last; date += 1) {
    const std::string name = DayFileNameFor(dir, date);
    std::error_code error;
    if (std::filesystem::symlink_status(name, error).type() !=
        std::filesystem::file_type::not_found) {
      existing.push_back(name);
    }
  }
  return existing;
}

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

// One day on its way through the backfill's pipeline.
struct DayInFlight {
  int index = 0;       // days after the first of the range
  uint32_t state = 0;  // the random source before the day's first draw
  bool produced = false;  // not when the backfill stopped before it
  std::string file_name;
  bool kept = false;   // kSkip found its file: nothing to write
  std::string image;   // the file to write
  std::optional<std::system_error> failure;
};

// Days travel the pipeline in runs of consecutive days. A pool thread that
// runs out of work spins for a while before it sleeps; with one day at a
// time, the gap between two writes is shorter than that, so a thread that
// waits for the writer would spin all the time, taking a core from the writer
// and from everything else on the machine.
constexpr int kDaysPerRun = 8;
using DayRun = std::vector<DayInFlight>;

// Produces the day file of `day`, whose first day of the range is `first`:
// the file's name, and its bytes unless `existing` is kSkip and the file
// exists (`kept`). Throws std::system_error when the day's existing file
// cannot be read (it is then left as it is). Safe to run for different days on
// different threads at once.
void ProduceDay(DayInFlight& day, const std::string& dir, TDateTime first,
                ExistingDayFiles existing) {
  const TDateTime date = first + day.index;
  day.file_name = DayFileNameFor(dir, date);
  std::error_code error;
  if (existing == ExistingDayFiles::kSkip && std::filesystem::exists(day.file_name, error)) {
    day.kept = true;
    return;
  }
  // A day's counts are a fixed-size record of some 25 KB: on the heap rather
  // than on a pool thread's stack.
  const auto counts = std::make_unique<DayCounts>();
  TTlyConfig config;
  if (existing == ExistingDayFiles::kReplace || existing == ExistingDayFiles::kRefuse) {
    // kRefuse found no file of the range, and the lock keeps other writers
    // out: looking again would only hold up the writer in the directory.
    ApplyDefaultLayout(config);
    InitDayCountsFor(*counts, date);
  } else if (!ReloadDayFile(day.file_name, *counts, config)) {
    // As the cycle's reload: default layout, then the day's file continued.
    // Writing the day now would replace the file's rows with this run's
    // counts alone.
    throw std::system_error(EIO, std::generic_category(),
                            "cannot read the existing day file " + day.file_name);
  }
  RandomSource random(day.state);
  AddDayTicks(*counts, random);
  day.image = BuildDayFileImage(*counts, config, date + EncodeTime(23, 59, 58, 0));
}

}  // namespace

DayNotWritten::DayNotWritten(const std::system_error& cause, TDateTime day)
    : std::system_error(cause.code()), message_(cause.what()), day_(day) {}

void CheckBackfillRequest(const BackfillRequest& request) {
  CheckDate(request.from, "from");
  CheckDate(request.to, "to");
  if (EncodeDate(request.to.Year, request.to.Month, request.to.Day) <
      EncodeDate(request.from.Year, request.from.Month, request.from.Day)) {
    throw std::invalid_argument("to date " + FormatIsoDate(request.to) +
                                " is before from date " + FormatIsoDate(request.from));
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
  const DirectoryLock lock(request.out_dir, "tly-generator backfill");
  const TDateTime first = EncodeDate(request.from.Year, request.from.Month, request.from.Day);
  const TDateTime last = EncodeDate(request.to.Year, request.to.Month, request.to.Day);

  const ExistingDayFiles existing = request.existing;
  if (existing == ExistingDayFiles::kRefuse) {
    const std::vector<std::string> found = ExistingDayFilesOf(request.out_dir, first, last);
    if (!found.empty()) throw DayFilesExist(DescribeExisting(found));
  }
  if (existing == ExistingDayFiles::kSkip) {
    // What an interrupted run was writing when it stopped; its day has no
    // file yet and is written again below.
    for (TDateTime date = first; date <= last; date += 1) {
      RemoveQuietly(TempFileNameFor(DayFileNameFor(request.out_dir, date)));
    }
  }

  const int days = static_cast<int>(last - first) + 1;
  const int jobs = request.jobs > 0
                       ? request.jobs
                       : std::min(tbb::info::default_concurrency(), kMaxBackfillJobs);
  // Days run through three stages in runs of kDaysPerRun: handed out in day
  // order with the random source jumped to each day's first draw; generated on
  // any thread, several runs at once; written in day order, one after the
  // other, while the next days are generated. Files in one directory are
  // created one at a time by the file system anyway: writers on several
  // threads would only wait for each other (and spin doing it). Up to two runs
  // per thread are in flight, so the writer finds the next day ready, and
  // memory does not grow with the range.
  RandomSource source(request.seed);
  int next_day = 0;
  // Set by the writer at the first day that fails: days still in flight are
  // not generated or written, and no more are handed out.
  std::atomic<bool> stopped{false};
  std::optional<DayInFlight> failed;
  BackfillProgress done;
  done.days_total = days;

  const auto hand_out = tbb::make_filter<void, std::unique_ptr<DayRun>>(
      tbb::filter_mode::serial_in_order,
      [&](tbb::flow_control& control) -> std::unique_ptr<DayRun> {
        if (next_day == days || stopped.load()) {
          control.stop();
          return nullptr;
        }
        auto run = std::make_unique<DayRun>(std::min(kDaysPerRun, days - next_day));
        for (DayInFlight& day : *run) {
          day.index = next_day++;
          day.state = source.state();
          source.Skip(kDrawsPerDay);
        }
        return run;
      });
  const auto generate = tbb::make_filter<std::unique_ptr<DayRun>, std::unique_ptr<DayRun>>(
      tbb::filter_mode::parallel, [&](std::unique_ptr<DayRun> run) {
        for (DayInFlight& day : *run) {
          if (stopped.load()) break;
          day.produced = true;
          try {
            ProduceDay(day, request.out_dir, first, existing);
          } catch (const std::system_error& failure) {
            // The writer reports it when it comes to this day; the days
            // before it, on other threads, go on.
            day.failure = failure;
            break;
          }
        }
        return run;
      });
  const auto write = tbb::make_filter<std::unique_ptr<DayRun>, void>(
      tbb::filter_mode::serial_in_order, [&](std::unique_ptr<DayRun> run) {
        for (DayInFlight& day : *run) {
          if (failed || !day.produced) return;
          if (!day.failure && !day.kept) {
            try {
              // One replacement per day; unlike the live generator's save
              // there is no retry: the backfill stops at the first day it
              // cannot write and leaves no temporary file behind.
              ReplaceFileWith(day.file_name, day.image);
            } catch (const std::system_error& failure) {
              day.failure = failure;
            }
          }
          if (day.failure) {
            stopped.store(true);
            failed = std::move(day);
            return;
          }
          day.image = {};
          if (day.kept) {
            ++done.days_skipped;
          } else {
            done.ticks_done += kTicksPerDay;
          }
          ++done.days_done;
          if (progress) progress(done);
        }
      });

  // The pool takes as many threads as asked for, also more than there are
  // cores; the limit ends with the run.
  const tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                    static_cast<size_t>(jobs));
  tbb::task_arena arena(jobs);
  arena.execute([&] {
    tbb::parallel_pipeline(static_cast<size_t>(2 * jobs), hand_out & generate & write);
  });
  if (failed) throw DayNotWritten(*failed->failure, first + failed->index);
}

}  // namespace tly
