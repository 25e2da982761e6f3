#include "scenario/stay_distribution.h"

#include <cmath>
#include <memory>

#include "scenario/stream_random.h"

namespace tly {
namespace {

// The regularized lower incomplete gamma function P(a, x), given
// log_gamma_a = ln Gamma(a) (the same for every x of a distribution): by its
// series below a + 1, by the continued fraction of its complement above.
double LowerGamma(double a, double log_gamma_a, double x) {
  if (x <= 0) return 0;
  const double scale = std::exp(-x + a * std::log(x) - log_gamma_a);
  constexpr double kEpsilon = 1e-15;
  if (x < a + 1) {
    double term = 1 / a;
    double sum = term;
    for (int n = 1; n < 10000 && term > sum * kEpsilon; ++n) {
      term *= x / (a + n);
      sum += term;
    }
    return sum * scale;
  }
  // Lentz's method for the continued fraction of Q(a, x).
  constexpr double kTiny = 1e-300;
  double b = x + 1 - a;
  double c = 1 / kTiny;
  double d = 1 / b;
  double h = d;
  for (int i = 1; i < 10000; ++i) {
    const double an = -i * (i - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1) < kEpsilon) break;
  }
  return 1 - scale * h;
}

}  // namespace

StayDistribution::StayDistribution(double spread)
    : spread_(spread),
      shape_(1 / (spread * spread)),
      log_gamma_shape_(LogGamma(shape_)),
      quantiles_(kPoints, 0.0) {
  for (size_t i = 1; i < kPoints; ++i) {
    quantiles_[i] = Quantile(static_cast<double>(i) / kPoints, quantiles_[i - 1]);
  }
}

double StayDistribution::Probability(double x) const {
  return LowerGamma(shape_, log_gamma_shape_, shape_ * x);
}

double StayDistribution::Quantile(double wanted, double low) const {
  double high = low + 1;
  while (Probability(high) < wanted) high *= 2;
  for (int step = 0; step < 60; ++step) {
    const double middle = (low + high) / 2;
    (Probability(middle) < wanted ? low : high) = middle;
  }
  return (low + high) / 2;
}

double StayDistribution::Tail(StreamRandom& stream) const {
  const double wanted =
      (static_cast<double>(kPoints - 1) + stream.Uniform()) / static_cast<double>(kPoints);
  return Quantile(wanted, quantiles_[kPoints - 1]);
}

const StayDistribution& StayDistribution::Of(double spread) {
  // A scenario has few spreads; consecutive site-days of a thread mostly
  // share one.
  thread_local std::vector<std::unique_ptr<StayDistribution>> made;
  for (const auto& distribution : made) {
    if (distribution->spread_ == spread) return *distribution;
  }
  made.push_back(std::make_unique<StayDistribution>(spread));
  return *made.back();
}

}  // namespace tly
