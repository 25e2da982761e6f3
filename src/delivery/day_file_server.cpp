#include "delivery/day_file_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "cipher/cipher_fmt.h"
#include "cipher/cipher_hash.h"

namespace tly {
namespace {

constexpr size_t kWaitingConnections = 64;  // accepted but not yet answered
constexpr time_t kReadTimeoutSeconds = 5;

// httplib's pool with a bounded queue: when it is full the accepting thread
// waits, so a flood of pollers waits in the kernel's backlog instead of
// holding memory and descriptors here.
class BoundedTaskQueue : public httplib::TaskQueue {
 public:
  explicit BoundedTaskQueue(int threads) {
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  }

  void enqueue(std::function<void()> task) override {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return tasks_.size() < kWaitingConnections || stopping_; });
    if (stopping_) return;
    tasks_.push_back(std::move(task));
    ready_.notify_one();
  }

  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    room_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

 private:
  void Work() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !tasks_.empty() || stopping_; });
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      room_.notify_one();
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<std::function<void()>> tasks_;
  std::vector<std::thread> workers_;
  bool stopping_ = false;
};

bool IsSiteName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_not_of(
             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") ==
             std::string::npos;
}

bool IsDayFileName(const std::string& name) {
  return name.size() == 10 && name.substr(6) == ".tly" &&
         std::all_of(name.begin(), name.begin() + 6, [](char c) { return c >= '0' && c <= '9'; });
}

// The directory of site `name` in `dir_fd`, not through a symbolic link.
int OpenSite(int dir_fd, const std::string& name) {
  return ::openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The bytes and modification time of the regular file `name` of `site_fd`,
// read from one open without following a link; none when there is no such
// file.
std::optional<std::pair<std::string, time_t>> ReadDayFile(int site_fd, const std::string& name) {
  const int fd = ::openat(site_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::pair<std::string, time_t>> file;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    std::string bytes(static_cast<size_t>(info.st_size), '\0');
    size_t done = 0;
    for (ssize_t n = 1; n > 0 && done < bytes.size(); done += static_cast<size_t>(n > 0 ? n : 0)) {
      n = ::read(fd, bytes.data() + done, bytes.size() - done);
    }
    bytes.resize(done);
    file.emplace(std::move(bytes), info.st_mtime);
  }
  ::close(fd);
  return file;
}

std::string HttpDate(time_t time) {
  std::tm utc{};
  ::gmtime_r(&time, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

// Whether `header` (an If-None-Match value) names `etag` or is "*".
bool Matches(const std::string& header, const std::string& etag) {
  if (header == "*") return true;
  return header.find(etag) != std::string::npos;
}

// Lets a request through to the routes when no user is set or it carries
// the user's basic credentials; otherwise answers 401 itself.
httplib::Server::HandlerResponse Authorize(const DayFileServerOptions& options,
                                           const httplib::Request& request,
                                           httplib::Response& response) {
  if (options.user.empty()) return httplib::Server::HandlerResponse::Unhandled;
  const auto expected = httplib::make_basic_authentication_header(options.user, options.password);
  if (request.get_header_value("Authorization") == expected.second) {
    return httplib::Server::HandlerResponse::Unhandled;
  }
  response.status = 401;
  response.set_header("WWW-Authenticate", "Basic realm=\"tly-generator\"");
  return httplib::Server::HandlerResponse::Handled;
}

// Answers with the sorted names of site `site`'s day files in `dir_fd`, one
// a line (regular files only, no link followed), or 404 for no such site.
void ListSite(int dir_fd, const std::string& site, httplib::Response& response) {
  const int site_fd = IsSiteName(site) ? OpenSite(dir_fd, site) : -1;
  if (site_fd < 0) {
    response.status = 404;
    return;
  }
  std::vector<std::string> names;
  if (DIR* dir = ::fdopendir(site_fd)) {
    while (const dirent* entry = ::readdir(dir)) {
      struct stat info {};
      if (IsDayFileName(entry->d_name) &&
          ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(info.st_mode)) {
        names.emplace_back(entry->d_name);
      }
    }
    ::closedir(dir);
  } else {
    ::close(site_fd);
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) text += name + "\n";
  response.set_content(text, "text/plain");
}

// Answers GET /SITE/yymmdd.tly from `dir_fd`: the file with its ETag and
// Last-Modified, 304 when If-None-Match names that ETag, 404 when there is
// no such file.
void ServeDayFile(int dir_fd, const httplib::Request& request, httplib::Response& response) {
  const std::string site = request.matches[1];
  const std::string name = request.matches[2];
  const int site_fd = IsSiteName(site) && IsDayFileName(name) ? OpenSite(dir_fd, site) : -1;
  const auto file = site_fd >= 0 ? ReadDayFile(site_fd, name) : std::nullopt;
  if (site_fd >= 0) ::close(site_fd);
  if (!file) {
    response.status = 404;
    return;
  }
  // Built by appending: GCC 12 at -O2 sees a false overlap in "\"" + text.
  std::string etag = "\"";
  etag += HashString(TCipherHashAlg2::Class(), file->first, TFormat_HEX::Class());
  etag += '"';
  response.set_header("ETag", etag);
  response.set_header("Last-Modified", HttpDate(file->second));
  if (request.has_header("If-None-Match") &&
      Matches(request.get_header_value("If-None-Match"), etag)) {
    response.status = 304;
    return;
  }
  response.set_content(file->first, "text/plain");
}

}  // namespace

DayFileServer::DayFileServer(DayFileServerOptions options) : options_(std::move(options)) {
  dir_fd_ = ::open(options_.out_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd_ < 0) {
    throw ServerNotStarted(options_.out_dir + ": " + std::strerror(errno));
  }
  if (!options_.tls_cert.empty()) {
    auto tls =
        std::make_unique<httplib::SSLServer>(options_.tls_cert.c_str(), options_.tls_key.c_str());
    if (!tls->is_valid()) {
      ::close(dir_fd_);
      throw ServerNotStarted("cannot use the certificate " + options_.tls_cert + " and the key " +
                             options_.tls_key);
    }
    server_ = std::move(tls);
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  const int threads = std::max(options_.connections, 1);
  server_->new_task_queue = [threads] { return new BoundedTaskQueue(threads); };
  server_->set_read_timeout(kReadTimeoutSeconds, 0);
  server_->set_keep_alive_timeout(kReadTimeoutSeconds);
  Route();
  port_ = options_.port == 0
              ? server_->bind_to_any_port(options_.host)
              : (server_->bind_to_port(options_.host, options_.port) ? options_.port : -1);
  if (port_ < 0) {
    ::close(dir_fd_);
    throw ServerNotStarted("cannot listen on " + options_.host + ":" +
                           std::to_string(options_.port) + ": " + std::strerror(errno));
  }
}

DayFileServer::~DayFileServer() {
  if (dir_fd_ >= 0) ::close(dir_fd_);
}

void DayFileServer::Run() {
  server_->listen_after_bind();
}

void DayFileServer::Stop() {
  server_->stop();
}

void DayFileServer::Route() {
  server_->set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        return Authorize(options_, request, response);
      });
  server_->Get(R"(/([^/]+)/)",
               [this](const httplib::Request& request, httplib::Response& response) {
                 ListSite(dir_fd_, request.matches[1], response);
               });
  server_->Get(R"(/([^/]+)/([^/]+))",
               [this](const httplib::Request& request, httplib::Response& response) {
                 ServeDayFile(dir_fd_, request, response);
               });
}

}  // namespace tly
