#include "counting/day_counts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace tly {
namespace {

TDateTime At(int hour, int minute, int second) {
  return EncodeDate(2026, 12, 7) + EncodeTime(hour, minute, second, 0);
}

// Adds one pair on channel `channel` and leaves pairs B, C and D without effect.
int32_t AddOne(DayCounts& day, int32_t channel, int32_t count, TDateTime moment) {
  return AddCounts(day, channel, count, moment, channel, 0, -1, 0, -1, 0);
}

TEST(DayCounts, InitClearsAndStampsEverySlot) {
  DayCounts day;
  InitDayCounts(day, 2025, 1, 1);
  AddOne(day, 20, 5, At(12, 0, 0));
  InitDayCounts(day, 2026, 12, 7);

  EXPECT_EQ(day.Date, EncodeDate(2026, 12, 7));
  EXPECT_EQ(day.FirstSlot, 96);
  EXPECT_EQ(day.LastSlot, -1);
  EXPECT_EQ(day.ChannelCount, 0);
  for (int s = 0; s < kSlotsPerDay; ++s) {
    const SlotCounts& slot = day.Slots[s];
    ASSERT_EQ(day.SlotUsed[s], 0);
    ASSERT_TRUE(slot.Year == 2026 && slot.Month == 12 && slot.Day == 7);
    ASSERT_EQ(slot.Hour, s / 4);
    ASSERT_EQ(slot.Minute, s % 4 * 15);
    for (int32_t count : slot.Counts) ASSERT_EQ(count, 0);
  }
  EXPECT_EQ(day.Slots[41].Hour, 10);
  EXPECT_EQ(day.Slots[41].Minute, 15);
  EXPECT_EQ(day.Slots[95].Hour, 23);
  EXPECT_EQ(day.Slots[95].Minute, 45);
}

TEST(DayCounts, MomentSelectsQuarterHourAndWidensUsedRange) {
  DayCounts day;
  InitDayCounts(day, 2026, 12, 7);
  EXPECT_EQ(AddOne(day, 0, 1, At(10, 20, 0)), 41);
  EXPECT_EQ(AddOne(day, 0, 1, At(8, 5, 0)), 32);
  EXPECT_EQ(day.FirstSlot, 32);
  EXPECT_EQ(day.LastSlot, 41);

  EXPECT_EQ(AddOne(day, 0, 1, At(0, 0, 0)), 0);
  EXPECT_EQ(AddOne(day, 0, 1, At(10, 14, 59)), 40);
  EXPECT_EQ(AddOne(day, 0, 1, At(10, 15, 0)), 41);
  EXPECT_EQ(AddOne(day, 0, 1, At(23, 59, 59)), 95);
  // Another day's moment counts by its time of day; the record keeps its date
  // and its slots keep their stamps.
  EXPECT_EQ(AddOne(day, 0, 1, EncodeDate(2030, 5, 1) + EncodeTime(10, 16, 0, 0)), 41);
  EXPECT_EQ(day.Date, EncodeDate(2026, 12, 7));
  EXPECT_EQ(day.Slots[41].Year, 2026);
  EXPECT_EQ(day.Slots[41].Minute, 15);
  EXPECT_EQ(day.Slots[41].Counts[0], 3);
  EXPECT_EQ(day.FirstSlot, 0);
  EXPECT_EQ(day.LastSlot, 95);
}

TEST(DayCounts, ChannelsOfEachPairAndChannelCount) {
  DayCounts day;
  InitDayCounts(day, 2026, 12, 7);
  // A zero count still marks the slot and names its channel.
  AddCounts(day, 4, 0, At(9, 0, 0), 2, 0, -1, 0, -1, 0);
  EXPECT_EQ(day.SlotUsed[36], 1);
  EXPECT_EQ(day.FirstSlot, 36);
  EXPECT_EQ(day.LastSlot, 36);
  EXPECT_EQ(day.ChannelCount, 5);

  // The generator's tick: five pairs on channels 0..9.
  for (int k = 0; k < 5; ++k) AddCounts(day, 2 * k, 1, At(9, 1, 0), 2 * k + 1, 2, -1, 0, -1, 0);
  EXPECT_EQ(day.ChannelCount, 10);

  // Pairs C and D are left out by channel -1, whatever their count.
  AddCounts(day, 0, 0, At(9, 2, 0), 0, 0, -1, 7, -1, 7);
  EXPECT_EQ(day.ChannelCount, 10);

  // Out-of-range channels: A and B clamp to 0..63, C and D are limited to 63.
  AddCounts(day, -5, 10, At(9, 3, 0), 70, 20, 100, 30, 63, 40);
  EXPECT_EQ(day.Slots[36].Counts[0], 1 + 10);
  EXPECT_EQ(day.Slots[36].Counts[63], 20 + 30 + 40);
  EXPECT_EQ(day.ChannelCount, 64);

  // A and B on one channel add both counts.
  DayCounts same;
  InitDayCounts(same, 2026, 12, 7);
  AddCounts(same, 3, 4, At(0, 0, 0), 3, 5, 3, 6, -1, 0);
  EXPECT_EQ(same.Slots[0].Counts[3], 15);
  EXPECT_EQ(same.ChannelCount, 4);
}

TEST(DayCounts, CountsWrapAroundLikeThirtyTwoBitIntegers) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  DayCounts day;
  InitDayCounts(day, 2026, 12, 7);
  AddCounts(day, 0, kMax, At(1, 0, 0), 0, 1, 1, kMin, 1, -1);
  EXPECT_EQ(day.Slots[4].Counts[0], kMin);
  EXPECT_EQ(day.Slots[4].Counts[1], kMax);
  AddCounts(day, 2, -3, At(1, 0, 0), 2, kMin, -1, 0, -1, 0);
  EXPECT_EQ(day.Slots[4].Counts[2], kMax - 2);
}

}  // namespace
}  // namespace tly
