#include "generator/backfill.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "config/tly_config.h"
#include "counting/day_file_loader.h"
#include "generator/day_file_image.h"
#include "generator/default_layout.h"

namespace tly {
namespace {

constexpr int kDrawsPerTick = 10;
constexpr int kChannelsPerTick = 10;

// The random source is S := S * 134775813 + 1, so j steps ahead of S the state
// is Mul[j] * S + Add[j]. With these the ten draws of a tick are computed from
// the tick's first state independently of each other, instead of as a chain of
// ten dependent multiplications.
struct Jump {
  uint32_t mul;
  uint32_t add;
};

constexpr std::array<Jump, kDrawsPerTick + 1> MakeJumps() {
  std::array<Jump, kDrawsPerTick + 1> jumps{};
  jumps[0] = {1u, 0u};
  for (int j = 1; j <= kDrawsPerTick; ++j) {
    jumps[j].mul = jumps[j - 1].mul * 134775813u;
    jumps[j].add = jumps[j - 1].add * 134775813u + 1u;
  }
  return jumps;
}

constexpr std::array<Jump, kDrawsPerTick + 1> kJumps = MakeJumps();

// RandomBelow(2) is the top bit of the new state.
inline uint32_t DrawAhead(uint32_t state, int steps) {
  return (kJumps[steps].mul * state + kJumps[steps].add) >> 31;
}

std::string DayFileNameFor(const std::string& out_dir, TDateTime day) {
  std::string name = out_dir;
  if (name.empty() || name.back() != '/') name += '/';
  name += FormatYyMmDd(day);
  name += ".tly";
  return name;
}

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
  uint32_t state = random.state();
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    // Sums of the slot's ticks, in channel order ch1..ch10. Ticks without
    // counts add zeros, which changes nothing, so no branch per tick.
    uint32_t in1 = 0, out1 = 0, in2 = 0, out2 = 0, in3 = 0, out3 = 0, in4 = 0, out4 = 0;
    uint32_t pass_in = 0, pass_out = 0;
    for (int tick = 0; tick < kTicksPerSlot; ++tick) {
      // Per door an entry draw and a second draw that caps the exit at the
      // entry (min of two bits is their AND), then the passage's two draws.
      const uint32_t e1 = DrawAhead(state, 1);
      const uint32_t x1 = e1 & DrawAhead(state, 2);
      const uint32_t e2 = DrawAhead(state, 3);
      const uint32_t x2 = e2 & DrawAhead(state, 4);
      const uint32_t e3 = DrawAhead(state, 5);
      const uint32_t x3 = e3 & DrawAhead(state, 6);
      const uint32_t e4 = DrawAhead(state, 7);
      const uint32_t x4 = e4 & DrawAhead(state, 8);
      const uint32_t pi = DrawAhead(state, 9);
      const uint32_t po = DrawAhead(state, 10);
      state = kJumps[kDrawsPerTick].mul * state + kJumps[kDrawsPerTick].add;
      in1 += e1;
      out1 += x1;
      in2 += e2;
      out2 += x2;
      in3 += e3;
      out3 += x3;
      in4 += e4;
      out4 += x4;
      pass_in += pi;
      pass_out += po;
    }
    // Counts are never negative, so the slot had a tick with counts exactly
    // when its sums are not all 0; an exit never comes without its entry.
    if ((in1 | in2 | in3 | in4 | pass_in | pass_out) == 0) continue;
    const uint32_t added[kChannelsPerTick] = {in1,  out1, in2,  out2,    in3,
                                              out3, in4,  out4, pass_in, pass_out};
    int32_t* counts = day.Slots[slot].Counts;
    for (int c = 0; c < kChannelsPerTick; ++c) {
      counts[c] = static_cast<int32_t>(static_cast<uint32_t>(counts[c]) + added[c]);
    }
    day.SlotUsed[slot] = 1;
    day.FirstSlot = std::min(day.FirstSlot, slot);
    day.LastSlot = std::max(day.LastSlot, slot);
    day.ChannelCount = std::max(day.ChannelCount, kChannelsPerTick);
  }
  random = RandomSource(state);
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
    LoadDayFile(file_name, day, config);
    AddDayTicks(day, random);
    ReplaceFileWith(file_name, BuildDayFileImage(day, config, date + last_tick_of_day));

    ++done.days_done;
    done.ticks_done += kTicksPerDay;
    if (progress) progress(done);
  }
}

}  // namespace tly
