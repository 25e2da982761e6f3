#ifndef TLY_CLI_RUN_COMMAND_H_
#define TLY_CLI_RUN_COMMAND_H_

#include <string>

namespace CLI {
class App;
}

namespace tly {

// The options of `run` as given on the command line.
struct RunOptions {
  std::string out_dir;     // when not given: OutDir of the settings file
  bool out_given = false;  // --out was given, even as an empty word
  std::string seconds;     // empty: until a signal
  std::string seed;        // empty: 0, or the scenario's seed
  std::string scenario;    // a scenario file: its sites live instead of the program's own
  std::string speed;       // simulated seconds per real second (scenarios)
  std::string start;       // simulated start, YYYY-MM-DDTHH:MM UTC (scenarios)
  std::string end;         // simulated end (scenarios)
};

// Registers the `run` subcommand on `app`; parsing fills `options`, which
// must outlive `app`.
CLI::App* AddRunCommand(CLI::App& app, RunOptions& options);

// Generates without any window: the cycle ticks every 2 seconds of a steady
// clock (the first tick 2 seconds after the start, so `seconds` N makes
// N / 2 ticks) into the day file of the output directory (used as given; an
// empty --out is refused), holding the directory's writer lock, until
// SIGINT, SIGTERM, SIGHUP or the end of `seconds`, and then stops with a
// final save. Prints the day file at the start, each change of day, and
// at the end how many ticks ran and what was saved; on stderr when saving
// starts to fail (with the reason) and when it works again. Returns 0 after a
// successful final save, 1 when it failed or stdout could not be written, 2
// for bad options, no usable output directory or another writer in it
// (reported on stderr). Never writes anything but the day files and the lock
// file (the settings file is only read): a save that fails leaves no
// temporary file and no debug log.
int RunGeneration(const RunOptions& options);

class CommandOutput;

// `run --scenario`: every site of the scenario live into DIR/<site>/, a tick
// every 2 simulated seconds, the simulated clock running --speed times as
// fast as the real one from --start, until --end, --seconds or a signal, and
// a final save of every site. Reports through `output`; exit codes as `run`.
int RunScenarioLive(const RunOptions& options, CommandOutput& output);

}  // namespace tly

#endif  // TLY_CLI_RUN_COMMAND_H_
