#ifndef TLY_APP_COMMAND_LINE_H_
#define TLY_APP_COMMAND_LINE_H_

namespace tly {

// The program's command line: no subcommand opens the window; `run`
// generates without one. Prints help, version and usage errors itself.
// Returns the process exit code.
int RunCommandLine(int argc, char** argv);

}  // namespace tly

#endif  // TLY_APP_COMMAND_LINE_H_
