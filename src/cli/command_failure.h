#ifndef TLY_CLI_COMMAND_FAILURE_H_
#define TLY_CLI_COMMAND_FAILURE_H_

#include <string_view>

#include "cli/command_style.h"

// The one mapping from what stopped a command to its message and exit code,
// so that every command tells a refusal from a failure the same way.

namespace tly {

// Reports the exception being handled (call it inside a catch block) and
// gives the exit code to end with:
// - a refusal of what was asked, nothing written: std::invalid_argument (bad
//   options, a bad scenario file, a day file of another layout; day files
//   that exist while --existing is not given, with a hint at --existing) or
//   another writer holding the directory: kExitUsage;
// - a file that could not be read or written (std::system_error): its
//   message followed by `done` (what was done before it; may be empty),
//   kExitFailed.
// Anything else is thrown on.
int ReportCommandFailure(CommandOutput& output, std::string_view done = {});

}  // namespace tly

#endif  // TLY_CLI_COMMAND_FAILURE_H_
