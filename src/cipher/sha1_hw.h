// SHA-1 compression with the x86 SHA extensions, for processors that have
// them; the portable compression serves all others.
#ifndef TLY_CIPHER_SHA1_HW_H_
#define TLY_CIPHER_SHA1_HW_H_

#include <cstddef>
#include <cstdint>

namespace tly {

// True when the processor has the SHA extensions together with SSSE3 and
// SSE4.1. Asked once per run.
bool Sha1HardwareSupported();

// Adds `count` consecutive 64-byte blocks at `blocks` to the SHA-1 chaining
// values `state` (A to E, as numbers). Needs Sha1HardwareSupported().
void Sha1CompressBlocksHardware(std::uint32_t state[5], const std::uint8_t* blocks,
                                std::size_t count);

}  // namespace tly

#endif  // TLY_CIPHER_SHA1_HW_H_
