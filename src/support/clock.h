#ifndef TLY_SUPPORT_CLOCK_H_
#define TLY_SUPPORT_CLOCK_H_

#include "support/date_time.h"

namespace tly {

// Where the program reads the current local date-time. The generation cycle and
// the header's "last updated" line read it through CurrentClock(), so a test
// or the backfill can set the time instead of waiting for it.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual TDateTime Now() const = 0;
};

// The system's local time.
class SystemClock final : public Clock {
 public:
  TDateTime Now() const override { return SystemNow(); }
};

// A clock that shows whatever it was last set to.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(TDateTime now = 0) : now_(now) {}
  TDateTime Now() const override { return now_; }
  void Set(TDateTime now) { now_ = now; }
  void AdvanceSeconds(double seconds) { now_ += seconds / 86400.0; }

 private:
  TDateTime now_;
};

// The clock in force: the system clock unless a test or the backfill installed
// another one with ScopedClock.
const Clock& CurrentClock();

// Installs `clock` as the current clock for the scope's lifetime and restores
// the previous one afterwards. `clock` must outlive the scope.
class ScopedClock {
 public:
  explicit ScopedClock(const Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  const Clock* previous_;
};

}  // namespace tly

#endif  // TLY_SUPPORT_CLOCK_H_
