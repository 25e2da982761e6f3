#ifndef TLY_TESTS_TESTUTIL_DRAW_MODEL_H_
#define TLY_TESTS_TESTUTIL_DRAW_MODEL_H_

#include <algorithm>
#include <array>
#include <cstdint>

namespace tly::testing {

// The counts of one tick on ch1..ch10.
using TickRow = std::array<int64_t, 10>;

// The program's random sequence and its ticks, written here on their own
// from the rule (not from the program's code), so that tests compare two
// independent accounts: S := S * 134775813 + 1 (mod 2^32), a draw below 2 is
// the high half of S * 2; a tick is, per door, an entry draw and the smaller
// of it and the next draw as exit, then the passage's two draws.
class DrawModel {
 public:
  explicit DrawModel(uint32_t seed = 0) : state_(seed) {}

  uint32_t Next() {
    state_ = state_ * 134775813u + 1u;
    return static_cast<uint32_t>((static_cast<uint64_t>(state_) * 2u) >> 32);
  }

  TickRow Tick() {
    TickRow row{};
    for (int door = 0; door < 4; ++door) {
      row[2 * door] = Next();
      row[2 * door + 1] = std::min<int64_t>(row[2 * door], Next());
    }
    row[8] = Next();
    row[9] = Next();
    return row;
  }

  // The sum of the next `ticks` ticks per channel.
  TickRow SumOfTicks(uint64_t ticks) {
    TickRow sums{};
    for (uint64_t t = 0; t < ticks; ++t) {
      const TickRow row = Tick();
      for (int c = 0; c < 10; ++c) sums[c] += row[c];
    }
    return sums;
  }

  uint32_t state() const { return state_; }

 private:
  uint32_t state_;
};

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_DRAW_MODEL_H_
