#ifndef TLY_GUI_PROCESS_LAUNCH_H_
#define TLY_GUI_PROCESS_LAUNCH_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace tly {

// Starts the program argv[0], searched along PATH, with exactly the arguments
// `argv` (no shell: blanks and shell characters reach it unchanged), our
// environment and current directory, and does not wait for it. Returns its
// process id, which the caller must reap (ReapFinished). Throws
// std::system_error with the errno when it cannot be started (not found, not
// executable, no resources).
pid_t SpawnDetached(const std::vector<std::string>& argv);

// Reaps every process of `pids` that has ended, without blocking, and removes
// it from the list.
void ReapFinished(std::vector<pid_t>& pids);

// "System Error.  Code: <code>.\r\n<the system's text for code>", or the text
// "A call to an OS function failed" for code 0.
std::string SystemErrorText(int code);

}  // namespace tly

#endif  // TLY_GUI_PROCESS_LAUNCH_H_
