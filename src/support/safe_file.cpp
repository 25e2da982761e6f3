#include "support/safe_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>

#include "support/system_error.h"

namespace tly {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  ThrowSystemError(errno, what);
}

// Writes `bytes` to the new file `temporary` of `dir_fd` (shown as
// `shown`) and closes it; on any failure the partial file is removed and the
// error passed on.
void WriteTemporary(int dir_fd, const std::string& temporary, const std::string& shown,
                    std::string_view bytes) {
  try {
    NewFile file(dir_fd, temporary, shown);
    file.Write(bytes);
    file.Close();
  } catch (const std::system_error&) {
    ::unlinkat(dir_fd, temporary.c_str(), 0);
    throw;
  }
}

// ReplaceFileWith for the entry `name` of `dir_fd`, shown as `shown` in
// messages; `name` is a path of its own when `dir_fd` is AT_FDCWD.
void ReplaceEntryWith(int dir_fd, const std::string& name, const std::string& shown,
                      std::string_view bytes) {
  const std::string temp = TempFileNameFor(name);
  const std::string temp_shown = TempFileNameFor(shown);
  WriteTemporary(dir_fd, temp, temp_shown, bytes);
  if (::renameat(dir_fd, temp.c_str(), dir_fd, name.c_str()) != 0) {
    const int error = errno;
    ::unlinkat(dir_fd, temp.c_str(), 0);
    ThrowSystemError(error, "cannot replace " + shown + " with " + temp_shown);
  }
}

}  // namespace

NewFile::NewFile(const std::string& path) : NewFile(AT_FDCWD, path, path) {}

NewFile::NewFile(int dir_fd, const std::string& name, std::string path) : path_(std::move(path)) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  fd_ = ::openat(dir_fd, name.c_str(), kFlags, 0644);
  // Usually the name is free; a stale entry is removed only when there is one,
  // which spares a backfill a system call per file.
  if (fd_ < 0 && errno == EEXIST) {
    if (::unlinkat(dir_fd, name.c_str(), 0) == 0) {
      fd_ = ::openat(dir_fd, name.c_str(), kFlags, 0644);
    } else {
      errno = EEXIST;  // what stands in the way, rather than why it stays
    }
  }
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

bool RemoveQuietly(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
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

void ReplaceFileWith(const std::string& path, std::string_view bytes) {
  ReplaceEntryWith(AT_FDCWD, path, path, bytes);
}

void ReplaceFileRetryingRename(const std::string& path, std::string_view bytes,
                               std::chrono::milliseconds retry_delay) {
  const std::string temp = TempFileNameFor(path);
  WriteTemporary(AT_FDCWD, temp, temp, bytes);
  try {
    RenameOver(temp, path);
    return;
  } catch (const std::system_error&) {
    // Another program may hold the file for a moment; try once more.
  }
  std::this_thread::sleep_for(retry_delay);
  try {
    RenameOver(temp, path);
  } catch (const std::system_error& error) {
    throw RenameRefused(error.code(), "cannot replace " + path + " with " + temp);
  }
}

OpenDirectory::OpenDirectory(std::string path)
    : path_(std::move(path)), fd_(::open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {
  if (fd_ < 0) ThrowErrno("cannot open the directory " + path_);
}

OpenDirectory::~OpenDirectory() {
  ::close(fd_);
}

std::string OpenDirectory::PathOf(const std::string& name) const {
  return path_ + (path_.empty() || path_.back() != '/' ? "/" : "") + name;
}

void OpenDirectory::ReplaceFileWith(const std::string& name, std::string_view bytes) const {
  ReplaceEntryWith(fd_, name, PathOf(name), bytes);
}

}  // namespace tly
