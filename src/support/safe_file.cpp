#include "support/safe_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace tly {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

NewFile::NewFile(std::string path) : path_(std::move(path)) {
  RemoveQuietly(path_);
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd_ < 0) ThrowErrno("cannot create " + path_);
}

NewFile::~NewFile() {
  if (fd_ >= 0) ::close(fd_);
}

void NewFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("cannot write " + path_);
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

void NewFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) ThrowErrno("cannot close " + path_);
}

void RenameOver(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    ThrowErrno("cannot replace " + to + " with " + from);
  }
}

bool RemoveQuietly(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace tly
