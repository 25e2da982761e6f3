#ifndef TLY_TESTS_TESTUTIL_SUBCOMMAND_RUNNER_H_
#define TLY_TESTS_TESTUTIL_SUBCOMMAND_RUNNER_H_

#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "testutil/child_process.h"
#include "testutil/temp_dir.h"

namespace tly::testing {

// What a subcommand run printed and returned.
struct CommandOutcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Parses `args` (after the program name) with a fresh application that has
// only the subcommand `add(app, options)` registers, then calls `run(options)`
// when it was given, in
// a child process whose stdout and stderr go to files in `scratch`. Usage
// errors end with code 2, help with 0, as on the program's command line.
template <typename Options, typename Add, typename Run>
CommandOutcome RunSubcommand(Add add, Run run, std::vector<std::string> args,
                             const TempDir& scratch) {
  const std::string out = scratch.File("stdout.txt");
  const std::string err = scratch.File("stderr.txt");
  CommandOutcome outcome;
  outcome.exit_code = RunInChild([&] {
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    CLI::App app("test", "tly-generator");
    Options options;
    CLI::App* command = add(app, options);
    args.insert(args.begin(), "tly-generator");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    int code = 0;
    try {
      app.parse(static_cast<int>(argv.size()), argv.data());
      code = command->parsed() ? run(options) : 3;
    } catch (const CLI::ParseError& e) {
      code = app.exit(e) == 0 ? 0 : 2;
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    return code;
  });
  outcome.out = ReadBytes(out);
  outcome.err = ReadBytes(err);
  return outcome;
}

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_SUBCOMMAND_RUNNER_H_
