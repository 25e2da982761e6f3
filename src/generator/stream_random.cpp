#include "generator/stream_random.h"

#include <cmath>

namespace tly {
namespace {

constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;

// splitmix64's output function: every input bit changes about half of the
// output bits.
uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

uint64_t HashOfName(std::string_view name) {
  // FNV-1a over the bytes, then mixed.
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ull;
  }
  return Mix(hash);
}

StreamRandom::StreamRandom(const StreamKey& key) {
  // Each part goes through the mix on its own, so that keys differing in any
  // one part start far apart.
  uint64_t h = Mix(key.seed + kGolden);
  h = Mix(h ^ key.site);
  h = Mix(h ^ (static_cast<uint64_t>(key.day) + 2 * kGolden));
  h = Mix(h ^ (static_cast<uint64_t>(static_cast<int64_t>(key.quarter)) + 3 * kGolden));
  h = Mix(h ^ (static_cast<uint64_t>(static_cast<int64_t>(key.channel)) + 4 * kGolden));
  state_ = h;
}

uint64_t StreamRandom::Next() {
  state_ += kGolden;
  return Mix(state_);
}

double StreamRandom::Uniform() {
  return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

uint32_t StreamRandom::Below(uint32_t n) {
  // Lemire's multiply-and-reject: exact for every n.
  uint64_t product = (Next() >> 32) * n;
  uint32_t low = static_cast<uint32_t>(product);
  if (low < n) {
    const uint32_t threshold = static_cast<uint32_t>(-n) % n;
    while (low < threshold) {
      product = (Next() >> 32) * n;
      low = static_cast<uint32_t>(product);
    }
  }
  return static_cast<uint32_t>(product >> 32);
}

int64_t StreamRandom::Poisson(double mean) {
  if (mean <= 0) return 0;
  if (mean < 12) {
    // Multiplying uniforms until the product falls below e^-mean.
    const double limit = std::exp(-mean);
    int64_t count = 0;
    for (double product = Uniform(); product > limit; product *= Uniform()) ++count;
    return count;
  }
  // Hörmann's transformed rejection with squeeze (PTRS), exact for any mean.
  const double root = std::sqrt(mean);
  const double log_mean = std::log(mean);
  const double b = 0.931 + 2.53 * root;
  const double a = -0.059 + 0.02483 * b;
  const double inverse_alpha = 1.1239 + 1.1328 / (b - 3.4);
  const double v_r = 0.9277 - 3.6224 / (b - 2);
  for (;;) {
    const double u = Uniform() - 0.5;
    const double v = Uniform();
    const double us = 0.5 - std::fabs(u);
    const double k = std::floor((2 * a / us + b) * u + mean + 0.43);
    if (us >= 0.07 && v <= v_r) return static_cast<int64_t>(k);
    if (k < 0 || (us < 0.013 && v > us)) continue;
    if (std::log(v) + std::log(inverse_alpha) - std::log(a / (us * us) + b) <=
        -mean + k * log_mean - std::lgamma(k + 1)) {
      return static_cast<int64_t>(k);
    }
  }
}

double StreamRandom::Stay(double mean) {
  // The sum of four exponential parts, -part * (ln u1 + ... + ln u4), is one
  // logarithm of the product. 1 - Uniform() lies in (0, 1], so the product
  // is never 0.
  double product = 1;
  for (int i = 0; i < 4; ++i) product *= 1 - Uniform();
  return -mean / 4 * std::log(product);
}

}  // namespace tly
