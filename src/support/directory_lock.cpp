#include "support/directory_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "support/file_operations.h"
#include "support/system_error.h"

namespace tly {
namespace {

// "pid <n> <holder>" as the holder wrote it, made readable: "process <n>,
// <holder>", or "" when the file says nothing usable or that process is gone.
std::string DescribeHolder(int fd) {
  char text[256];
  const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
  if (got <= 0) return {};
  std::string content(text, static_cast<size_t>(got));
  const size_t end = content.find('\n');
  if (end != std::string::npos) content.resize(end);
  long pid = 0;
  int used = 0;
  if (std::sscanf(content.c_str(), "pid %ld %n", &pid, &used) < 1 || pid <= 0) return {};
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return {};
  std::string description = "process " + std::to_string(pid);
  if (used > 0 && static_cast<size_t>(used) < content.size()) {
    description += ", " + content.substr(static_cast<size_t>(used));
  }
  return description;
}

}  // namespace

DirectoryLock::DirectoryLock(const std::string& dir, std::string_view holder, Mode mode)
    : dir_(dir),
      path_(dir + (dir.empty() || dir.back() != '/' ? "/" : "") + std::string(kDirectoryLockName)) {
  // O_NOFOLLOW: a link planted under the name must not make us lock, or
  // write our id into, a file elsewhere.
  FileOperations& operations = CurrentFileOperations();
  fd_ = operations.OpenAt(AT_FDCWD, path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  // A lock file another user made is locked through a read-only descriptor.
  // When there is none to open, the first refusal is the reason: the lock
  // file cannot be made in a folder this user may not write.
  if (fd_ < 0 && errno == EACCES) {
    fd_ = operations.OpenAt(AT_FDCWD, path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd_ < 0 && errno == ENOENT)
      ThrowSystemError(EACCES, "cannot create the lock file " + path_);
  }
  if (fd_ < 0) ThrowSystemError(errno, "cannot open the lock file " + path_);
  const int operation = mode == Mode::kExclusive ? LOCK_EX : LOCK_SH;
  if (::flock(fd_, operation | LOCK_NB) != 0) {
    const int error = errno;
    std::string message = dir + " is in use by another writer";
    if (error == EWOULDBLOCK) {
      const std::string who = DescribeHolder(fd_);
      if (!who.empty()) message += " (" + who + ")";
      message += "; only one program at a time may write day files into a directory";
      operations.Close(fd_);
      fd_ = -1;
      throw DirectoryBusy(message);
    }
    operations.Close(fd_);
    fd_ = -1;
    ThrowSystemError(error, "cannot lock " + path_);
  }
  // Who holds it, for a writer that is refused. Losing this note costs only
  // the detail of that message, so a failure here is not an error.
  const std::string note = "pid " + std::to_string(::getpid()) + " " + std::string(holder) + "\n";
  // The descriptor is fresh and only read with pread, so it writes at 0.
  if (operations.Truncate(fd_, 0) == 0) {
    [[maybe_unused]] const ssize_t written = operations.Write(fd_, note.data(), note.size());
  }
}

DirectoryLock::~DirectoryLock() {
  // Closing the last descriptor of the open file releases the lock.
  if (fd_ >= 0) CurrentFileOperations().Close(fd_);
}

bool DirectoryLock::StillInPlace() const {
  struct stat locked {};
  struct stat named {};
  return ::fstat(fd_, &locked) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
         locked.st_dev == named.st_dev && locked.st_ino == named.st_ino;
}

}  // namespace tly
