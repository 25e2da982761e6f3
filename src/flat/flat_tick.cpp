#include "flat/flat_tick.h"

#include <algorithm>
#include <cstddef>

namespace tly {

FlatTick DrawFlatTick(RandomSource& random) {
  FlatTick tick{};
  for (std::size_t k = 0; k < kFlatDoors; ++k) {
    const int32_t entry = static_cast<int32_t>(random.RandomBelow(2));
    const int32_t second = static_cast<int32_t>(random.RandomBelow(2));
    tick.counts[2 * k] = entry;
    tick.counts[2 * k + 1] = std::min(entry, second);
  }
  tick.counts[8] = static_cast<int32_t>(random.RandomBelow(2));
  tick.counts[9] = static_cast<int32_t>(random.RandomBelow(2));
  for (const int32_t count : tick.counts) tick.total += count;
  return tick;
}

}  // namespace tly
