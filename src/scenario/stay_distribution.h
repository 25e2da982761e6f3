#ifndef TLY_GENERATOR_STAY_DISTRIBUTION_H_
#define TLY_GENERATOR_STAY_DISTRIBUTION_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "scenario/stream_random.h"

// Stays of a given spread: a gamma distribution of mean 1 whose coefficient
// of variation is the spread, drawn through a table of its quantiles, as
// fast as a uniform draw (a site-day draws one stay per visitor).

namespace tly {

class StayDistribution {
 public:
  // The distribution of coefficient of variation `spread` (> 0).
  explicit StayDistribution(double spread);

  // A stay of mean `mean` drawn from `stream`.
  double Draw(StreamRandom& stream, double mean) const {
    const uint64_t bits = stream.Next();
    const size_t index = static_cast<size_t>(bits >> (64 - kPointBits));
    if (index + 1 == kPoints) return mean * Tail(stream);
    const double fraction =
        static_cast<double>(bits & ((uint64_t{1} << (64 - kPointBits)) - 1)) * 0x1.0p-54;
    return mean * (quantiles_[index] + fraction * (quantiles_[index + 1] - quantiles_[index]));
  }

  // The distribution of `spread`, made once per thread and spread.
  static const StayDistribution& Of(double spread);

 private:
  static constexpr int kPointBits = 10;
  static constexpr size_t kPoints = size_t{1} << kPointBits;

  // The probability that a stay of mean 1 is below `x`.
  double Probability(double x) const;
  // The stay at or above `low` whose probability is `wanted`.
  double Quantile(double wanted, double low) const;
  // A stay from the last 1/n of the probability, beyond the table.
  double Tail(StreamRandom& stream) const;

  double spread_;
  double shape_;
  double log_gamma_shape_;         // ln Gamma(shape_), which every probability needs
  std::vector<double> quantiles_;  // at 0, 1/n, 2/n, ... of the probability
};

}  // namespace tly

#endif  // TLY_GENERATOR_STAY_DISTRIBUTION_H_
