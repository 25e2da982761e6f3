#ifndef TLY_TESTS_DELIVERY_TEST_SERVERS_H_
#define TLY_TESTS_DELIVERY_TEST_SERVERS_H_

// Real servers for delivery tests, on 127.0.0.1 only, on free ports: an FTP
// server (pyftpdlib), OpenSSH's sshd with its SFTP subsystem and a key made
// for the test, and an HTTP receiver of the test's own (cpp-httplib) that
// takes PUT and POST and remembers what arrived in which order. Each
// says why when it cannot start, so that the test is skipped with a reason.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testutil/temp_dir.h"
#include "testutil/wait_for.h"

namespace tly::testing {

// A port of 127.0.0.1 that nothing listens on now.
inline int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

inline bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// A server program started for a test and ended (SIGTERM) with it.
class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess() { Stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Starts `argv` with its output in `log` and waits until `port` accepts;
  // false (with `why`) when it does not come up or ends.
  bool Start(const std::vector<std::string>& argv, const std::string& log, int port,
             std::string& why) {
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> args;
      for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      std::freopen(log.c_str(), "w", stdout);
      std::freopen(log.c_str(), "a", stderr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    const bool up = WaitFor([&] { return Accepts(port) || Ended(); }) && !Ended();
    if (!up) why = argv[0] + " did not start: " + ReadBytes(log);
    return up;
  }

  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  bool Ended() {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
    pid_ = -1;
    return true;
  }

  pid_t pid_ = -1;
};

// pyftpdlib serving `root` (writable) to anonymous users.
class FtpServer {
 public:
  explicit FtpServer(const std::string& root) : root_(root), port_(FreeLoopbackPort()) {
    if (::access("/usr/bin/python3", X_OK) != 0 ||
        std::system("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") != 0) {
      why_ = "python3-pyftpdlib is not installed";
      return;
    }
    up_ = Start();
  }
  // Starts the server again after Stop, on the same port.
  bool Start() {
    return process_.Start({"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p",
                           std::to_string(port_), "-w", "-d", root_},
                          root_ + "/../ftp.log", port_, why_);
  }
  void Stop() { process_.Stop(); }
  bool up() const { return up_; }
  const std::string& why() const { return why_; }
  std::string Url() const { return "ftp://127.0.0.1:" + std::to_string(port_) + "/{site}/"; }

 private:
  std::string root_;
  int port_;
  ServerProcess process_;
  bool up_ = false;
  std::string why_;
};

// A self-signed certificate for 127.0.0.1 made with openssl in `dir`, in
// `cert` and `key`; false (with `why`) when it cannot be made.
inline bool MakeTestCertificate(const TempDir& dir, std::string& cert, std::string& key,
                                std::string& why) {
  cert = dir.File("cert.pem");
  key = dir.File("key.pem");
  const std::string command =
      "/usr/bin/openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout " + key + " -out " +
      cert +
      " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 "
      ">/dev/null 2>&1";
  if (::access("/usr/bin/openssl", X_OK) == 0 && std::system(command.c_str()) == 0) return true;
  why = "openssl cannot make a test certificate";
  return false;
}

// vsftpd serving `root` (writable) to anonymous users over FTPS with TLS
// from the start (implicit), with the certificate `cert` and `key`.
class FtpsServer {
 public:
  FtpsServer(const TempDir& dir, const std::string& root, const std::string& cert,
             const std::string& key)
      : port_(FreeLoopbackPort()) {
    if (::access("/usr/sbin/vsftpd", X_OK) != 0) {
      why_ = "vsftpd is not installed";
      return;
    }
    const std::string config = dir.File("vsftpd.conf");
    WriteBytes(config,
               "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(port_) +
                   "\nbackground=NO\nrun_as_launching_user=YES\nseccomp_sandbox=NO\n"
                   "anonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\n"
                   "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                   "anon_other_write_enable=YES\nanon_umask=022\nanon_root=" +
                   root + "\nsecure_chroot_dir=" + dir.path() +
                   "\nssl_enable=YES\nimplicit_ssl=YES\nallow_anon_ssl=YES\n"
                   "force_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
                   "require_ssl_reuse=NO\nrsa_cert_file=" +
                   cert + "\nrsa_private_key_file=" + key +
                   "\npasv_address=127.0.0.1\nxferlog_enable=NO\n");
    up_ = process_.Start({"/usr/sbin/vsftpd", config}, dir.File("vsftpd.log"), port_, why_);
  }
  bool up() const { return up_; }
  const std::string& why() const { return why_; }
  std::string Url() const { return "ftps://127.0.0.1:" + std::to_string(port_) + "/{site}/"; }

