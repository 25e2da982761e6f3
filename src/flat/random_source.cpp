#include "flat/random_source.h"

namespace tly {

void RandomSource::Skip(uint64_t steps) {
  // The composition of the step with itself is again such a step: applying
  // (m, a) after (m', a') gives (m * m', m * a' + a). Squaring it for each bit
  // of `steps` jumps in logarithmic time.
  uint32_t jump_mul = kRandomMultiplier;
  uint32_t jump_add = kRandomIncrement;
  uint32_t total_mul = 1u;
  uint32_t total_add = 0u;
  for (; steps != 0; steps >>= 1) {
    if ((steps & 1u) != 0) {
      total_mul *= jump_mul;
      total_add = total_add * jump_mul + jump_add;
    }
    jump_add = jump_add * jump_mul + jump_add;
    jump_mul *= jump_mul;
  }
  state_ = state_ * total_mul + total_add;
}

}  // namespace tly
