#ifndef TLY_SUPPORT_THREAD_PRIORITY_H_
#define TLY_SUPPORT_THREAD_PRIORITY_H_

namespace tly {

// Runs the calling thread, and no other, at the lowest scheduling priority
// (the idle policy): it then gets a core only when no thread of normal
// priority wants it, on this machine or in this program, and gives it up the
// moment one does. Returns false when the system refused, and the thread
// keeps its priority.
bool LowerCallingThreadPriority();

}  // namespace tly

#endif  // TLY_SUPPORT_THREAD_PRIORITY_H_
