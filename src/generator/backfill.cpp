#include "generator/backfill.h"

#include <unistd.h>

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/info.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <exception>
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

// One day on its way from the pool to the writer.
struct DayInFlight {
  int index = 0;       // days after the first of the range
  uint32_t state = 0;  // the random source before the day's first draw
  std::string file_name;
  bool kept = false;   // kSkip found its file: nothing to write
  std::string image;   // the file to write
  std::optional<std::system_error> failure;
  // kContinue found its file not sound: the first problem, told by the writer
  // so that the notices come in day order.
  std::optional<std::string> problem;
};

// Days are handed to the pool in runs of consecutive days: each hand-over
// wakes a pool thread, and a pool thread that runs out of work spins for a
// while before it sleeps. With one day at a time the gaps between hand-overs
// are shorter than that, and the idle threads would spin all the time, taking
// cores from the writer and from everything else on the machine.
constexpr int kDaysPerRun = 8;

// A run of days handed to the pool, and whether it is done with it.
struct RunInFlight {
  std::vector<DayInFlight> days;
  std::atomic<bool> ready{true};
  std::exception_ptr error;  // anything but a file error, passed on to the writer
};

// Produces the day file of `day`, whose first day of the range is `first`:
// the file's name, and its bytes unless `existing` is kSkip and the file
// exists (`kept`). Throws std::system_error when the day's existing file
// cannot be read (it is then left as it is). Safe to run for different days on
// different threads at once.
void ProduceDay(DayInFlight& day, const std::string& dir, TDateTime first,
                ExistingDayFiles existing, bool notice_wanted) {
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
  } else if (notice_wanted) {
    NoticeExistingDayFile(day.file_name, [&day](const std::string&, const std::string& problem) {
      day.problem = problem;
    });
  }
  RandomSource random(day.state);
  AddDayTicks(*counts, random);
  day.image = BuildDayFileImage(*counts, config, date + EncodeTime(23, 59, 58, 0));
}

}  // namespace

DayFilesExist::DayFilesExist(const std::vector<std::string>& existing)
    : std::invalid_argument(DescribeExisting(existing)) {}

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
    if (!found.empty()) throw DayFilesExist(found);
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
  // The calling thread writes the days in day order, one file after the
  // other; `jobs` pool threads generate the days ahead of it. Files in one
  // directory are created one at a time by the file system anyway: writers on
  // several threads only wait for each other. The writer never generates: a
  // pipeline stage that writes takes the next day to generate itself when the
  // pool is slow to wake, and then generating and writing take turns again.
  // Two runs per pool thread are in flight, in slots the writer hands out
  // again as it finishes them, so the next days are ready when the writer
  // comes to them and memory does not grow with the range.
  const tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                    static_cast<size_t>(jobs) + 1);
  tbb::task_arena pool(jobs, 0);
  const int runs = (days + kDaysPerRun - 1) / kDaysPerRun;
  std::vector<RunInFlight> slots(static_cast<size_t>(std::min(2 * jobs, runs)));
  // Set at the first day that fails: days still in flight are not generated.
  std::atomic<bool> stopped{false};
  // Every slot handed to the pool is used by it until it is ready; also when
  // the writer leaves early by an exception.
  struct WaitForThePool {
    std::vector<RunInFlight>& slots;
    std::atomic<bool>& stopped;
    ~WaitForThePool() {
      stopped.store(true);
      for (RunInFlight& slot : slots) slot.ready.wait(false);
    }
  } wait_for_the_pool{slots, stopped};

  RandomSource source(request.seed);
  int next_day = 0;
  const bool notice_wanted =
      existing == ExistingDayFiles::kContinue && static_cast<bool>(request.existing_noticed);
  const auto hand_out = [&](RunInFlight& slot) {
    slot.days.assign(static_cast<size_t>(std::min(kDaysPerRun, days - next_day)), {});
    for (DayInFlight& day : slot.days) {
      day.index = next_day++;
      day.state = source.state();
      source.Skip(kDrawsPerDay);
    }
    slot.ready.store(false);
    pool.enqueue([&slot, &stopped, &request, first, existing, notice_wanted] {
      try {
        for (DayInFlight& day : slot.days) {
          if (stopped.load()) break;
          try {
            ProduceDay(day, request.out_dir, first, existing, notice_wanted);
          } catch (const std::system_error& failure) {
            // The writer reports it when it comes to this day; the days
            // before it, in other runs, go on.
            day.failure = failure;
            break;
          }
        }
      } catch (...) {
        // A task of the pool must not throw; the writer throws it on.
        slot.error = std::current_exception();
      }
      slot.ready.store(true);
      slot.ready.notify_one();
    });
  };
  for (RunInFlight& slot : slots) hand_out(slot);

  BackfillProgress done;
  done.days_total = days;
  for (int run = 0; run < runs; ++run) {
    RunInFlight& slot = slots[static_cast<size_t>(run) % slots.size()];
    slot.ready.wait(false);
    if (slot.error) std::rethrow_exception(slot.error);
    for (DayInFlight& day : slot.days) {
      if (day.problem) request.existing_noticed(day.file_name, *day.problem);
      if (!day.failure && !day.kept) {
        try {
          // One replacement per day; unlike the live generator's save there
          // is no retry: the backfill stops at the first day it cannot write
          // and leaves no temporary file behind.
          ReplaceFileWith(day.file_name, day.image);
        } catch (const std::system_error& failure) {
          day.failure = failure;
        }
      }
      if (day.failure) throw DayNotWritten(*day.failure, first + day.index);
      if (day.kept) {
        ++done.days_skipped;
      } else {
        done.ticks_done += kTicksPerDay;
      }
      ++done.days_done;
      if (progress) progress(done);
    }
    if (next_day < days) hand_out(slot);
  }
}

}  // namespace tly
