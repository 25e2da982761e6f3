#ifndef TLY_MAIN_BACKFILL_COMMAND_H_
#define TLY_MAIN_BACKFILL_COMMAND_H_

namespace CLI {
class App;
}

namespace tly {

// Registers `backfill --out DIR --from YYYY-MM-DD --to YYYY-MM-DD [--seed N]`
// on `app` and returns the subcommand; its options are kept until
// RunBackfillCommand.
CLI::App* AddBackfillCommand(CLI::App& app);

// Runs the parsed backfill: the generator's ticks of every day from FROM to TO
// into the day files of DIR. On a terminal a progress line is rewritten in
// place; otherwise only the final summary line is printed. Returns 0 on
// success, 2 for bad arguments (reported on stderr before any file is touched)
// and 1 when a day file cannot be written (the days before it are complete).
int RunBackfillCommand();

}  // namespace tly

#endif  // TLY_MAIN_BACKFILL_COMMAND_H_
