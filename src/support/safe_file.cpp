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

[[noreturn]] void ThrowErrno(const std::string& what) { ThrowSystemError(errno, what); }

// Writes `bytes` to a new file `temporary` and closes it; on any failure the
// partial file is removed and the error passed on.
void WriteTemporary(const std::string& temporary, std::string_view bytes) {
  try {
    NewFile file(temporary);
    file.Write(bytes);
    file.Close();
  } catch (const std::system_error&) {
    RemoveQuietly(temporary);
    throw;
  }
}

}  // namespace

NewFile::NewFile(std::string path) : path_(std::move(path)) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  fd_ = ::open(path_.c_str(), kFlags, 0644);
  // Usually the name is free; a stale entry is removed only when there is one,
  // which spares a backfill a system call per file.
  if (fd_ < 0 && errno == EEXIST) {
    if (RemoveQuietly(path_)) {
      fd_ = ::open(path_.c_str(), kFlags, 0644);
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
  const std::string temp = TempFileNameFor(path);
  WriteTemporary(temp, bytes);
  try {
    RenameOver(temp, path);
  } catch (const std::system_error&) {
    RemoveQuietly(temp);
    throw;
  }
}

void ReplaceFileRetryingRename(const std::string& path, std::string_view bytes,
                               std::chrono::milliseconds retry_delay) {
  const std::string temp = TempFileNameFor(path);
  WriteTemporary(temp, bytes);
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

}  // namespace tly
