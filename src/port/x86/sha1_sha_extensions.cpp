// SHA-1 compression with the x86 SHA extensions.

#include <immintrin.h>

#include "port/x86/kernels_x86.h"

// Only the functions below are compiled for the SHA extensions; the rest of
// the program keeps running on processors without them.
#define TLY_SHA_TARGET __attribute__((target("sha,sse4.1")))

namespace tly::x86 {

namespace {

// Sixteen message bytes as four big-endian words, word 0 in the top lane,
// which is the order the SHA instructions take.
TLY_SHA_TARGET inline __m128i LoadWords(const std::uint8_t* bytes) {
  const __m128i reverse_bytes = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), reverse_bytes);
}

// The next four schedule words from the sixteen before them (w0 oldest).
TLY_SHA_TARGET inline __m128i NextWords(__m128i w0, __m128i w1, __m128i w2, __m128i w3) {
  return _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(w0, w1), w2), w3);
}

// Four rounds with round function kFunction (0 to 3) over `words`. `prev`
// holds the state before the previous four rounds, whose A gives this
// group's E; it is advanced to the state before these rounds.
template <int kFunction>
TLY_SHA_TARGET inline void FourRounds(__m128i& abcd, __m128i& prev, __m128i words) {
  const __m128i e_and_words = _mm_sha1nexte_epu32(prev, words);
  prev = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, e_and_words, kFunction);
}

}  // namespace

TLY_SHA_TARGET void Sha1BlocksShaExtensions(std::uint32_t state[5], const std::uint8_t* blocks,
                                            std::size_t count) {
  // A in the top lane down to D in the lowest; E alone in the top lane.
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

  for (; count > 0; --count, blocks += 64) {
    const __m128i abcd_start = abcd;
    const __m128i e_start = e;
    __m128i m0 = LoadWords(blocks);
    __m128i m1 = LoadWords(blocks + 16);
    __m128i m2 = LoadWords(blocks + 32);
    __m128i m3 = LoadWords(blocks + 48);

    // Rounds 0-3 take E from the chaining value instead of a former A.
    __m128i prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e, m0), 0);
    FourRounds<0>(abcd, prev, m1);  // 4-7
    FourRounds<0>(abcd, prev, m2);  // 8-11
    FourRounds<0>(abcd, prev, m3);  // 12-15
    m0 = NextWords(m0, m1, m2, m3);
    FourRounds<0>(abcd, prev, m0);  // 16-19
    m1 = NextWords(m1, m2, m3, m0);
    FourRounds<1>(abcd, prev, m1);  // 20-23
    m2 = NextWords(m2, m3, m0, m1);
    FourRounds<1>(abcd, prev, m2);  // 24-27
    m3 = NextWords(m3, m0, m1, m2);
    FourRounds<1>(abcd, prev, m3);  // 28-31
    m0 = NextWords(m0, m1, m2, m3);
    FourRounds<1>(abcd, prev, m0);  // 32-35
    m1 = NextWords(m1, m2, m3, m0);
    FourRounds<1>(abcd, prev, m1);  // 36-39
    m2 = NextWords(m2, m3, m0, m1);
    FourRounds<2>(abcd, prev, m2);  // 40-43
    m3 = NextWords(m3, m0, m1, m2);
    FourRounds<2>(abcd, prev, m3);  // 44-47
    m0 = NextWords(m0, m1, m2, m3);
    FourRounds<2>(abcd, prev, m0);  // 48-51
    m1 = NextWords(m1, m2, m3, m0);
    FourRounds<2>(abcd, prev, m1);  // 52-55
    m2 = NextWords(m2, m3, m0, m1);
    FourRounds<2>(abcd, prev, m2);  // 56-59
    m3 = NextWords(m3, m0, m1, m2);
    FourRounds<3>(abcd, prev, m3);  // 60-63
    m0 = NextWords(m0, m1, m2, m3);
    FourRounds<3>(abcd, prev, m0);  // 64-67
    m1 = NextWords(m1, m2, m3, m0);
    FourRounds<3>(abcd, prev, m1);  // 68-71
    m2 = NextWords(m2, m3, m0, m1);
    FourRounds<3>(abcd, prev, m2);  // 72-75
    m3 = NextWords(m3, m0, m1, m2);
    FourRounds<3>(abcd, prev, m3);  // 76-79

    // The final E is the A of four rounds back, rotated by 30.
    e = _mm_sha1nexte_epu32(prev, e_start);
    abcd = _mm_add_epi32(abcd, abcd_start);
  }

  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

}  // namespace tly::x86
