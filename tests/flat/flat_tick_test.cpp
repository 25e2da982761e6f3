// The one tick of the program's own traffic, and the ways of drawing many
// ticks at once that must agree with it.

#include "flat/flat_tick.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "flat/random_source.h"
#include "flat/tick_sums.h"
#include "testutil/draw_model.h"

namespace tly {
namespace {

TEST(FlatTick, DrawsWhatTheIndependentModelDraws) {
  for (const uint32_t seed : {0u, 1u, 0xFFFFFFFFu, 2026120u}) {
    RandomSource random(seed);
    testing::DrawModel model(seed);
    for (int tick = 0; tick < 5000; ++tick) {
      const FlatTick drawn = DrawFlatTick(random);
      const testing::TickRow expected = model.Tick();
      int32_t total = 0;
      for (int c = 0; c < kFlatChannels; ++c) {
        ASSERT_EQ(drawn.counts[c], expected[c]) << seed << " tick " << tick << " ch" << c + 1;
        total += drawn.counts[c];
      }
      ASSERT_EQ(drawn.total, total);
    }
    EXPECT_EQ(random.state(), model.state());
  }
}

// The processor's vector path and the portable path (one DrawFlatTick after
// the other) must give the same sums and the same final state; whichever
// this processor takes is also compared with the cycle elsewhere.
TEST(FlatTick, DaySumsOfEveryPathAgreeWithTheTickByTickSums) {
  for (const uint32_t seed : {0u, 1u, 0xFFFFFFFFu, 2026120u}) {
    DayTickSums fast;
    DayTickSums portable;
    ASSERT_EQ(SumDayTicks(seed, fast), SumDayTicksPortable(seed, portable)) << seed;
    testing::DrawModel model(seed);
    for (int s = 0; s < kTickSlots; ++s) {
      const testing::TickRow expected = model.SumOfTicks(kTicksPerSlot);
      for (int c = 0; c < kFlatChannels; ++c) {
        ASSERT_EQ(fast.Slots[s][c], portable.Slots[s][c]) << seed << " " << s << " " << c;
        ASSERT_EQ(portable.Slots[s][c], expected[c]) << seed << " " << s << " " << c;
      }
    }
  }
}

TEST(RandomSource, SkipEqualsDrawingOneAtATime) {
  std::mt19937_64 random(11);
  const uint64_t day_of_draws = 43200ull * 10;
  for (const uint64_t steps : {uint64_t{0}, uint64_t{1}, uint64_t{2}, uint64_t{10}, day_of_draws,
                               day_of_draws * 3 + 7, random() % 5000000}) {
    for (const uint32_t seed : {0u, 0xFFFFFFFFu, static_cast<uint32_t>(random())}) {
      RandomSource skipped(seed);
      skipped.Skip(steps);
      RandomSource stepped(seed);
      for (uint64_t i = 0; i < steps; ++i) stepped.RandomBelow(2);
      ASSERT_EQ(skipped.state(), stepped.state()) << seed << " + " << steps;
    }
  }
  // Larger jumps, beyond stepping: two jumps make their sum.
  for (int round = 0; round < 100; ++round) {
    const uint64_t a = random() >> 1;
    const uint64_t b = random() >> 1;
    RandomSource twice(static_cast<uint32_t>(random()));
    RandomSource once = twice;
    twice.Skip(a);
    twice.Skip(b);
    once.Skip(a + b);
    ASSERT_EQ(once.state(), twice.state()) << a << " + " << b;
  }
  // The generator's period is 2^32: skipping it, or many of it, is no move.
  RandomSource whole(12345);
  whole.Skip(uint64_t{1} << 32);
  EXPECT_EQ(whole.state(), 12345u);
  whole.Skip(~uint64_t{0});  // 2^64 - 1 steps: one step short of many periods
  RandomSource one_back(12345);
  whole.RandomBelow(2);
  EXPECT_EQ(whole.state(), one_back.state());
}

}  // namespace
}  // namespace tly
