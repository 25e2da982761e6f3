#ifndef TLY_FLAT_TICK_SUMS_H_
#define TLY_FLAT_TICK_SUMS_H_

#include <cstdint>

#include "flat/flat_tick.h"
#include "port/accelerated.h"

namespace tly {

inline constexpr int kTickSlots = kFlatTickSlots;
inline constexpr int kTicksPerSlot = 450;  // 15 minutes of a tick every 2 seconds
static_assert(kFlatTickChannels == kFlatChannels);

// The counts the generator's ticks of one day add to each quarter hour, per
// channel ch1..ch10 (index 0..9). A tick whose counts are all 0 adds nothing,
// so a quarter hour had a tick with counts exactly when its sums are not all 0.
struct DayTickSums {
  uint32_t Slots[kTickSlots][kFlatChannels];
};

// Draws the 43,200 ticks of one day (every even second from 00:00:00 to
// 23:59:58) from a random source in state `state`, as DrawFlatTick draws
// them, and sums their counts per quarter hour into `sums`. Returns the
// source's state after the day. Uses the processor's vector instructions when
// it has them; the result is the same either way.
uint32_t SumDayTicks(uint32_t state, DayTickSums& sums);

// SumDayTicks tick by tick with DrawFlatTick: the path taken where the
// processor offers nothing faster.
uint32_t SumDayTicksPortable(uint32_t state, DayTickSums& sums);

}  // namespace tly

#endif  // TLY_FLAT_TICK_SUMS_H_
