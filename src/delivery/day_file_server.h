#ifndef TLY_DELIVERY_DAY_FILE_SERVER_H_
#define TLY_DELIVERY_DAY_FILE_SERVER_H_

#include <memory>
#include <stdexcept>
#include <string>

// Polled devices: every site's day files served over HTTP(S) as a counter
// that is polled serves them. GET /SITE/ lists the site's days, one name a
// line; GET /SITE/yymmdd.tly gives the file with ETag (the SHA-1 of its
// bytes) and Last-Modified, answers If-None-Match with 304 and Range with
// 206. Only names of the form SITE/yymmdd.tly are served, each opened
// without following a symbolic link, so nothing outside the directory and
// no temporary file is ever read; a file is read from one open, so a poller
// always gets one whole version of it (files are replaced by rename).

namespace httplib {
class Server;
}

namespace tly {

struct DayFileServerOptions {
  std::string out_dir;
  std::string host = "127.0.0.1";
  int port = 8080;   // 0: any free port
  std::string user;  // basic auth when not empty
  std::string password;
  std::string tls_cert;  // HTTPS when both are given
  std::string tls_key;
  int connections = 16;  // answered at once; more wait their turn
};

// A server that cannot start: an address in use, a certificate that cannot
// be read, an output directory that is missing.
class ServerNotStarted : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class DayFileServer {
 public:
  // Binds the address. Throws ServerNotStarted.
  explicit DayFileServer(DayFileServerOptions options);
  ~DayFileServer();
  DayFileServer(const DayFileServer&) = delete;
  DayFileServer& operator=(const DayFileServer&) = delete;

  int port() const { return port_; }
  // Answers requests until Stop() is called (from another thread).
  void Run();
  void Stop();

 private:
  void Route();

  DayFileServerOptions options_;
  int dir_fd_ = -1;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
};

}  // namespace tly

#endif  // TLY_DELIVERY_DAY_FILE_SERVER_H_
