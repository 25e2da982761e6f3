#ifndef TLY_CLI_EXIT_CODES_H_
#define TLY_CLI_EXIT_CODES_H_

namespace tly {

// The program's exit codes, the same for every command.
inline constexpr int kExitOk = 0;
// The work failed: a file could not be written or read, a file is bad.
inline constexpr int kExitFailed = 1;
// The command line cannot be carried out as given (bad arguments, a missing
// directory); nothing was written.
inline constexpr int kExitUsage = 2;

}  // namespace tly

#endif  // TLY_CLI_EXIT_CODES_H_
