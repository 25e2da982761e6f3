#ifndef TLY_TESTS_TESTUTIL_CHILD_PROCESS_H_
#define TLY_TESTS_TESTUTIL_CHILD_PROCESS_H_

#include <sys/wait.h>
#include <unistd.h>

#include <utility>

namespace tly::testing {

// Runs `body` in a forked child, so that a test can lower resource limits or
// drop privileges without touching the test process. Returns the child's exit
// code: what `body` returned, 99 when it threw, -1 when the child died of a
// signal or could not be started.
template <typename Body>
int RunInChild(Body&& body) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int code = 99;
    try {
      code = std::forward<Body>(body)();
    } catch (...) {
    }
    ::_exit(code);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_CHILD_PROCESS_H_