 private:
  int port_;
  ServerProcess process_;
  bool up_ = false;
  std::string why_;
};

// sshd with its SFTP subsystem, letting the test's own user in with a key
// made for the test; `known_hosts` lists its host key.
class SftpServer {
 public:
  explicit SftpServer(const TempDir& dir) : port_(FreeLoopbackPort()) {
    if (::access("/usr/sbin/sshd", X_OK) != 0 || ::access("/usr/bin/ssh-keygen", X_OK) != 0) {
      why_ = "openssh-server is not installed";
      return;
    }
    key_ = dir.File("client_key");
    known_hosts_ = dir.File("known_hosts");
    const std::string host_key = dir.File("host_key");
    if (std::system(("/usr/bin/ssh-keygen -q -t ed25519 -N '' -f " + key_ + " && " +
                     "/usr/bin/ssh-keygen -q -t ed25519 -N '' -f " + host_key)
                        .c_str()) != 0) {
      why_ = "ssh-keygen failed";
      return;
    }
    WriteBytes(known_hosts_,
               "[127.0.0.1]:" + std::to_string(port_) + " " + ReadBytes(host_key + ".pub"));
    const std::string config = dir.File("sshd_config");
    WriteBytes(config, "Port " + std::to_string(port_) + "\nListenAddress 127.0.0.1\nHostKey " +
                           host_key + "\nAuthorizedKeysFile " + key_ +
                           ".pub\nPidFile none\nUsePAM no\n"
                           "StrictModes no\nPasswordAuthentication no\nPermitRootLogin yes\n"
                           "Subsystem sftp internal-sftp\n");
    const passwd* user = ::getpwuid(::getuid());
    user_ = user != nullptr ? user->pw_name : "";
    log_ = dir.File("sshd.log");
    up_ = process_.Start({"/usr/sbin/sshd", "-D", "-e", "-f", config}, log_, port_, why_);
  }
  // The line where sshd says why it lets the test's user not in (a locked
  // account, as some test users have), or "".
  std::string Refusal() const {
    const std::string log = ReadBytes(log_);
    const size_t at = log.find(" not allowed because ");
    if (at == std::string::npos) return "";
    const size_t start = log.rfind('\n', at) == std::string::npos ? 0 : log.rfind('\n', at) + 1;
    return log.substr(start, log.find('\n', at) - start);
  }
  bool up() const { return up_; }
  const std::string& why() const { return why_; }
  std::string Url(const std::string& root) const {
    return "sftp://127.0.0.1:" + std::to_string(port_) + root + "/{site}/";
  }
  const std::string& key() const { return key_; }
  const std::string& known_hosts() const { return known_hosts_; }
  const std::string& user() const { return user_; }

 private:
  int port_;
  std::string key_;
  std::string known_hosts_;
  std::string user_;
  std::string log_;
  ServerProcess process_;
  bool up_ = false;
  std::string why_;
};

// An HTTP receiver: PUT stores the body under the path, POST stores a multipart form's "file" under
// its file name in the folder of the path. `refuse` answers 503 to that many requests first; with a
// password, every request needs basic auth; with a certificate and its key, it speaks HTTPS.
class HttpReceiver {
 public:
  struct Arrival {
    std::string method;
    std::string path;  // where the file ended, relative to the root
    size_t bytes = 0;
  };

  HttpReceiver(std::string root, std::string user = "", std::string password = "",
               const std::string& cert = "", const std::string& key = "")
      : root_(std::move(root)),
        user_(std::move(user)),
        password_(std::move(password)),
        scheme_(cert.empty() ? "http" : "https"),
        server_(cert.empty() ? std::make_unique<httplib::Server>()
                             : std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str())) {
    server_->Put(R"(/(.+))", [this](const httplib::Request& request, httplib::Response& response) {
      if (!Allowed(request, response)) return;
      Store("PUT", request.matches[1], request.body);
      response.status = 201;
    });
    server_->Post(R"(/(.*))", [this](const httplib::Request& request, httplib::Response& response) {
      if (!Allowed(request, response) || !request.has_file("file")) return;
      const httplib::MultipartFormData file = request.get_file_value("file");
      Store("POST", std::string(request.matches[1]) + file.filename, file.content);
      response.status = 201;
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
  }
  ~HttpReceiver() {
    server_->stop();
    thread_.join();
  }

  std::string Url(const std::string& rest = "{site}/") const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + "/" + rest;
  }
  void Refuse(int requests) { refuse_ = requests; }
  std::vector<Arrival> arrivals() {
    std::lock_guard<std::mutex> lock(mutex_);
    return arrivals_;
  }

 private:
  bool Allowed(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (refuse_ > 0) {
      --refuse_;
      response.status = 503;
      return false;
    }
    if (!password_.empty() &&
        request.get_header_value("Authorization") !=
            httplib::make_basic_authentication_header(user_, password_).second) {
      response.status = 401;
      return false;
    }
    return true;
  }

  void Store(const std::string& method, const std::string& path, const std::string& body) {
    const std::filesystem::path file = root_ + "/" + path;
    std::filesystem::create_directories(file.parent_path());
    WriteBytes(file, body);
    std::lock_guard<std::mutex> lock(mutex_);
    arrivals_.push_back({method, path, body.size()});
  }

  std::string root_;
  std::string user_;
  std::string password_;
  std::string scheme_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Arrival> arrivals_;
  int refuse_ = 0;
};

}  // namespace tly::testing

#endif  // TLY_TESTS_DELIVERY_TEST_SERVERS_H_
