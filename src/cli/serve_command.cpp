#include "cli/serve_command.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "cli/command_style.h"
#include "cli/exit_codes.h"
#include "cli/stop_signals.h"
#include "delivery/day_file_server.h"

namespace tly {
namespace {

constexpr int kDefaultPort = 8080;

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

// The options as the server takes them. Throws UsageError.
DayFileServerOptions ServerOptionsOf(const ServeOptions& options) {
  DayFileServerOptions server;
  server.out_dir = options.out_dir;
  server.port = kDefaultPort;
  if (!options.listen.empty()) {
    const size_t colon = options.listen.rfind(':');
    if (colon == std::string::npos || colon == 0) {
      throw UsageError("--listen " + options.listen + " is not HOST:PORT (such as 127.0.0.1:8080)");
    }
    server.host = options.listen.substr(0, colon);
    if (server.host.size() > 2 && server.host.front() == '[' && server.host.back() == ']') {
      server.host = server.host.substr(1, server.host.size() - 2);
    }
    server.port = static_cast<int>(
        ParseDecimalOption("--listen's port", options.listen.substr(colon + 1), 1, 65535));
  }
  if (options.user.empty() != options.password_env.empty()) {
    throw UsageError("--user and --password-env go together");
  }
  if (!options.password_env.empty()) {
    const char* password = std::getenv(options.password_env.c_str());
    if (password == nullptr) {
      throw UsageError("--password-env " + options.password_env +
                       " names a variable that is not set");
    }
    server.user = options.user;
    server.password = password;
  }
  if (options.tls_cert.empty() != options.tls_key.empty()) {
    throw UsageError("--tls-cert and --tls-key go together");
  }
  server.tls_cert = options.tls_cert;
  server.tls_key = options.tls_key;
  if (!options.connections.empty()) {
    server.connections =
        static_cast<int>(ParseDecimalOption("--connections", options.connections, 1, 256));
  }
  return server;
}

}  // namespace

CLI::App* AddServeCommand(CLI::App& app, ServeOptions& options) {
  CLI::App* serve = app.add_subcommand(
      "serve",
      "Serve the day files of DIR/<site>/ over HTTP as polled counters do: GET /SITE/ lists the "
      "days, GET /SITE/yymmdd.tly gives one (ETag, Last-Modified, If-None-Match, Range)");
  AddValueOption(*serve, "--out", options.out_dir, "DIR", "The output directory to serve")
      ->required();
  AddValueOption(*serve, "--listen", options.listen, "HOST:PORT",
                 "The address to listen on (default: 127.0.0.1:8080)");
  AddValueOption(*serve, "--user", options.user, "NAME",
                 "Ask pollers for this user and the password of --password-env (basic auth)");
  AddValueOption(*serve, "--password-env", options.password_env, "VAR",
                 "The environment variable that holds the password");
  AddValueOption(*serve, "--tls-cert", options.tls_cert, "FILE",
                 "Serve HTTPS with this certificate (PEM) and the key of --tls-key");
  AddValueOption(*serve, "--tls-key", options.tls_key, "FILE", "The certificate's key (PEM)");
  AddValueOption(*serve, "--connections", options.connections, "N",
                 "Requests answered at once, 1 to 256; more wait their turn (default: 16)");
  return serve;
}

int RunServeCommand(const ServeOptions& options) {
  CommandOutput output("serve");
  // Before any thread starts, so that the server's threads leave the stop
  // signals to this one.
  StopSignals stop;
  DayFileServerOptions server_options;
  try {
    server_options = ServerOptionsOf(options);
  } catch (const UsageError& problem) {
    output.Error(problem.what());
    return kExitUsage;
  }
  const bool tls = !server_options.tls_cert.empty();
  if (!server_options.user.empty() && !tls && !IsLoopback(server_options.host)) {
    output.Error("warning: basic auth over plain HTTP on " + server_options.host +
                 " sends the password readable to anyone on the way; give --tls-cert and "
                 "--tls-key");
  }
  try {
    DayFileServer server(server_options);
    output.Line("Serving " + options.out_dir + " on " + (tls ? "https://" : "http://") +
                server_options.host + ":" + std::to_string(server.port()) +
                "/ until Ctrl-C or SIGTERM");
    std::thread answering([&server] { server.Run(); });
    while (!stop.WaitUntil(StopSignals::Clock::now() + std::chrono::hours(24))) {
    }
    server.Stop();
    answering.join();
  } catch (const ServerNotStarted& failure) {
    output.Error(failure.what());
    return kExitUsage;
  }
  output.Line("Stopped");
  return output.Finish(kExitOk);
}

}  // namespace tly
