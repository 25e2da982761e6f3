#include "generator/stream_random.h"

#include <array>
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

// The quantiles of the stay's distribution (gamma of shape 4 and mean 1) at
// 0, 1/n, 2/n, ... of its probability.
constexpr size_t kStayQuantiles = 4096;
using StayQuantiles = std::array<double, kStayQuantiles>;

// The probability that a stay of mean 1 is below x: for shape 4 and rate 4,
// 1 - e^(-4x) (1 + 4x + (4x)^2 / 2 + (4x)^3 / 6).
double StayProbability(double x) {
  const double y = 4 * x;
  return 1 - std::exp(-y) * (1 + y + y * y / 2 + y * y * y / 6);
}

const StayQuantiles& Quantiles() {
  static const StayQuantiles quantiles = [] {
    StayQuantiles table{};
    for (size_t i = 1; i < kStayQuantiles; ++i) {
      const double wanted = static_cast<double>(i) / kStayQuantiles;
      double low = table[i - 1];
      double high = low + 1;
      while (StayProbability(high) < wanted) high *= 2;
      for (int step = 0; step < 60; ++step) {
        const double middle = (low + high) / 2;
        (StayProbability(middle) < wanted ? low : high) = middle;
      }
      table[i] = (low + high) / 2;
    }
    return table;
  }();
  return quantiles;
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
  // One uniform through the table of the distribution's quantiles; the far
  // tail, beyond the table, as the sum of four exponential parts (one
  // logarithm of the product of four uniforms in (0, 1]).
  const StayQuantiles& quantiles = Quantiles();
  const double position = Uniform() * kStayQuantiles;
  const size_t index = static_cast<size_t>(position);
  if (index + 1 < kStayQuantiles) {
    const double fraction = position - static_cast<double>(index);
    return mean * (quantiles[index] + fraction * (quantiles[index + 1] - quantiles[index]));
  }
  double product = 1;
  for (int i = 0; i < 4; ++i) product *= 1 - Uniform();
  return -mean / 4 * std::log(product);
}

}  // namespace tly
