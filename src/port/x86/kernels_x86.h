#ifndef TLY_PORT_X86_KERNELS_X86_H_
#define TLY_PORT_X86_KERNELS_X86_H_

#include "port/accelerated.h"

// The x86-64 kernels behind port/accelerated.h. Each may run only on a
// processor that has its instructions.

namespace tly::x86 {

// Needs the SHA extensions, SSSE3 and SSE4.1.
void Sha1BlocksShaExtensions(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count);

// Needs AVX2.
std::uint32_t FlatTickSumsAvx2(std::uint32_t state, std::uint32_t multiplier,
                               std::uint32_t increment,
                               std::uint32_t sums[kFlatTickSlots][kFlatTickChannels]);

}  // namespace tly::x86

#endif  // TLY_PORT_X86_KERNELS_X86_H_
