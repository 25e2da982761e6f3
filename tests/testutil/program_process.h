#ifndef TLY_TESTS_TESTUTIL_PROGRAM_PROCESS_H_
#define TLY_TESTS_TESTUTIL_PROGRAM_PROCESS_H_

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "testutil/temp_dir.h"
#include "testutil/wait_for.h"

extern char** environ;

namespace tly::testing {

// The built program. Its place is known relative to the test program (the
// build tree's layout), so a copy of the whole build tree runs its own copy.
inline std::string GeneratorProgram() {
  return TestProgramDir() + "/" + TLY_GENERATOR_FROM_TESTS;
}

// The program `exe` started with `args`, its stdout and stderr going to files
// in `output_dir`, with no display in its environment unless `extra_env`
// ("NAME=value" entries added to ours) brings a platform. It works in
// `work_dir`, or in the test's current directory when that is empty. When
// `stdout_fd` is given, its stdout is that descriptor instead (a pipe,
// /dev/full).
class Program {
 public:
  Program(const std::string& exe, const std::vector<std::string>& args,
          const std::string& output_dir, std::vector<std::string> extra_env = {},
          const std::string& work_dir = "", int stdout_fd = -1)
      : out_(output_dir + "/stdout.txt"), err_(output_dir + "/stderr.txt") {
    std::vector<std::string> all = {exe};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdout_fd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!work_dir.empty()) {
      posix_spawn_file_actions_addchdir_np(&actions, work_dir.c_str());
    }
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e)
      if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "WAYLAND_DISPLAY=", 16) != 0 &&
          std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
        env.push_back(*e);
    extra_env_ = std::move(extra_env);
    for (std::string& extra : extra_env_) env.push_back(extra.data());
    env.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Waits for the end; the exit code, or minus the signal that ended it.
  int Wait() {
    if (pid_ > 0) {
      int status = 0;
      if (waitpid(pid_, &status, 0) == pid_) exit_code_ = Decode(status);
      pid_ = -1;
    }
    return exit_code_;
  }
  // True while the program runs; reaps it when it has ended.
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    exit_code_ = Decode(status);
    pid_ = -1;
    return false;
  }
  void Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }
  std::string Out() const { return ReadBytes(out_); }
  std::string Err() const { return ReadBytes(err_); }

  // Waits until the program has printed `text` on stdout; false when it ended
  // or the deadline passed first.
  bool WaitForOutput(std::string_view text,
                     std::chrono::milliseconds deadline = kGenerousDeadline) {
    WaitFor([&] { return Printed(text) || !Running(); }, deadline);
    return Printed(text);
  }

 private:
  static constexpr int kRunning = -1000;

  static int Decode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }
  bool Printed(std::string_view text) const { return Out().find(text) != std::string::npos; }

  std::string out_;
  std::string err_;
  std::vector<std::string> extra_env_;
  pid_t pid_ = -1;
  int exit_code_ = kRunning;
};

// What a run of the program to its end printed and returned.
struct ProgramOutcome {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs the generator with `args` to its end, its output going to a scratch
// directory. It works in `work_dir` (the scratch directory when empty);
// `extra_env` and `stdout_fd` are as Program takes them.
inline ProgramOutcome RunGeneratorToEnd(const std::vector<std::string>& args,
                                        const std::string& work_dir = "",
                                        std::vector<std::string> extra_env = {},
                                        int stdout_fd = -1) {
  TempDir scratch;
  Program program(GeneratorProgram(), args, scratch.path(), std::move(extra_env),
                  work_dir.empty() ? scratch.path() : work_dir, stdout_fd);
  ProgramOutcome outcome;
  outcome.code = program.Wait();
  outcome.out = program.Out();
  outcome.err = program.Err();
  return outcome;
}

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_PROGRAM_PROCESS_H_
