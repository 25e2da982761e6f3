#ifndef TLY_APP_COMMAND_LINE_H_
#define TLY_APP_COMMAND_LINE_H_

#include <functional>
#include <string>

namespace tly {

// Opens the studio window on the scenario file `scenario` ("" for none) and
// returns the exit code when it is closed. It lives in a module of its own
// above this one, so the program's entry hands it in.
using StudioOpener = std::function<int(int argc, char** argv, const std::string& scenario)>;

// The program's command line: no subcommand opens the window; `run`
// generates without one; `studio` opens the studio through `studio`. Prints
// help, version and usage errors itself. Returns the process exit code.
int RunCommandLine(int argc, char** argv, const StudioOpener& studio);

}  // namespace tly

#endif  // TLY_APP_COMMAND_LINE_H_
