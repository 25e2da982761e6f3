#include "support/output_directory.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <thread>

#include "support/file_operations.h"
#include "support/safe_file.h"
#include "support/system_error.h"

namespace tly {
namespace {

std::string WithSlash(const std::string& path) {
  return path + (path.empty() || path.back() != '/' ? "/" : "");
}

}  // namespace

OutputDirectory::OutputDirectory(std::string path)
    : path_(std::move(path)),
      fd_(CurrentFileOperations().OpenAt(AT_FDCWD, path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC,
                                         0)) {
  if (fd_ < 0) {
    const int error = errno;
    ThrowSystemError(error, "cannot open the directory " + path_);
  }
}

OutputDirectory::OutputDirectory(std::string path, std::string_view holder,
                                 DirectoryLock::Mode mode)
    : lock_(std::in_place, path, holder, mode), path_(std::move(path)) {
  fd_ =
      CurrentFileOperations().OpenAt(AT_FDCWD, path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd_ < 0) {
    const int error = errno;
    ThrowSystemError(error, "cannot open the directory " + path_);
  }
}

OutputDirectory::OutputDirectory(OfPathsTag) : fd_(AT_FDCWD) {}

OutputDirectory::~OutputDirectory() {
  if (fd_ >= 0) CurrentFileOperations().Close(fd_);
}

const OutputDirectory& OutputDirectory::OfPaths() {
  static const OutputDirectory paths{OfPathsTag{}};
  return paths;
}

std::string OutputDirectory::PathOf(const std::string& name) const {
  return fd_ == AT_FDCWD ? name : WithSlash(path_) + name;
}

void OutputDirectory::Replaced(const std::string& name) const {
  if (replaced_) replaced_(name);
}

void OutputDirectory::WriteTemporary(const std::string& temp, std::string_view bytes) const {
  // What stands under the name when it cannot be created is not ours to
  // remove; what was created is removed on any later failure.
  NewFile file(fd_, temp, PathOf(temp));
  try {
    file.Write(bytes);
    file.Close();
  } catch (const std::system_error&) {
    CurrentFileOperations().UnlinkAt(fd_, temp.c_str(), 0);
    throw;
  }
}

void OutputDirectory::ReplaceFileWith(const std::string& name, std::string_view bytes) const {
  const std::string temp = TempFileNameFor(name);
  WriteTemporary(temp, bytes);
  FileOperations& operations = CurrentFileOperations();
  if (operations.RenameAt(fd_, temp.c_str(), fd_, name.c_str()) != 0) {
    const int error = errno;
    operations.UnlinkAt(fd_, temp.c_str(), 0);
    ThrowSystemError(error, "cannot replace " + PathOf(name) + " with " + PathOf(temp));
  }
  Replaced(name);
}

void OutputDirectory::ReplaceFileRetryingRename(const std::string& name, std::string_view bytes,
                                                std::chrono::milliseconds retry_delay) const {
  const std::string temp = TempFileNameFor(name);
  WriteTemporary(temp, bytes);
  FileOperations& operations = CurrentFileOperations();
  // Another program may hold the file for a moment; it is tried once more.
  if (operations.RenameAt(fd_, temp.c_str(), fd_, name.c_str()) != 0) {
    std::this_thread::sleep_for(retry_delay);
    if (operations.RenameAt(fd_, temp.c_str(), fd_, name.c_str()) != 0) {
      const int error = errno;
      throw RenameRefused(error, std::generic_category(),
                          "cannot replace " + PathOf(name) + " with " + PathOf(temp));
    }
  }
  Replaced(name);
}

bool OutputDirectory::RemoveFile(const std::string& name) const {
  if (CurrentFileOperations().UnlinkAt(fd_, name.c_str(), 0) == 0) return true;
  const int error = errno;
  if (error == ENOENT) return false;
  ThrowSystemError(error, "cannot remove " + PathOf(name));
}

void OutputDirectory::AppendToFile(const std::string& name, std::string_view bytes) const {
  FileOperations& operations = CurrentFileOperations();
  const int fd = operations.OpenAt(fd_, name.c_str(),
                                   O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    const int error = errno;
    ThrowSystemError(error, PathOf(name));
  }
  while (!bytes.empty()) {
    const ssize_t written = operations.Write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) {
      const int error = errno;
      operations.Close(fd);
      ThrowSystemError(error, PathOf(name));
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  if (operations.Close(fd) != 0) {
    const int error = errno;
    ThrowSystemError(error, PathOf(name));
  }
}

void ReplaceFileWith(const std::string& path, std::string_view bytes) {
  OutputDirectory::OfPaths().ReplaceFileWith(path, bytes);
}

void ReplaceFileRetryingRename(const std::string& path, std::string_view bytes,
                               std::chrono::milliseconds retry_delay) {
  OutputDirectory::OfPaths().ReplaceFileRetryingRename(path, bytes, retry_delay);
}

bool RemoveFile(const std::string& path) {
  return OutputDirectory::OfPaths().RemoveFile(path);
}

void AppendToFile(const std::string& path, std::string_view bytes) {
  OutputDirectory::OfPaths().AppendToFile(path, bytes);
}

bool RemoveQuietly(const std::string& path) {
  return CurrentFileOperations().UnlinkAt(AT_FDCWD, path.c_str(), 0) == 0;
}

void RenameOver(const std::string& from, const std::string& to) {
  if (CurrentFileOperations().RenameAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str()) != 0) {
    const int error = errno;
    ThrowSystemError(error, "cannot replace " + to + " with " + from);
  }
}

bool MakeDirectory(const std::string& path, std::error_code& error) {
  error.clear();
  if (CurrentFileOperations().MakeDirectoryAt(AT_FDCWD, path.c_str(), 0777) == 0) return true;
  const int failure = errno;
  struct stat status {};
  if (failure != EEXIST || ::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    error.assign(failure, std::generic_category());
  }
  return false;
}

}  // namespace tly
