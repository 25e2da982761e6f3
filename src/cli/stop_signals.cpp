#include "cli/stop_signals.h"

#include <pthread.h>

#include <ctime>

namespace tly {

StopSignals::StopSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  sigaddset(&set_, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
}

StopSignals::~StopSignals() {
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

bool StopSignals::WaitUntil(Clock::time_point deadline) {
  for (;;) {
    const auto remaining = deadline - Clock::now();
    if (remaining <= Clock::duration::zero()) return false;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count();
    timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    const int signal = sigtimedwait(&set_, nullptr, &timeout);
    if (signal > 0) return true;
    // EAGAIN: the time is up (checked again above); EINTR: another signal.
  }
}

}  // namespace tly
