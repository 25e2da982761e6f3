#ifndef TLY_FLAT_FLAT_TICK_H_
#define TLY_FLAT_FLAT_TICK_H_

#include <cstdint>

#include "flat/random_source.h"

namespace tly {

// The program's own traffic: four doors and one passage, each counted in and
// out on channels ch1..ch10 (index 0..9), door k on 2k (in) and 2k+1 (out),
// the passage on 8 and 9.
inline constexpr int kFlatChannels = 10;
inline constexpr int kFlatDoors = 4;
inline constexpr int kFlatDrawsPerTick = 10;

// The counts of one tick.
struct FlatTick {
  int32_t counts[kFlatChannels];
  int32_t total;  // the sum of the ten counts; 0 means the tick adds nothing
};

// Draws one tick: ten RandomBelow(2) calls in this order, per door an entry
// count and a second draw that caps the exit count at the entry (the exit is
// the smaller of the two), then the passage's entry and exit, independent of
// each other.
FlatTick DrawFlatTick(RandomSource& random);

}  // namespace tly

#endif  // TLY_FLAT_FLAT_TICK_H_
