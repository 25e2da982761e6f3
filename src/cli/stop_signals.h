#ifndef TLY_CLI_STOP_SIGNALS_H_
#define TLY_CLI_STOP_SIGNALS_H_

#include <signal.h>

#include <chrono>

namespace tly {

// SIGINT, SIGTERM and SIGHUP (a closed terminal) blocked for the scope and
// taken synchronously, so that a signal can never slip in between a check
// and a sleep: a headless run stops at the next wait and saves first.
class StopSignals {
 public:
  using Clock = std::chrono::steady_clock;

  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Waits until `deadline` or a stop signal; true when a signal came.
  bool WaitUntil(Clock::time_point deadline);

 private:
  sigset_t set_;
  sigset_t previous_;
};

}  // namespace tly

#endif  // TLY_CLI_STOP_SIGNALS_H_
