#ifndef TLY_CLI_VERIFY_COMMAND_H_
#define TLY_CLI_VERIFY_COMMAND_H_

namespace CLI {
class App;
}

#include <string>
#include <vector>

namespace tly {

// The options of `verify` as given on the command line.
struct VerifyOptions {
  std::vector<std::string> files;
  bool json = false;
  std::string truth;  // a faults.jsonl to score the findings against
};

// Registers `verify [--json] [--truth FILE] FILE...` on `app` and returns the
// subcommand; parsing fills `options`, which must outlive `app`.
CLI::App* AddVerifyCommand(CLI::App& app, VerifyOptions& options);

// Checks each file given to `verify` as a strict reader of the day file format
// would (InspectDayFile of dayfile/day_file_findings.h, its day from its name)
// and prints "<file>: OK" or "<file>: BAD: <first problem>" for it, or with
// --json one JSON object per file and line: "file", "verdict" (OK, BAD or
// UNREADABLE) and "problems", each with "line", "kind" and "problem". A file
// that cannot be read is reported on stderr and the others are still checked.
// With --truth, a table per fault kind follows (a last JSON object with
// --json): faults planted in the files read, found, missed, and false alarms.
// Returns 0 when every file is OK, 1 when one is bad, 2 when one cannot be
// read, the truth cannot be read, or no file was given. Reads regular files
// only: a named pipe or a device is reported as unreadable, never waited for.
int RunVerifyCommand(const VerifyOptions& options);

}  // namespace tly

#endif  // TLY_CLI_VERIFY_COMMAND_H_
