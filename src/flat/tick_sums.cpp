#include "flat/tick_sums.h"

namespace tly {

uint32_t SumDayTicksPortable(uint32_t state, DayTickSums& sums) {
  RandomSource random(state);
  for (int slot = 0; slot < kTickSlots; ++slot) {
    uint32_t* slot_sums = sums.Slots[slot];
    for (int c = 0; c < kFlatChannels; ++c) slot_sums[c] = 0;
    for (int tick = 0; tick < kTicksPerSlot; ++tick) {
      const FlatTick drawn = DrawFlatTick(random);
      for (int c = 0; c < kFlatChannels; ++c)
        slot_sums[c] += static_cast<uint32_t>(drawn.counts[c]);
    }
  }
  return random.state();
}

uint32_t SumDayTicks(uint32_t state, DayTickSums& sums) {
  static const FlatTickSumsFn accelerated = AcceleratedFlatTickSums();
  if (accelerated != nullptr) {
    return accelerated(state, kRandomMultiplier, kRandomIncrement, sums.Slots);
  }
  return SumDayTicksPortable(state, sums);
}

}  // namespace tly
