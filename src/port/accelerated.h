#ifndef TLY_PORT_ACCELERATED_H_
#define TLY_PORT_ACCELERATED_H_

#include <cstddef>
#include <cstdint>

// The one place that knows the processor: kernels written for instructions
// beyond an architecture's baseline, and the run-time choice of them. Each
// accessor returns the kernel when this processor can run it and nullptr
// otherwise (always nullptr off x86-64); the caller then takes its portable
// code, which computes the same result.

namespace tly {

// Adds `count` consecutive 64-byte blocks at `blocks` to the SHA-1 chaining
// values `state` (A to E, as numbers).
using Sha1BlocksFn = void (*)(std::uint32_t state[5], const std::uint8_t* blocks,
                              std::size_t count);

// The SHA-1 block compression with the x86 SHA extensions (with SSSE3 and
// SSE4.1), or nullptr.
Sha1BlocksFn AcceleratedSha1Blocks();

inline constexpr int kFlatTickSlots = 96;
inline constexpr int kFlatTickChannels = 10;

// Sums one day of the flat generator's ticks per quarter hour: 96 quarter
// hours of 450 ticks, each tick ten draws of the linear congruential source
// S := S * multiplier + increment (mod 2^32), a draw being the top bit of the
// new state. Per tick: for door k = 0..3 channel 2k gets the entry draw and
// channel 2k+1 the entry draw AND the next draw; channels 8 and 9 get the
// last two draws. Returns the state after the day's last draw.
using FlatTickSumsFn = std::uint32_t (*)(std::uint32_t state, std::uint32_t multiplier,
                                         std::uint32_t increment,
                                         std::uint32_t sums[kFlatTickSlots][kFlatTickChannels]);

// The flat tick sums with AVX2 (eight ticks at a time, one per lane), or
// nullptr.
FlatTickSumsFn AcceleratedFlatTickSums();

}  // namespace tly

#endif  // TLY_PORT_ACCELERATED_H_
