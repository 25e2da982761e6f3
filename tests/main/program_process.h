#ifndef TLY_TESTS_MAIN_PROGRAM_PROCESS_H_
#define TLY_TESTS_MAIN_PROGRAM_PROCESS_H_

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace tly::testing {

// The built program, started with `args`, its output going to files in `dir`,
// with no display in its environment unless `extra_env` brings a platform.
class Program {
 public:
  Program(const std::string& exe, const std::vector<std::string>& args, const std::string& dir,
          std::vector<std::string> extra_env = {})
      : out_(dir + "/stdout.txt"), err_(dir + "/stderr.txt"), extra_env_(std::move(extra_env)) {
    std::vector<std::string> all = {exe};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // No display: the run command must not need one.
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e)
      if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
        env.push_back(*e);
    for (std::string& extra : extra_env_) env.push_back(extra.data());
    env.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  // Waits for the end; the exit code, or -1 when it died of a signal.
  int Wait() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Signal(int signal) { kill(pid_, signal); }
  std::string Out() const { return ReadBytes(out_); }
  std::string Err() const { return ReadBytes(err_); }

 private:
  std::string out_;
  std::string err_;
  std::vector<std::string> extra_env_;
  pid_t pid_ = -1;
};

}  // namespace tly::testing

#endif  // TLY_TESTS_MAIN_PROGRAM_PROCESS_H_
