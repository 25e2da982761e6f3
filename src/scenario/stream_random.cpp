#include "scenario/stream_random.h"

#include <math.h>

#include <array>
#include <cmath>

namespace tly {
namespace {

// The probability that a stay of mean 1 is below x: for shape 4 and rate 4,
// 1 - e^(-4x) (1 + 4x + (4x)^2 / 2 + (4x)^3 / 6).
double StayProbability(double x) {
  const double y = 4 * x;
  return 1 - std::exp(-y) * (1 + y + y * y / 2 + y * y * y / 6);
}

// The stay (mean 1) at or above `low` whose probability is `wanted`, by
// bisection.
double StayQuantile(double wanted, double low) {
  double high = low + 1;
  while (StayProbability(high) < wanted) high *= 2;
  for (int step = 0; step < 60; ++step) {
    const double middle = (low + high) / 2;
    (StayProbability(middle) < wanted ? low : high) = middle;
  }
  return (low + high) / 2;
}

// The quantiles of the stay's distribution at i/n.
template <size_t N>
std::array<double, N> MakeQuantiles() {
  std::array<double, N> table{};
  for (size_t i = 1; i < N; ++i) table[i] = StayQuantile(static_cast<double>(i) / N, table[i - 1]);
  return table;
}

}  // namespace

double LogGamma(double x) {
  int sign = 0;
  return ::lgamma_r(x, &sign);
}

uint64_t HashOfName(std::string_view name) {
  // FNV-1a over the bytes, then mixed.
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ull;
  }
  return StreamRandom::Mix(hash);
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

int64_t StreamRandom::Poisson(double mean) {
  if (mean <= 0) return 0;
  if (mean < 12) {
    // Multiplying uniforms until the product falls below e^-mean.
    return SmallPoisson(std::exp(-mean));
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
        -mean + k * log_mean - LogGamma(k + 1)) {
      return static_cast<int64_t>(k);
    }
  }
}

double StreamRandom::Normal() {
  // Marsaglia's polar method, keeping one of the pair: a stream is short.
  for (;;) {
    const double x = 2 * Uniform() - 1;
    const double y = 2 * Uniform() - 1;
    const double r = x * x + y * y;
    if (r > 0 && r < 1) return x * std::sqrt(-2 * std::log(r) / r);
  }
}

double StreamRandom::Gamma(double shape) {
  if (shape < 1) {
    // Shape below 1 from shape + 1, scaled by U^(1/shape).
    const double u = Uniform();
    return Gamma(shape + 1) * std::pow(u > 0 ? u : 0x1.0p-53, 1 / shape);
  }
  // Marsaglia and Tsang's squeeze method.
  const double d = shape - 1.0 / 3;
  const double c = 1 / std::sqrt(9 * d);
  for (;;) {
    double x = 0;
    double v = 0;
    do {
      x = Normal();
      v = 1 + c * x;
    } while (v <= 0);
    v = v * v * v;
    const double u = Uniform();
    if (u < 1 - 0.0331 * x * x * x * x) return d * v;
    if (u > 0 && std::log(u) < 0.5 * x * x + d * (1 - v + std::log(v))) return d * v;
  }
}

// Made when the program starts, so that a draw never checks whether it was.
const std::array<double, StreamRandom::kStayPoints> StreamRandom::stay_quantiles_ =
    MakeQuantiles<StreamRandom::kStayPoints>();

double StreamRandom::StayTail(double mean) {
  // A probability in the last 1/n, turned into its stay by bisection (rare
  // enough that its cost does not count).
  const double wanted =
      (static_cast<double>(kStayPoints - 1) + Uniform()) / static_cast<double>(kStayPoints);
  return mean * StayQuantile(wanted, stay_quantiles_[kStayPoints - 1]);
}

}  // namespace tly
