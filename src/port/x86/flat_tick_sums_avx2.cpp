// The flat generator's day of ticks with AVX2: eight consecutive ticks at a
// time, one per lane, each lane's state jumped ahead of the serial sequence.

#include <array>

#include "port/x86/kernels_x86.h"

namespace tly::x86 {
namespace {

constexpr int kDrawsPerTick = 10;
constexpr int kTicksPerSlot = 450;  // 15 minutes of a tick every 2 seconds
constexpr int kLanes = 8;
constexpr int kBlockDraws = kLanes * kDrawsPerTick;

// n steps of S := S * multiplier + increment from S give mul[n] * S + add[n].
struct Jumps {
  std::uint32_t mul[kBlockDraws + 1];
  std::uint32_t add[kBlockDraws + 1];
};

Jumps MakeJumps(std::uint32_t multiplier, std::uint32_t increment) {
  Jumps jumps{};
  jumps.mul[0] = 1u;
  jumps.add[0] = 0u;
  for (int n = 1; n <= kBlockDraws; ++n) {
    jumps.mul[n] = jumps.mul[n - 1] * multiplier;
    jumps.add[n] = jumps.add[n - 1] * multiplier + increment;
  }
  return jumps;
}

// One tick drawn from `state` added to `sums`; returns the state after it.
inline std::uint32_t AddTick(const Jumps& j, std::uint32_t state, std::uint32_t* sums) {
  std::uint32_t draws[kDrawsPerTick + 1];
  for (int d = 1; d <= kDrawsPerTick; ++d) draws[d] = (j.mul[d] * state + j.add[d]) >> 31;
  for (int door = 0; door < 4; ++door) {
    sums[2 * door] += draws[2 * door + 1];
    sums[2 * door + 1] += draws[2 * door + 1] & draws[2 * door + 2];
  }
  sums[8] += draws[9];
  sums[9] += draws[10];
  return j.mul[kDrawsPerTick] * state + j.add[kDrawsPerTick];
}

using Lanes = std::uint32_t __attribute__((vector_size(kLanes * sizeof(std::uint32_t))));

}  // namespace

// Everything with vector types stays inside this function, so no vector value
// crosses a call between code built for different instruction sets.
__attribute__((target("avx2"))) std::uint32_t FlatTickSumsAvx2(
    std::uint32_t state, std::uint32_t multiplier, std::uint32_t increment,
    std::uint32_t sums[kFlatTickSlots][kFlatTickChannels]) {
  const Jumps j = MakeJumps(multiplier, increment);
  constexpr int kBlocks = kTicksPerSlot / kLanes;  // 56 blocks, then 2 ticks
  Lanes lane_mul;
  Lanes lane_add;
  for (int k = 0; k < kLanes; ++k) {
    lane_mul[k] = j.mul[k * kDrawsPerTick];
    lane_add[k] = j.add[k * kDrawsPerTick];
  }
  for (int slot = 0; slot < kFlatTickSlots; ++slot) {
    Lanes s = lane_mul * state + lane_add;
    Lanes a0 = {}, a1 = {}, a2 = {}, a3 = {}, a4 = {}, a5 = {}, a6 = {}, a7 = {}, a8 = {}, a9 = {};
    for (int block = 0; block < kBlocks; ++block) {
      const Lanes e1 = (s * j.mul[1] + j.add[1]) >> 31;
      const Lanes e2 = (s * j.mul[3] + j.add[3]) >> 31;
      const Lanes e3 = (s * j.mul[5] + j.add[5]) >> 31;
      const Lanes e4 = (s * j.mul[7] + j.add[7]) >> 31;
      a0 += e1;
      a1 += e1 & ((s * j.mul[2] + j.add[2]) >> 31);
      a2 += e2;
      a3 += e2 & ((s * j.mul[4] + j.add[4]) >> 31);
      a4 += e3;
      a5 += e3 & ((s * j.mul[6] + j.add[6]) >> 31);
      a6 += e4;
      a7 += e4 & ((s * j.mul[8] + j.add[8]) >> 31);
      a8 += (s * j.mul[9] + j.add[9]) >> 31;
      a9 += (s * j.mul[10] + j.add[10]) >> 31;
      s = s * j.mul[kBlockDraws] + j.add[kBlockDraws];
    }
    const Lanes* lanes[kFlatTickChannels] = {&a0, &a1, &a2, &a3, &a4, &a5, &a6, &a7, &a8, &a9};
    std::uint32_t* slot_sums = sums[slot];
    for (int c = 0; c < kFlatTickChannels; ++c) {
      std::uint32_t sum = 0;
      for (int k = 0; k < kLanes; ++k) sum += (*lanes[c])[k];
      slot_sums[c] = sum;
    }
    // Lane 0 now holds the state before the slot's last ticks.
    state = s[0];
    for (int tick = kBlocks * kLanes; tick < kTicksPerSlot; ++tick) {
      state = AddTick(j, state, slot_sums);
    }
  }
  return state;
}

}  // namespace tly::x86
