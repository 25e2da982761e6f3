#ifndef TLY_TESTS_TESTUTIL_WAIT_FOR_H_
#define TLY_TESTS_TESTUTIL_WAIT_FOR_H_

#include <chrono>
#include <thread>

namespace tly::testing {

// How long a test waits for something a working program does at once (a line
// printed, a file written). Only a hung program takes this long, so it is
// generous enough for a loaded machine, a sanitizer build or valgrind.
inline constexpr std::chrono::seconds kGenerousDeadline{180};

// Checks `condition` every few milliseconds until it holds (true) or
// `deadline` has passed (false, after one last check).
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds deadline = kGenerousDeadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_WAIT_FOR_H_
