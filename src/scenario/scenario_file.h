#ifndef TLY_SCENARIO_SCENARIO_FILE_H_
#define TLY_SCENARIO_SCENARIO_FILE_H_

#include <stdexcept>
#include <string>
#include <string_view>

#include "scenario/scenario.h"

// Reading a scenario file (TOML): a seed, defaults for every site, and the
// sites. Everything is checked before anything is generated: an unknown key or
// a bad value is an error that names the file, the line and the key.

namespace tly {

// A scenario file that cannot be used. The message reads
// "<file>:<line>: <key>: <problem>".
class ScenarioError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Reads and checks the scenario `text`, which came from `source` (named in
// messages). Throws ScenarioError.
Scenario ParseScenario(std::string_view text, const std::string& source);

// Reads and checks the scenario file `path`. Throws ScenarioError, also when
// the file cannot be read.
Scenario LoadScenario(const std::string& path);

// A commented example scenario: three sites with different profiles,
// layouts and time zones, and every key with its meaning.
std::string_view ExampleScenario();

}  // namespace tly

#endif  // TLY_SCENARIO_SCENARIO_FILE_H_
