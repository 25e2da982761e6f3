#ifndef TLY_CLI_SEAL_COMMAND_H_
#define TLY_CLI_SEAL_COMMAND_H_

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tly {

// The options of `seal` as given on the command line.
struct SealOptions {
  std::vector<std::string> files;
};

// Registers `seal FILE...` on `app` and returns the subcommand; parsing fills
// `options`, which must outlive `app`.
CLI::App* AddSealCommand(CLI::App& app, SealOptions& options);

// Gives each hand-edited day file a fresh header and the seal of its rows, in
// one atomic replacement (TTlyConfig::SetHeaderToFile): the header keeps the
// file's own layout where its header describes one (ConfigOfHeader of
// config/header_config.h), else it gets the program's default layout; "#M"
// shows the time of sealing. The rows stay as they are, line ends made CR LF.
// Refuses a file whose data lines are not all rows a reader can place (at
// least 3 TAB-separated fields, a time hh:nn). Holds the writer's lock of each
// file's directory while it writes there. Prints "<file>: sealed (...)" per
// file. Returns 0 when all were sealed, 1 when one was refused or could not
// be written, 2 when one cannot be read, its directory has another writer,
// or no file was given.
int RunSealCommand(const SealOptions& options);

}  // namespace tly

#endif  // TLY_CLI_SEAL_COMMAND_H_
