#include "gui/process_launch.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

extern char** environ;

namespace tly {

pid_t SpawnDetached(const std::vector<std::string>& argv) {
  if (argv.empty()) throw std::system_error(EINVAL, std::generic_category(), "no program");
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  // The child starts with no signal blocked, whatever this thread blocks.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (error != 0) throw std::system_error(error, std::generic_category(), argv[0]);
  return pid;
}

void ReapFinished(std::vector<pid_t>& pids) {
  pids.erase(std::remove_if(pids.begin(), pids.end(),
                            [](pid_t pid) {
                              int status = 0;
                              const pid_t result = waitpid(pid, &status, WNOHANG);
                              // Ended and reaped, or no longer our child at all.
                              return result == pid || (result < 0 && errno == ECHILD);
                            }),
             pids.end());
}

std::string SystemErrorText(int code) {
  std::string text = "System Error.  Code: " + std::to_string(code) + ".\r\n";
  text += code == 0 ? "A call to an OS function failed" : std::strerror(code);
  return text;
}

}  // namespace tly
