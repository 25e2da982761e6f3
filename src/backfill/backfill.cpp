#include "backfill/backfill.h"

#include <unistd.h>

#include <oneapi/tbb/info.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "config/tly_config.h"
#include "dayfile/day_file_name.h"
#include "flat/day_file_image.h"
#include "flat/default_layout.h"
#include "flat/tick_sums.h"
#include "support/directory_lock.h"
#include "support/output_directory.h"
#include "support/safe_file.h"
#include "support/thread_priority.h"

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

// The day files of the days from `first` to `last` that exist already (any
// entry under the name counts), in day order. Read from one listing of the
// directory, which costs a long range far less than a look-up per day; a
// directory may be writable and searchable without being readable, and is
// then looked up day by day.
std::vector<std::string> ExistingDayFilesOf(const std::string& dir, TDateTime first,
                                            TDateTime last) {
  std::vector<std::pair<TDateTime, std::string>> found;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(dir, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    const TDateTime date = DateFromFileName(name);
    if (date >= first && date <= last && name == DayFileBaseName(date)) {
      found.emplace_back(date, DayFileNameFor(dir, date));
    }
  }
  if (error) {
    found.clear();
    for (TDateTime date = first; date <= last; date += 1) {
      std::string name = DayFileNameFor(dir, date);
      if (std::filesystem::symlink_status(name, error).type() !=
          std::filesystem::file_type::not_found) {
        found.emplace_back(date, std::move(name));
      }
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> existing;
  for (auto& [date, name] : found) existing.push_back(std::move(name));
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

// One day on its way from a generating thread to the writer.
struct DayInFlight {
  int index = 0;          // days after the first of the range
  std::string name;       // "yymmdd.tly"
  std::string file_name;  // with the directory
  bool kept = false;      // kSkip found its file: nothing to write
  std::string image;      // the file to write
  std::optional<std::system_error> failure;
  // kContinue found its file not sound: the first problem, told by the writer
  // so that the notices come in day order.
  std::optional<std::string> problem;
  std::exception_ptr error;  // anything but a file error, thrown on by the writer
};

// The writer frees the places of the days it has written in runs of
// consecutive days: a thread that finds the place of its next day still
// taken sleeps until the writer frees it, and waking it costs the writer a
// system call. One wake per run rather than per day keeps that cost off the
// writer, which sets the pace.
constexpr int kDaysPerRun = 8;

// Runs in flight per generating thread. Waking a thread that sleeps can take
// a millisecond, several times as long as generating a day: the runs ahead
// of the writer cover that.
constexpr int kRunsPerThread = 4;

// The generating threads of low priority count as starved by other work on
// the machine once the writer has waited for them this long in all, and for
// more than half the time since they started. Waking a thread, or the file
// system's own work, holds them up now and then, but not for that long.
constexpr std::chrono::milliseconds kStarvedAfter{20};

// The places of one run of days. Run r goes into slot r % slots; the writer
// frees the slot for run r + slots when it has written run r.
struct RunSlot {
  // The run the slot may be filled with next; kStopped when the backfill
  // ends early.
  std::atomic<int> free_for{0};
  std::array<DayInFlight, kDaysPerRun> days;
  // Whether each of `days` is produced, for the writer to take.
  std::array<std::atomic<bool>, kDaysPerRun> ready{};
};

constexpr int kStopped = -1;

// What every generating thread needs to know of the backfill.
struct DayRecipe {
  const std::string& dir;
  TDateTime first;  // the range's first day
  int days;         // in the range
  uint32_t seed;
  ExistingDayFiles existing;
  bool notice_wanted;  // kContinue, and somebody is told of unsound files
};

// Produces the day file of `day`: the file's name, and its bytes unless
// `existing` is kSkip and the file exists (`kept`). Throws std::system_error
// when the day's existing file cannot be read (it is then left as it is).
// Safe to run for different days on different threads at once.
void ProduceDay(DayInFlight& day, const DayRecipe& recipe) {
  const TDateTime date = recipe.first + day.index;
  day.name = DayFileBaseName(date);
  day.file_name = DayFileNameFor(recipe.dir, date);
  std::error_code error;
  if (recipe.existing == ExistingDayFiles::kSkip && std::filesystem::exists(day.file_name, error)) {
    day.kept = true;
    return;
  }
  // A day's counts are a fixed-size record of some 25 KB: on the heap rather
  // than on a generating thread's stack.
  const auto counts = std::make_unique<DayCounts>();
  TTlyConfig config;
  if (recipe.existing == ExistingDayFiles::kReplace ||
      recipe.existing == ExistingDayFiles::kRefuse) {
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
  } else if (recipe.notice_wanted) {
    NoticeExistingDayFile(day.file_name, [&day](const std::string&, const std::string& problem) {
      day.problem = problem;
    });
  }
  // Every day draws a fixed number of times, whatever it holds, so its draws
  // start where the source from `seed` stands after the days before it.
  RandomSource random(recipe.seed);
  random.Skip(static_cast<uint64_t>(day.index) * kDrawsPerDay);
  AddDayTicks(*counts, random);
  day.image = BuildDayFileImage(*counts, config, date + EncodeTime(23, 59, 58, 0));
}

// The days of a backfill's range, produced by threads of their own ahead of
// the one thread that writes them, in a bounded number of slots.
//
// The generating threads run at the lowest priority, so that they only use
// the cores that the writer and the system's own work on the files leave
// idle: at the same priority they take turns with both, and the backfill
// takes longer than writing alone would. Should other work on the machine
// starve them (the writer waits for days most of the time), as many threads
// at normal priority take over, so the backfill still gets its share.
class DayPipeline {
 public:
  // Starts `jobs` threads generating the days of `recipe`, which must
  // outlive the pipeline. Throws std::system_error when a thread cannot
  // start; Day may throw it too, when the threads of normal priority cannot.
  DayPipeline(const DayRecipe& recipe, int jobs);
  // Stops the threads at their next day or wait and joins them.
  ~DayPipeline();
  DayPipeline(const DayPipeline&) = delete;
  DayPipeline& operator=(const DayPipeline&) = delete;

  // Day `index` of the range (0 for the first), once produced. The days
  // must be asked for in order, and each handed back with Written.
  DayInFlight& Day(int index);
  // The writer is done with day `index`; its slot may be reused.
  void Written(int index);

 private:
  RunSlot& SlotOf(int run) { return slots_[static_cast<size_t>(run) % slots_.size()]; }
  void StartGenerator(bool in_background);
  // The work of one generating thread: takes the days in turn, waits until
  // the day's slot is free for its run and produces the day in its place.
  // The threads take the days one by one rather than a run each, so that
  // threads sharing a core finish the days in about the order the writer
  // needs them. Returns when no day is left, the pipeline stops, or
  // (`in_background`) it is starved.
  void GenerateDays(bool in_background);
  // Produces day `index` into `day`, its failure or error included.
  void MakeDay(DayInFlight& day, int index);
  // False when the pipeline has stopped.
  bool WaitUntilFreeFor(RunSlot& slot, int run);
  void Stop();

  const DayRecipe& recipe_;
  const int runs_;
  const int jobs_;  // threads generating at a time
  std::vector<RunSlot> slots_;
  std::atomic<int> next_day_{1};  // the writer makes day 0 itself
  std::atomic<bool> stopped_{false};
  std::atomic<bool> starved_{false};
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration waited_{};  // by the writer, for days
  std::vector<std::jthread> generators_;
};

DayPipeline::DayPipeline(const DayRecipe& recipe, int jobs)
    : recipe_(recipe),
      runs_((recipe.days + kDaysPerRun - 1) / kDaysPerRun),
      jobs_(std::min(jobs, runs_)),
      slots_(static_cast<size_t>(std::min(kRunsPerThread * jobs_, runs_))) {
  for (size_t s = 0; s < slots_.size(); ++s) slots_[s].free_for = static_cast<int>(s);
  try {
    for (int job = 0; job < jobs_; ++job) StartGenerator(true);
  } catch (...) {
    Stop();
    throw;
  }
}

DayPipeline::~DayPipeline() {
  Stop();
}

void DayPipeline::Stop() {
  stopped_.store(true);
  for (RunSlot& slot : slots_) {
    slot.free_for.store(kStopped);
    slot.free_for.notify_all();
  }
  generators_.clear();
}

void DayPipeline::StartGenerator(bool in_background) {
  generators_.emplace_back([this, in_background] {
    // Should the system refuse, the thread generates at normal priority:
    // slower for the writer, the same days.
    if (in_background) LowerCallingThreadPriority();
    GenerateDays(in_background);
  });
}

bool DayPipeline::WaitUntilFreeFor(RunSlot& slot, int run) {
  for (int now = slot.free_for.load(); now != run; now = slot.free_for.load()) {
    if (now == kStopped) return false;
    slot.free_for.wait(now);
  }
  return true;
}

void DayPipeline::GenerateDays(bool in_background) {
  while (!(in_background && starved_.load()) && !stopped_.load()) {
    const int index = next_day_.fetch_add(1);
    if (index >= recipe_.days) return;
    const int run = index / kDaysPerRun;
    RunSlot& slot = SlotOf(run);
    if (!WaitUntilFreeFor(slot, run)) return;
    MakeDay(slot.days[static_cast<size_t>(index % kDaysPerRun)], index);
    std::atomic<bool>& ready = slot.ready[static_cast<size_t>(index % kDaysPerRun)];
    ready.store(true);
    ready.notify_one();
  }
}

void DayPipeline::MakeDay(DayInFlight& day, int index) {
  day = DayInFlight{};
  day.index = index;
  try {
    ProduceDay(day, recipe_);
  } catch (const std::system_error& failure) {
    // The writer stops at this day; later days are produced for nothing.
    day.failure = failure;
  } catch (...) {
    day.error = std::current_exception();
  }
}

DayInFlight& DayPipeline::Day(int index) {
  RunSlot& slot = SlotOf(index / kDaysPerRun);
  if (index == 0) {
    // A new thread takes a while to start and to make its first day; the
    // writer, which has nothing else to do yet, makes the first day itself.
    MakeDay(slot.days[0], 0);
    return slot.days[0];
  }
  std::atomic<bool>& ready = slot.ready[static_cast<size_t>(index % kDaysPerRun)];
  if (!ready.load()) {
    const auto began = std::chrono::steady_clock::now();
    ready.wait(false);
    const auto now = std::chrono::steady_clock::now();
    waited_ += now - began;
    if (!starved_.load() && waited_ > kStarvedAfter && waited_ > (now - started_) / 2) {
      starved_.store(true);
      for (int job = 0; job < jobs_; ++job) StartGenerator(false);
    }
  }
  return slot.days[static_cast<size_t>(index % kDaysPerRun)];
}

void DayPipeline::Written(int index) {
  const int run = index / kDaysPerRun;
  if (index % kDaysPerRun != kDaysPerRun - 1 && index != recipe_.days - 1) return;
  RunSlot& slot = SlotOf(run);
  for (std::atomic<bool>& ready : slot.ready) ready.store(false);
  slot.free_for.store(run + static_cast<int>(slots_.size()));
  slot.free_for.notify_all();
}

}  // namespace

DayFilesExist::DayFilesExist(const std::vector<std::string>& existing)
    : std::invalid_argument(DescribeExisting(existing)) {}

DayNotWritten::DayNotWritten(const std::system_error& cause, TDateTime day)
    : std::system_error(cause.code()), message_(cause.what()), day_(day) {}

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
  // The files go into the directory that is locked, by name: no path is
  // looked up again for each of them.
  const OutputDirectory directory(request.out_dir, "tly-generator backfill",
                                  DirectoryLock::Mode::kExclusive);
  const TDateTime first = EncodeDate(request.from.Year, request.from.Month, request.from.Day);
  const TDateTime last = EncodeDate(request.to.Year, request.to.Month, request.to.Day);

  const ExistingDayFiles existing = request.existing;
  const int days = static_cast<int>(last - first) + 1;
  const int jobs = request.jobs > 0 ? request.jobs
                                    : std::min(tbb::info::default_concurrency(), kMaxBackfillJobs);
  const DayRecipe recipe{
      request.out_dir,
      first,
      days,
      request.seed,
      existing,
      existing == ExistingDayFiles::kContinue && static_cast<bool>(request.existing_noticed)};
  // The calling thread writes the days in day order, one file after the
  // other, while the pipeline generates the next ones. Files in one
  // directory are created one at a time by the file system anyway: writers
  // on several threads only wait for each other.
  DayPipeline pipeline(recipe, jobs);

  // The first days are generated while the directory is looked at; nothing
  // is written before that.
  if (existing != ExistingDayFiles::kReplace) {
    const std::vector<std::string> found = ExistingDayFilesOf(request.out_dir, first, last);
    RefuseWhatIsNoDayFile(found);
    if (existing == ExistingDayFiles::kRefuse && !found.empty()) throw DayFilesExist(found);
  }
  if (existing == ExistingDayFiles::kSkip) {
    // What an interrupted run was writing when it stopped; its day has no
    // file yet and is written again below.
    for (TDateTime date = first; date <= last; date += 1) {
      RemoveQuietly(TempFileNameFor(DayFileNameFor(request.out_dir, date)));
    }
  }

  BackfillProgress done;
  done.days_total = days;
  for (int index = 0; index < days; ++index) {
    DayInFlight& day = pipeline.Day(index);
    if (day.error) std::rethrow_exception(day.error);
    if (day.problem) request.existing_noticed(day.file_name, *day.problem);
    if (!day.failure && !day.kept) {
      try {
        // One replacement per day; unlike the live generator's save there
        // is no retry: the backfill stops at the first day it cannot write
        // and leaves no temporary file behind.
        directory.ReplaceFileWith(day.name, day.image);
      } catch (const std::system_error& failure) {
        day.failure = failure;
      }
    }
    if (day.failure) throw DayNotWritten(*day.failure, first + index);
    if (day.kept) {
      ++done.days_skipped;
    } else {
      done.ticks_done += kTicksPerDay;
    }
    ++done.days_done;
    pipeline.Written(index);
    if (progress) progress(done);
  }
}

}  // namespace tly
