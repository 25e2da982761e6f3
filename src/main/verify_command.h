#ifndef TLY_MAIN_VERIFY_COMMAND_H_
#define TLY_MAIN_VERIFY_COMMAND_H_

namespace CLI {
class App;
}

namespace tly {

// Registers `verify FILE...` on `app` and returns the subcommand; the file
// names are kept until RunVerifyCommand.
CLI::App* AddVerifyCommand(CLI::App& app);

// Checks each file given to `verify` as a reader of the day file format would
// and prints "<file>: OK" or "<file>: BAD: <first problem>" for it. A file
// that cannot be read is reported on stderr and the others are still checked.
// Returns 0 when every file is OK, 1 when one is bad, 2 when one cannot be
// read (or no file was given).
int RunVerifyCommand();

}  // namespace tly

#endif  // TLY_MAIN_VERIFY_COMMAND_H_
