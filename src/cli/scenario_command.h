#ifndef TLY_CLI_SCENARIO_COMMAND_H_
#define TLY_CLI_SCENARIO_COMMAND_H_

#include <string>

namespace CLI {
class App;
}

namespace tly {

// The options of `scenario` as given on the command line.
struct ScenarioOptions {
  bool example = false;
  std::string check;  // a scenario file to check
  std::string from;
  std::string to;
};

// Registers `scenario --example | --check FILE [--from D --to D]` on `app`;
// parsing fills `options`, which must outlive `app`.
CLI::App* AddScenarioCommand(CLI::App& app, ScenarioOptions& options);

// Prints the commented example scenario, or checks a scenario file and
// prints what it would generate: its sites (layout, profile, zone), and for a
// range of days the files and the expected visitors per site; without a range
// the expected visitors of each weekday. Returns 0, 1 when stdout was lost,
// 2 for a bad file or options (the file, line and key on stderr).
int RunScenarioCommand(const ScenarioOptions& options);

}  // namespace tly

#endif  // TLY_CLI_SCENARIO_COMMAND_H_
