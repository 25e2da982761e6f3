#ifndef TLY_GENERATOR_STREAM_RANDOM_H_
#define TLY_GENERATOR_STREAM_RANDOM_H_

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

// The key of one stream.
struct StreamKey {
  uint32_t seed = 0;
  uint64_t site = 0;     // HashOfName of the site's name
  int64_t day = 0;       // the day number of the local date
  int32_t quarter = 0;   // real quarter hour of the day, or a negative number for day-wide draws
  int32_t channel = 0;   // the channel (from 1), or 0 for draws of the whole site
};

// One stream: splitmix64 steps from a state derived from its key.
class StreamRandom {
 public:
  explicit StreamRandom(const StreamKey& key);

  // The next 64 random bits.
  uint64_t Next();
  // A number in [0, 1) with 53 random bits.
  double Uniform();
  // A whole number in 0..n-1 (n > 0), without bias.
  uint32_t Below(uint32_t n);
  // A Poisson-distributed count of mean `mean` (>= 0).
  int64_t Poisson(double mean);
  // A stay of mean `mean` drawn from a gamma distribution of shape 4 (the sum
  // of four exponential parts): rarely very short, rarely far beyond the mean.
  double Stay(double mean);

 private:
  uint64_t state_;
};

}  // namespace tly

#endif  // TLY_GENERATOR_STREAM_RANDOM_H_
