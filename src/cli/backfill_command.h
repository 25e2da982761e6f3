#ifndef TLY_CLI_BACKFILL_COMMAND_H_
#define TLY_CLI_BACKFILL_COMMAND_H_

namespace CLI {
class App;
}

#include <string>
#include <string_view>

#include "support/date_time.h"

namespace tly {

// The options of `backfill` as given on the command line.
struct BackfillOptions {
  std::string out_dir;
  std::string from;
  std::string to;
  std::string seed;      // empty: 0, or the scenario's seed
  std::string existing;  // "", "continue", "replace" or "skip"
  std::string scenario;  // a scenario file: its sites instead of the program's own
  std::string jobs;      // empty: all cores
  std::string shard;     // "K/N"; empty: the whole
  bool deliver = false;  // deliver the files written, as the scenario's sites do
};

// Registers `backfill --out DIR --from YYYY-MM-DD --to YYYY-MM-DD [--seed N]
// [--existing continue|replace|skip] [--jobs N]`
// on `app` and returns the subcommand; parsing fills `options`, which must
// outlive `app`.
CLI::App* AddBackfillCommand(CLI::App& app, BackfillOptions& options);

// Runs the parsed backfill: the generator's ticks of every day from FROM to TO
// into the day files of DIR. On a terminal a progress line is rewritten in
// place; otherwise only the final summary line is printed. Returns 0 on
// success; 2, reported on stderr before any file is touched, for bad
// arguments, for day files of the range that exist while --existing is not
// given, and for another writer in DIR; 1 when a day file cannot be written
// (the days before it are complete; the message names the day) or the summary
// could not be written to stdout.
int RunBackfillCommand(const BackfillOptions& options);

class CommandOutput;
enum class ExistingDayFiles;

// The value of --existing: "" (refuse), "continue", "replace" or "skip".
// Throws UsageError for another.
ExistingDayFiles ParseExisting(std::string_view text);

// `date` written YYYY-MM-DD, as the options take it.
std::string FormatIsoDate(TDateTime date);

// `backfill --scenario`: every site of the scenario from FROM to TO into
// DIR/<site>/, on --jobs threads, only the --shard share. Reports through
// `output`; the same exit codes as the program's own backfill, and the same
// failure: a site-day that cannot be written stops the run, the message names
// it, and every site-day before it (site by site, day by day) is whole.
int RunScenarioBackfill(const BackfillOptions& options, CommandOutput& output);

}  // namespace tly

#endif  // TLY_CLI_BACKFILL_COMMAND_H_
