#ifndef TLY_CLI_VERIFY_COMMAND_H_
#define TLY_CLI_VERIFY_COMMAND_H_

namespace CLI {
class App;
}

#include <string>
#include <string_view>
#include <vector>

#include "faults/truth_score.h"

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

// One day file as verify judges it: its findings, and the problem its line
// of plain output names ("" when it is OK).
struct VerifiedFile {
  CheckedFile checked;
  std::string first_problem;
};

// Checks the day file `bytes` read from `path` as verify does.
VerifiedFile CheckReadDayFile(const std::string& path, std::string_view bytes);

// The scores of `checked` against the truth file `path`. Throws
// std::invalid_argument saying what is wrong with the truth file.
std::vector<KindScore> ScoreTruthFile(const std::string& path,
                                      const std::vector<CheckedFile>& checked);

// The table of `scores` against the truth file `truth`, line by line, as
// verify prints it.
std::vector<std::string> TruthScoreLines(const std::string& truth,
                                         const std::vector<KindScore>& scores);

}  // namespace tly

#endif  // TLY_CLI_VERIFY_COMMAND_H_
