#include "support/safe_file.h"

#include <fcntl.h>

#include <cerrno>
#include <system_error>

#include "support/file_operations.h"
#include "support/system_error.h"

namespace tly {

NewFile::NewFile(const std::string& path) : NewFile(AT_FDCWD, path, path) {}

NewFile::NewFile(int dir_fd, const std::string& name, std::string path) : path_(std::move(path)) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  FileOperations& operations = CurrentFileOperations();
  fd_ = operations.OpenAt(dir_fd, name.c_str(), kFlags, 0644);
  // Usually the name is free; a stale entry is removed only when there is one,
  // which spares a backfill a system call per file.
  if (fd_ < 0 && errno == EEXIST) {
    if (operations.UnlinkAt(dir_fd, name.c_str(), 0) == 0) {
      fd_ = operations.OpenAt(dir_fd, name.c_str(), kFlags, 0644);
    } else {
      errno = EEXIST;  // what stands in the way, rather than why it stays
    }
  }
  if (fd_ < 0) {
    const int error = errno;
    ThrowSystemError(error, "cannot create " + path_);
  }
}

NewFile::~NewFile() {
  if (fd_ >= 0) CurrentFileOperations().Close(fd_);
}

void NewFile::Write(std::string_view bytes) {
  FileOperations& operations = CurrentFileOperations();
  while (!bytes.empty()) {
    const ssize_t written = operations.Write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      const int error = errno;
      if (error == EINTR) continue;
      ThrowSystemError(error, "cannot write " + path_);
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

void NewFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (CurrentFileOperations().Close(fd) != 0) {
    const int error = errno;
    ThrowSystemError(error, "cannot close " + path_);
  }
}

std::string TempFileNameFor(const std::string& path) {
  const size_t name_start = path.find_last_of('/') + 1;  // 0 when there is no '/'
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot < name_start ||
      std::string_view(path).substr(dot) == ".tmp") {
    return path + ".tmp";
  }
  return path.substr(0, dot) + ".tmp";
}

}  // namespace tly
