#include "support/clock.h"

namespace tly {
namespace {

const Clock*& InstalledClock() {
  static const SystemClock system_clock;
  static const Clock* installed = &system_clock;
  return installed;
}

}  // namespace

const Clock& CurrentClock() {
  return *InstalledClock();
}

ScopedClock::ScopedClock(const Clock& clock) : previous_(InstalledClock()) {
  InstalledClock() = &clock;
}

ScopedClock::~ScopedClock() {
  InstalledClock() = previous_;
}

}  // namespace tly
