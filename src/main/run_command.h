#ifndef TLY_MAIN_RUN_COMMAND_H_
#define TLY_MAIN_RUN_COMMAND_H_

#include <cstdint>
#include <string>

namespace CLI {
class App;
}

namespace tly {

// Options of `tly-generator run`.
struct RunOptions {
  std::string out_dir;   // empty: the directory of the settings file
  int64_t seconds = -1;  // how long to run; negative: until a signal
  uint32_t seed = 0;     // initial state of the random source
};

// Registers the `run` subcommand, which fills `options` when parsed.
CLI::App* AddRunCommand(CLI::App& app, RunOptions& options);

// Generates without any window: the cycle ticks every 2 seconds of a steady
// clock (the first tick 2 seconds after the start) into the day file of the
// output directory, until SIGINT, SIGTERM or the end of `seconds`, and then
// stops with a final save. Prints the day file at the start and what was saved
// at the end. Returns 0 after a successful final save, 1 when it failed, 2
// when there is no usable output directory (reported on stderr). Never reads
// or writes anything but the settings file (read only) and the day files.
int RunGeneration(const RunOptions& options);

}  // namespace tly

#endif  // TLY_MAIN_RUN_COMMAND_H_
