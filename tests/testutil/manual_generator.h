#ifndef TLY_TESTS_TESTUTIL_MANUAL_GENERATOR_H_
#define TLY_TESTS_TESTUTIL_MANUAL_GENERATOR_H_

#include <cstdint>
#include <string>

#include "live/generation_cycle.h"
#include "live/generation_timer.h"
#include "support/clock.h"
#include "support/date_time.h"

namespace tly::testing {

// A generator writing into `out_dir` from 7 December 2026 10:00, driven tick by tick
// on a manual clock.
class Generator {
 public:
  explicit Generator(const std::string& out_dir)
      : out_dir_(out_dir),
        clock_(EncodeDate(2026, 12, 7) + EncodeTime(10, 0, 0, 0)),
        scoped_(clock_),
        cycle_(timer_, [this] { return out_dir_; }, {}) {
    cycle_.StartGeneration();
  }

  // One tick two seconds after the last one (or `step_seconds` later).
  void Tick(double step_seconds = 2) {
    clock_.AdvanceSeconds(step_seconds);
    cycle_.Tick();
  }

  // Ticks until a save was attempted; returns whether it succeeded.
  bool TickUntilSave(double step_seconds = 2) {
    const uint64_t before = cycle_.SaveCount();
    for (int i = 0; i < 100 && cycle_.SaveCount() == before; ++i) Tick(step_seconds);
    return cycle_.SaveCount() > before && cycle_.LastSaveOk();
  }

  GenerationCycle& cycle() { return cycle_; }
  const std::string& day_file() const { return cycle_.DayFileName(); }

 private:
  std::string out_dir_;
  ManualClock clock_;
  ScopedClock scoped_;
  FlagTimer timer_;
  GenerationCycle cycle_;
};

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_MANUAL_GENERATOR_H_
