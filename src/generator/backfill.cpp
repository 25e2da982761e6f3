#include "generator/backfill.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "config/tly_config.h"
#include "counting/day_file_loader.h"
#include "generator/day_file_image.h"
#include "generator/day_file_name.h"
#include "generator/default_layout.h"
#include "generator/tick_sums.h"
#include "support/safe_file.h"

namespace tly {
namespace {

static_assert(kTickSlots == kSlotsPerDay && kTickChannels <= kMaxChannels);

std::string FormatIsoDate(const CivilDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.Year, date.Month, date.Day);
  return text;
}

std::string CheckDate(const CivilDate& date, const char* which) {
  if (!IsValidDate(date.Year, date.Month, date.Day)) {
    return std::string(which) + " date " + FormatIsoDate(date) + " does not exist";
  }
  if (date.Year < kBackfillFirstYear || date.Year > kBackfillLastYear) {
    return std::string(which) + " date " + FormatIsoDate(date) + " is outside the years " +
           std::to_string(kBackfillFirstYear) + " to " + std::to_string(kBackfillLastYear) +
           " that a yymmdd file name can tell apart";
  }
  return {};
}

}  // namespace

std::string CheckBackfillRequest(const BackfillRequest& request) {
  if (std::string problem = CheckDate(request.from, "from"); !problem.empty()) return problem;
  if (std::string problem = CheckDate(request.to, "to"); !problem.empty()) return problem;
  if (EncodeDate(request.to.Year, request.to.Month, request.to.Day) <
      EncodeDate(request.from.Year, request.from.Month, request.from.Day)) {
    return "to date " + FormatIsoDate(request.to) + " is before from date " +
           FormatIsoDate(request.from);
  }
  if (request.out_dir.empty()) return "no output directory given";
  std::error_code error;
  if (!std::filesystem::exists(request.out_dir, error)) {
    return "output directory " + request.out_dir + " does not exist";
  }
  if (!std::filesystem::is_directory(request.out_dir, error)) {
    return "output directory " + request.out_dir + " is not a directory";
  }
  if (::access(request.out_dir.c_str(), W_OK | X_OK) != 0) {
    return "output directory " + request.out_dir + " is not writable";
  }
  return {};
}

void AddDayTicks(DayCounts& day, RandomSource& random) {
  DayTickSums sums;
  random = RandomSource(SumDayTicks(random.state(), sums));
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    const uint32_t* added = sums.Slots[slot];
    uint32_t any = 0;
    for (int c = 0; c < kTickChannels; ++c) any |= added[c];
    if (any == 0) continue;
    int32_t* counts = day.Slots[slot].Counts;
    for (int c = 0; c < kTickChannels; ++c) {
      counts[c] = static_cast<int32_t>(static_cast<uint32_t>(counts[c]) + added[c]);
    }
    day.SlotUsed[slot] = 1;
    day.FirstSlot = std::min(day.FirstSlot, slot);
    day.LastSlot = std::max(day.LastSlot, slot);
    day.ChannelCount = std::max(day.ChannelCount, kTickChannels);
  }
}

void Backfill(const BackfillRequest& request, const BackfillProgressFn& progress) {
  if (std::string problem = CheckBackfillRequest(request); !problem.empty()) {
    throw std::invalid_argument(problem);
  }
  const TDateTime first = EncodeDate(request.from.Year, request.from.Month, request.from.Day);
  const TDateTime last = EncodeDate(request.to.Year, request.to.Month, request.to.Day);
  const TDateTime last_tick_of_day = EncodeTime(23, 59, 58, 0);

  BackfillProgress done;
  done.days_total = static_cast<int>(last - first) + 1;
  RandomSource random(request.seed);
  DayCounts day{};
  for (TDateTime date = first; date <= last; date += 1) {
    const std::string file_name = DayFileNameFor(request.out_dir, date);
    // As the cycle's reload: default layout, then the day's file continued.
    TTlyConfig config;
    ApplyDefaultLayout(config);
    if (!LoadDayFile(file_name, day, config)) {
      // Writing the day now would replace the file's rows with this run's
      // counts alone.
      throw std::system_error(std::make_error_code(std::errc::io_error),
                              "cannot read the existing day file " + file_name);
    }
    AddDayTicks(day, random);
    ReplaceFileWith(file_name, BuildDayFileImage(day, config, date + last_tick_of_day));

    ++done.days_done;
    done.ticks_done += kTicksPerDay;
    if (progress) progress(done);
  }
}

}  // namespace tly
