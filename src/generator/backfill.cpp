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

// Produces the day file of `date`, whose draws start with the random source in
// `state`, and writes it unless `existing` is kSkip and the file exists.
// Returns whether it wrote. Throws std::system_error when the day's existing
// file cannot be read (it is left as it is) or the new one cannot be written.
// Safe to run for different days on different threads at once.
bool WriteDay(const std::string& dir, TDateTime date, uint32_t state, ExistingDayFiles existing) {
  const std::string file_name = DayFileNameFor(dir, date);
  std::error_code error;
  if (existing == ExistingDayFiles::kSkip && std::filesystem::exists(file_name, error)) {
    return false;
  }
  // A day's counts are a fixed-size record of some 25 KB: on the heap rather
  // than on a pool thread's stack.
  const auto day = std::make_unique<DayCounts>();
  TTlyConfig config;
  if (existing == ExistingDayFiles::kReplace) {
    ApplyDefaultLayout(config);
    InitDayCountsFor(*day, date);
  } else if (!ReloadDayFile(file_name, *day, config)) {
    // As the cycle's reload: default layout, then the day's file continued.
    // Writing the day now would replace the file's rows with this run's
    // counts alone.
    throw std::system_error(EIO, std::generic_category(),
                            "cannot read the existing day file " + file_name);
  }
  RandomSource random(state);
  AddDayTicks(*day, random);
  // One replacement per day; unlike the live generator's save there is no
  // retry: the backfill stops at the first day it cannot write and leaves no
  // temporary file behind.
  ReplaceFileWith(file_name, BuildDayFileImage(*day, config, date + EncodeTime(23, 59, 58, 0)));
  return true;
}

// One day on its way through the backfill's pipeline.
struct DayInFlight {
  int index = 0;       // days after the first of the range
  uint32_t state = 0;  // the random source before the day's first draw
  bool written = false;
  std::optional<std::system_error> failure;
};

// Lowers `earliest` to `index` unless it is lower already.
void LowerTo(std::atomic<int>& earliest, int index) {
  int seen = earliest.load();
  while (index < seen && !earliest.compare_exchange_weak(seen, index)) {
  }
}

}  // namespace

DayNotWritten::DayNotWritten(const std::system_error& cause, TDateTime day,
                             int later_days_written)
    : std::system_error(cause.code()),
      message_(cause.what()),
      day_(day),
      later_days_written_(later_days_written) {}

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
  const int jobs = request.jobs > 0 ? request.jobs : tbb::info::default_concurrency();
  // Days run through three stages: handed out in day order with the random
  // source jumped to each day's first draw; generated and written on any
  // thread, several at once; reported in day order. Up to two days per thread
  // are in flight, so a thread finds the next day ready while another waits
  // for the file system, and memory does not grow with the range.
  RandomSource source(request.seed);
  int next_day = 0;
  // The earliest day that failed; `days` while none has. Days before it go on
  // (they must be written), days after it are not started.
  std::atomic<int> earliest_failure{days};
  BackfillProgress done;
  done.days_total = days;
  std::unique_ptr<DayInFlight> failed;
  int later_days_written = 0;

  const auto hand_out = tbb::make_filter<void, std::unique_ptr<DayInFlight>>(
      tbb::filter_mode::serial_in_order,
      [&](tbb::flow_control& control) -> std::unique_ptr<DayInFlight> {
        if (next_day == days || earliest_failure.load() < days) {
          control.stop();
          return nullptr;
        }
        auto day = std::make_unique<DayInFlight>();
        day->index = next_day++;
        day->state = source.state();
        source.Skip(kDrawsPerDay);
        return day;
      });
  const auto generate_and_write =
      tbb::make_filter<std::unique_ptr<DayInFlight>, std::unique_ptr<DayInFlight>>(
          tbb::filter_mode::parallel, [&](std::unique_ptr<DayInFlight> day) {
            if (day->index > earliest_failure.load()) return day;
            try {
              day->written = WriteDay(request.out_dir, first + day->index, day->state, existing);
            } catch (const std::system_error& failure) {
              day->failure = failure;
              LowerTo(earliest_failure, day->index);
            }
            return day;
          });
  const auto report = tbb::make_filter<std::unique_ptr<DayInFlight>, void>(
      tbb::filter_mode::serial_in_order, [&](std::unique_ptr<DayInFlight> day) {
        if (failed) {
          if (day->written) ++later_days_written;
          return;
        }
        if (day->failure) {
          failed = std::move(day);
          return;
        }
        if (day->written) {
          done.ticks_done += kTicksPerDay;
        } else {
          ++done.days_skipped;
        }
        ++done.days_done;
        if (progress) progress(done);
      });

  // The pool takes as many threads as asked for, also more than there are
  // cores; the limit ends with the run.
  const tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                    static_cast<size_t>(jobs));
  tbb::task_arena arena(jobs);
  arena.execute([&] {
    tbb::parallel_pipeline(static_cast<size_t>(2 * jobs), hand_out & generate_and_write & report);
  });
  if (failed) {
    throw DayNotWritten(*failed->failure, first + failed->index, later_days_written);
  }
}

}  // namespace tly
