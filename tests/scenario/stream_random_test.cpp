// The scenario streams: the same key gives the same numbers, other keys
// other numbers, and the draws follow the distributions they claim.

#include "scenario/stream_random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace tly {
namespace {

TEST(StreamRandom, AKeyAlwaysGivesItsOwnNumbers) {
  const StreamKey key{7, HashOfName("rivoli"), 46000, 40, 3};
  StreamRandom a(key);
  StreamRandom b(key);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(a.Next(), b.Next());
  // Every part of the key counts.
  std::set<uint64_t> firsts;
  for (const StreamKey& other :
       {key, StreamKey{8, key.site, key.day, key.quarter, key.channel},
        StreamKey{7, HashOfName("rivolj"), key.day, key.quarter, key.channel},
        StreamKey{7, key.site, key.day + 1, key.quarter, key.channel},
        StreamKey{7, key.site, key.day, key.quarter + 1, key.channel},
        StreamKey{7, key.site, key.day, key.quarter, key.channel + 1},
        StreamKey{7, key.site, key.day, -1, 0}}) {
    firsts.insert(StreamRandom(other).Next());
  }
  EXPECT_EQ(firsts.size(), 7u);
}

TEST(StreamRandom, DrawsFollowTheirDistributions) {
  StreamRandom random(StreamKey{1, 2, 3, 4, 5});
  constexpr int kDraws = 200000;
  // Poisson: mean and variance both the mean, below and above the switch of
  // method at 12.
  for (const double mean : {0.5, 5.0, 11.9, 12.0, 55.0, 400.0}) {
    double sum = 0;
    double squares = 0;
    for (int i = 0; i < kDraws / 4; ++i) {
      const double k = static_cast<double>(random.Poisson(mean));
      ASSERT_GE(k, 0);
      sum += k;
      squares += k * k;
    }
    const double n = kDraws / 4;
    const double sample_mean = sum / n;
    const double variance = squares / n - sample_mean * sample_mean;
    EXPECT_NEAR(sample_mean, mean, 5 * std::sqrt(mean / n)) << mean;
    EXPECT_NEAR(variance / mean, 1.0, 0.05) << mean;
  }
  // A stay: gamma of shape 4; its mean, and the share below the mean,
  // 1 - e^-4 (1 + 4 + 8 + 32/3).
  double sum = 0;
  int below_mean = 0;
  for (int i = 0; i < kDraws; ++i) {
    const double stay = random.Stay(30);
    ASSERT_GE(stay, 0);
    sum += stay;
    below_mean += stay < 30 ? 1 : 0;
  }
  EXPECT_NEAR(sum / kDraws, 30, 0.3);
  EXPECT_NEAR(static_cast<double>(below_mean) / kDraws, 1 - std::exp(-4.0) * (1 + 4 + 8 + 32.0 / 3),
              0.005);
  // Below: every value of a small range, evenly.
  int seen[7] = {};
  for (int i = 0; i < kDraws; ++i) ++seen[random.Below(7)];
  for (const int count : seen) EXPECT_NEAR(count, kDraws / 7.0, 5 * std::sqrt(kDraws / 7.0));
}

}  // namespace
}  // namespace tly
