#ifndef TLY_SCENARIO_STREAM_RANDOM_H_
#define TLY_SCENARIO_STREAM_RANDOM_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Random numbers for scenarios that do not depend on what was drawn before:
// each stream is named by a key (the seed, the site, the day, the quarter
// hour, the channel) and starts from a hash of it. So any day of any site can
// be generated on its own, in any order, on any thread or machine, and gives
// the same numbers.

namespace tly {

// A 64-bit hash of a text (a site's name), so that a site keeps its streams
// whatever its place in the scenario file.
uint64_t HashOfName(std::string_view name);

// ln |Gamma(x)|, safe on any thread: std::lgamma also stores the sign in the
// global signgam, a data race when site-days are drawn on several threads.
double LogGamma(double x);

// The key of one stream.
struct StreamKey {
  uint32_t seed = 0;
  uint64_t site = 0;    // HashOfName of the site's name
  int64_t day = 0;      // the day number of the local date
  int32_t quarter = 0;  // real quarter hour of the day, or a negative number for day-wide draws
  int32_t channel = 0;  // the channel (from 1), or 0 for draws of the whole site
};

// One stream: splitmix64 steps from a state derived from its key.
class StreamRandom {
 public:
  explicit StreamRandom(const StreamKey& key);

  // The next 64 random bits.
  uint64_t Next() {
    state_ += kGolden;
    return Mix(state_);
  }
  // A number in [0, 1) with 53 random bits.
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // A whole number in 0..n-1 (n > 0), without bias.
  uint32_t Below(uint32_t n) {
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
  // A Poisson-distributed count of mean `mean` (>= 0).
  int64_t Poisson(double mean);
  // A Poisson-distributed count of a small mean (below 12) given as
  // e^-mean, for many draws of one mean.
  int64_t SmallPoisson(double exp_minus_mean) {
    int64_t count = 0;
    for (double product = Uniform(); product > exp_minus_mean; product *= Uniform()) ++count;
    return count;
  }
  // A standard normal number.
  double Normal();
  // A gamma-distributed number of shape `shape` (> 0) and mean `shape`.
  double Gamma(double shape);
  // A stay of mean `mean` drawn from a gamma distribution of shape 4 (the sum
  // of four exponential parts): rarely very short, rarely far beyond the mean.
  double Stay(double mean) {
    // One draw through the table of the distribution's quantiles: its top
    // bits choose the point, the rest the place between it and the next.
    const uint64_t bits = Next();
    const size_t index = static_cast<size_t>(bits >> (64 - kStayPointBits));
    if (index + 1 == kStayPoints) return StayTail(mean);
    const double fraction =
        static_cast<double>(bits & ((uint64_t{1} << (64 - kStayPointBits)) - 1)) * 0x1.0p-54;
    return mean * (stay_quantiles_[index] +
                   fraction * (stay_quantiles_[index + 1] - stay_quantiles_[index]));
  }

 private:
  static constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;

  // The quantiles of the stay's distribution (mean 1) at 0, 1/n, 2/n, ... of
  // its probability: few enough to stay in the first level cache beside a
  // day's counts; the curve is smooth enough for straight lines between.
  static constexpr int kStayPointBits = 10;
  static constexpr size_t kStayPoints = size_t{1} << kStayPointBits;
  static const std::array<double, kStayPoints> stay_quantiles_;

  // A stay from the last 1/n of the probability, beyond the table.
  double StayTail(double mean);

  // splitmix64's output function: every input bit changes about half of the
  // output bits.
  static uint64_t Mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  friend uint64_t HashOfName(std::string_view name);

  uint64_t state_;
};

}  // namespace tly

#endif  // TLY_SCENARIO_STREAM_RANDOM_H_
