#include "generator/backfill.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
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

}  // namespace

DayFilesExist::DayFilesExist(const std::vector<std::string>& existing)
    : std::invalid_argument(DescribeExisting(existing)) {}

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
  const TDateTime last_tick_of_day = EncodeTime(23, 59, 58, 0);

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

  BackfillProgress done;
  done.days_total = static_cast<int>(last - first) + 1;
  RandomSource random(request.seed);
  DayCounts day{};
  for (TDateTime date = first; date <= last; date += 1) {
    const std::string file_name = DayFileNameFor(request.out_dir, date);
    TTlyConfig config;
    std::error_code error;
    if (existing == ExistingDayFiles::kSkip && std::filesystem::exists(file_name, error)) {
      random.Skip(uint64_t{kTicksPerDay} * kFlatDrawsPerTick);
      ++done.days_skipped;
    } else {
      if (existing == ExistingDayFiles::kReplace) {
        ApplyDefaultLayout(config);
        InitDayCountsFor(day, date);
      } else if (!ReloadDayFile(file_name, day, config)) {
        // As the cycle's reload: default layout, then the day's file
        // continued. Writing the day now would replace the file's rows with
        // this run's counts alone.
        throw std::system_error(EIO, std::generic_category(),
                                "cannot read the existing day file " + file_name);
      } else if (existing == ExistingDayFiles::kContinue) {
        NoticeExistingDayFile(file_name, request.existing_noticed);
      }
      AddDayTicks(day, random);
      // One replacement per day; unlike the live generator's save there is
      // no retry: the backfill stops at the first day it cannot write and
      // leaves no temporary file behind.
      ReplaceFileWith(file_name, BuildDayFileImage(day, config, date + last_tick_of_day));
      done.ticks_done += kTicksPerDay;
    }
    ++done.days_done;
    if (progress) progress(done);
  }
}

}  // namespace tly
