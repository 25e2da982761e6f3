#include "generator/tick_sums.h"

#include <array>

namespace tly {
namespace {

constexpr uint32_t kMultiplier = 134775813u;
constexpr int kDrawsPerTick = 10;
constexpr int kTicksPerSlot = 450;  // 15 minutes of a tick every 2 seconds

// The random source is S := S * 134775813 + 1, so n steps ahead of S its state
// is Mul[n] * S + Add[n]. With these the draws of a tick (and of the next
// ticks) are computed from one state independently of each other, instead of
// as a chain of dependent multiplications.
struct Jump {
  uint32_t mul;
  uint32_t add;
};

template <int N>
constexpr std::array<Jump, N + 1> MakeJumps() {
  std::array<Jump, N + 1> jumps{};
  jumps[0] = {1u, 0u};
  for (int n = 1; n <= N; ++n) {
    jumps[n].mul = jumps[n - 1].mul * kMultiplier;
    jumps[n].add = jumps[n - 1].add * kMultiplier + 1u;
  }
  return jumps;
}

// Vector lanes hold consecutive ticks: lane k starts 10 k draws ahead.
constexpr int kLanes = 8;
constexpr int kBlockDraws = kLanes * kDrawsPerTick;
constexpr std::array<Jump, kBlockDraws + 1> kJumps = MakeJumps<kBlockDraws>();

// RandomBelow(2) is the top bit of the new state.
inline uint32_t DrawAhead(uint32_t state, int steps) {
  return (kJumps[steps].mul * state + kJumps[steps].add) >> 31;
}

// Adds one tick drawn from `state` to `sums` and returns the state after it.
// Per door an entry draw and a second draw that caps the exit at the entry
// (the min of two bits is their AND), then the passage's two draws. A tick
// without counts adds zeros, so no branch is needed.
inline uint32_t AddTick(uint32_t state, uint32_t* sums) {
  const uint32_t e1 = DrawAhead(state, 1);
  const uint32_t e2 = DrawAhead(state, 3);
  const uint32_t e3 = DrawAhead(state, 5);
  const uint32_t e4 = DrawAhead(state, 7);
  sums[0] += e1;
  sums[1] += e1 & DrawAhead(state, 2);
  sums[2] += e2;
  sums[3] += e2 & DrawAhead(state, 4);
  sums[4] += e3;
  sums[5] += e3 & DrawAhead(state, 6);
  sums[6] += e4;
  sums[7] += e4 & DrawAhead(state, 8);
  sums[8] += DrawAhead(state, 9);
  sums[9] += DrawAhead(state, 10);
  return kJumps[kDrawsPerTick].mul * state + kJumps[kDrawsPerTick].add;
}

// Sums one quarter hour tick by tick; the accumulators stay in registers.
inline uint32_t SumSlotScalar(uint32_t state, uint32_t* slot_sums) {
  uint32_t sums[kTickChannels] = {};
  for (int tick = 0; tick < kTicksPerSlot; ++tick) state = AddTick(state, sums);
  for (int c = 0; c < kTickChannels; ++c) slot_sums[c] = sums[c];
  return state;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define TLY_HAVE_AVX2_PATH 1

using Lanes = uint32_t __attribute__((vector_size(kLanes * sizeof(uint32_t))));

// Eight ticks at a time, one per lane, with AVX2's eight 32-bit multiplies.
// Everything with vector types stays inside this function, so no vector value
// crosses a call between code built for different instruction sets.
__attribute__((target("avx2"))) uint32_t SumDayTicksAvx2(uint32_t state, DayTickSums& day) {
  constexpr int kBlocks = kTicksPerSlot / kLanes;  // 56 blocks, then 2 ticks
  Lanes lane_mul;
  Lanes lane_add;
  for (int k = 0; k < kLanes; ++k) {
    lane_mul[k] = kJumps[k * kDrawsPerTick].mul;
    lane_add[k] = kJumps[k * kDrawsPerTick].add;
  }
  for (int slot = 0; slot < kTickSlots; ++slot) {
    Lanes s = lane_mul * state + lane_add;
    Lanes a0 = {}, a1 = {}, a2 = {}, a3 = {}, a4 = {}, a5 = {}, a6 = {}, a7 = {}, a8 = {}, a9 = {};
    for (int block = 0; block < kBlocks; ++block) {
      const Lanes e1 = (s * kJumps[1].mul + kJumps[1].add) >> 31;
      const Lanes e2 = (s * kJumps[3].mul + kJumps[3].add) >> 31;
      const Lanes e3 = (s * kJumps[5].mul + kJumps[5].add) >> 31;
      const Lanes e4 = (s * kJumps[7].mul + kJumps[7].add) >> 31;
      a0 += e1;
      a1 += e1 & ((s * kJumps[2].mul + kJumps[2].add) >> 31);
      a2 += e2;
      a3 += e2 & ((s * kJumps[4].mul + kJumps[4].add) >> 31);
      a4 += e3;
      a5 += e3 & ((s * kJumps[6].mul + kJumps[6].add) >> 31);
      a6 += e4;
      a7 += e4 & ((s * kJumps[8].mul + kJumps[8].add) >> 31);
      a8 += (s * kJumps[9].mul + kJumps[9].add) >> 31;
      a9 += (s * kJumps[10].mul + kJumps[10].add) >> 31;
      s = s * kJumps[kBlockDraws].mul + kJumps[kBlockDraws].add;
    }
    const Lanes* lanes[kTickChannels] = {&a0, &a1, &a2, &a3, &a4, &a5, &a6, &a7, &a8, &a9};
    uint32_t* sums = day.Slots[slot];
    for (int c = 0; c < kTickChannels; ++c) {
      uint32_t sum = 0;
      for (int k = 0; k < kLanes; ++k) sum += (*lanes[c])[k];
      sums[c] = sum;
    }
    // Lane 0 now holds the state before the slot's last ticks.
    state = s[0];
    for (int tick = kBlocks * kLanes; tick < kTicksPerSlot; ++tick) state = AddTick(state, sums);
  }
  return state;
}
#endif

}  // namespace

uint32_t SumDayTicksPortable(uint32_t state, DayTickSums& sums) {
  for (int slot = 0; slot < kTickSlots; ++slot) state = SumSlotScalar(state, sums.Slots[slot]);
  return state;
}

uint32_t SumDayTicks(uint32_t state, DayTickSums& sums) {
#ifdef TLY_HAVE_AVX2_PATH
  if (__builtin_cpu_supports("avx2")) return SumDayTicksAvx2(state, sums);
#endif
  return SumDayTicksPortable(state, sums);
}

}  // namespace tly
