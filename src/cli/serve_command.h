#ifndef TLY_MAIN_SERVE_COMMAND_H_
#define TLY_MAIN_SERVE_COMMAND_H_

#include <string>

namespace CLI {
class App;
}

namespace tly {

// The options of `serve` as given on the command line.
struct ServeOptions {
  std::string out_dir;
  std::string listen;  // HOST:PORT; empty: 127.0.0.1:8080
  std::string user;
  std::string password_env;
  std::string tls_cert;
  std::string tls_key;
  std::string connections;  // empty: 16
};

// Registers `serve --out DIR [--listen HOST:PORT] [--user U --password-env V]
// [--tls-cert F --tls-key F] [--connections N]` on `app`; parsing fills
// `options`, which must outlive `app`.
CLI::App* AddServeCommand(CLI::App& app, ServeOptions& options);

// Serves the day files of DIR/<site>/ to pollers (delivery/day_file_server.h)
// until Ctrl-C, SIGTERM or SIGHUP. Prints the address it listens on first.
// Warns on stderr when basic auth goes over plain HTTP to an address that is
// not the loopback. Returns 0 when stopped; 2 for bad options, a missing
// directory, an unset password variable or an address that cannot be used.
int RunServeCommand(const ServeOptions& options);

}  // namespace tly

#endif  // TLY_MAIN_SERVE_COMMAND_H_
