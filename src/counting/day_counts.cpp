#include "counting/day_counts.h"

#include <algorithm>
#include <cstring>

namespace tly {
namespace {

// Adds with 32-bit two's-complement wrap-around: counts never saturate, and
// the addition must not be signed overflow.
void AddWrapping(int32_t& counter, int32_t count) {
  counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + static_cast<uint32_t>(count));
}

int32_t ClampChannel(int32_t channel) {
  return std::clamp(channel, 0, kMaxChannels - 1);
}

}  // namespace

void InitDayCounts(DayCounts& day, uint16_t year, uint16_t month, uint16_t day_of_month) {
  std::memset(&day, 0, sizeof day);
  day.FirstSlot = kSlotsPerDay;
  day.LastSlot = -1;
  day.Date = EncodeDate(year, month, day_of_month);
  for (int i = 0; i < kSlotsPerDay; ++i) {
    SlotCounts& slot = day.Slots[i];
    slot.Year = year;
    slot.Month = month;
    slot.Day = day_of_month;
    slot.Hour = i / 4;
    slot.Minute = (i % 4) * 15;
  }
}

void InitDayCountsFor(DayCounts& day, TDateTime date) {
  const CivilDate civil = DecodeDate(date);
  InitDayCounts(day, static_cast<uint16_t>(civil.Year), static_cast<uint16_t>(civil.Month),
                static_cast<uint16_t>(civil.Day));
}

void MarkSlotUsed(DayCounts& day, int32_t slot) {
  day.SlotUsed[slot] = 1;
  day.FirstSlot = std::min(day.FirstSlot, slot);
  day.LastSlot = std::max(day.LastSlot, slot);
}

int32_t AddCounts(DayCounts& day, int32_t channel_a, int32_t count_a, TDateTime moment,
                  int32_t channel_b, int32_t count_b, int32_t channel_c, int32_t count_c,
                  int32_t channel_d, int32_t count_d) {
  const int32_t s = std::clamp(QuarterHourSlot(moment), 0, kSlotsPerDay - 1);
  int32_t* counts = day.Slots[s].Counts;
  const int32_t a = ClampChannel(channel_a);
  const int32_t b = ClampChannel(channel_b);
  AddWrapping(counts[a], count_a);
  AddWrapping(counts[b], count_b);
  int32_t highest = std::max(a, b);
  if (channel_c >= 0) {
    const int32_t c = std::min(channel_c, kMaxChannels - 1);
    AddWrapping(counts[c], count_c);
    highest = std::max(highest, c);
  }
  if (channel_d >= 0) {
    const int32_t d = std::min(channel_d, kMaxChannels - 1);
    AddWrapping(counts[d], count_d);
    highest = std::max(highest, d);
  }
  MarkSlotUsed(day, s);
  day.ChannelCount = std::max(day.ChannelCount, highest + 1);
  return s;
}

void MergeDayCounts(DayCounts& day, const DayCounts& added) {
  for (int32_t s = 0; s < kSlotsPerDay; ++s) {
    if (added.SlotUsed[s] == 0) continue;
    for (int32_t c = 0; c < kMaxChannels; ++c) {
      AddWrapping(day.Slots[s].Counts[c], added.Slots[s].Counts[c]);
    }
    MarkSlotUsed(day, s);
  }
  day.ChannelCount = std::max(day.ChannelCount, added.ChannelCount);
}

}  // namespace tly
