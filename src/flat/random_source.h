#ifndef TLY_FLAT_RANDOM_SOURCE_H_
#define TLY_FLAT_RANDOM_SOURCE_H_

#include <cstdint>

namespace tly {

// The step of the generator's random source: S := S * kRandomMultiplier +
// kRandomIncrement (mod 2^32).
inline constexpr uint32_t kRandomMultiplier = 134775813u;
inline constexpr uint32_t kRandomIncrement = 1u;

// The generator's random source: a 32-bit linear congruential generator. Its
// state starts at 0 (or a chosen seed), so every run draws the same sequence.
class RandomSource {
 public:
  explicit RandomSource(uint32_t seed = 0) : state_(seed) {}

  // Advances the state one step and returns the high 32 bits of S * n: a
  // value in 0..n-1.
  uint32_t RandomBelow(uint32_t n) {
    state_ = state_ * kRandomMultiplier + kRandomIncrement;
    return static_cast<uint32_t>((static_cast<uint64_t>(state_) * n) >> 32);
  }

  // Advances the state by `steps` draws at once (in about 64 steps of work),
  // exactly as `steps` calls of RandomBelow would.
  void Skip(uint64_t steps);

  uint32_t state() const { return state_; }

 private:
  uint32_t state_;
};

}  // namespace tly

#endif  // TLY_FLAT_RANDOM_SOURCE_H_
