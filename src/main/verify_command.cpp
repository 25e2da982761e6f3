#include "verify_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>

#include "command_style.h"
#include "dayfile/day_file_check.h"
#include "exit_codes.h"
#include "support/file_read.h"

namespace tly {

namespace {

// A file that cannot be read is not a bad day file: it has its own code.
constexpr int kExitUnreadable = kExitUsage;

}  // namespace

CLI::App* AddVerifyCommand(CLI::App& app, VerifyOptions& options) {
  CLI::App* verify = app.add_subcommand(
      "verify",
      "Check day files as a reader would: header from #T to #S, the two title lines, the rows, "
      "CR LF line ends and the seal. Exit code 0 when all are OK, 1 when one is bad, 2 when one "
      "cannot be read or for a usage error");
  verify->add_option("FILE", options.files, "Day files to check")->type_name("FILE...")->required();
  return verify;
}

int RunVerifyCommand(const VerifyOptions& options) {
  CommandOutput output("verify");
  int exit_code = kExitOk;
  for (const std::string& path : options.files) {
    std::optional<std::string> bytes;
    std::string problem;
    try {
      bytes = ReadWholeFile(path);
      if (!bytes) problem = std::generic_category().message(ENOENT);
    } catch (const std::system_error& error) {
      problem = error.code().value() == EINVAL ? "not a regular file" : error.code().message();
    }
    if (!bytes) {
      output.Error("cannot read " + path + ": " + problem);
      exit_code = kExitUnreadable;
      continue;
    }
    const DayFileCheck check = CheckDayFile(*bytes);
    if (check.ok) {
      output.Line(path + ": OK");
    } else {
      output.Line(path + ": BAD: " + check.problem);
      exit_code = std::max(exit_code, kExitFailed);
    }
  }
  return output.Finish(exit_code);
}

}  // namespace tly
