#include "support/thread_priority.h"

#include <sched.h>

namespace tly {

bool LowerCallingThreadPriority() {
  // SCHED_IDLE rather than the highest nice value: a thread of normal
  // priority that wakes up takes the core from an idle-policy thread at
  // once, while a niced thread keeps it until its time slice is used up,
  // which can be milliseconds. On Linux the policy set here is the calling
  // thread's own, not the whole process's.
  const sched_param param{};
  return ::sched_setscheduler(0, SCHED_IDLE, &param) == 0;
}

}  // namespace tly
