#include <cpuid.h>

#include "port/accelerated.h"
#include "port/x86/kernels_x86.h"

namespace tly {
namespace {

// What the processor offers, asked once.
struct CpuFeatures {
  bool sha = false;  // the SHA extensions with SSSE3 and SSE4.1
  bool avx2 = false;
};

CpuFeatures Detect() {
  CpuFeatures features;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return features;
  const bool ssse3_sse41 = (ecx & bit_SSSE3) != 0 && (ecx & bit_SSE4_1) != 0;
  // AVX2 also needs the operating system to save the YMM registers.
  const bool os_saves_ymm = (ecx & bit_OSXSAVE) != 0 && (ecx & bit_AVX) != 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return features;
  features.sha = ssse3_sse41 && (ebx & bit_SHA) != 0;
  if (os_saves_ymm && (ebx & bit_AVX2) != 0) {
    unsigned xcr0_low = 0, xcr0_high = 0;
    __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    features.avx2 = (xcr0_low & 0x6) == 0x6;
  }
  return features;
}

const CpuFeatures& Features() {
  static const CpuFeatures features = Detect();
  return features;
}

}  // namespace

Sha1BlocksFn AcceleratedSha1Blocks() {
  return Features().sha ? &x86::Sha1BlocksShaExtensions : nullptr;
}

FlatTickSumsFn AcceleratedFlatTickSums() {
  return Features().avx2 ? &x86::FlatTickSumsAvx2 : nullptr;
}

}  // namespace tly
