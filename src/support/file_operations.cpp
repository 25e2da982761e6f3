#include "support/file_operations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace tly {
namespace {

FileOperations& SystemFileOperations() {
  static FileOperations system;
  return system;
}

// Read on every call from any thread; written only by the scopes.
std::atomic<FileOperations*>& InForce() {
  static std::atomic<FileOperations*> in_force{&SystemFileOperations()};
  return in_force;
}

}  // namespace

int FileOperations::OpenAt(int dir_fd, const char* name, int flags, mode_t mode) {
  return ::openat(dir_fd, name, flags, mode);
}

ssize_t FileOperations::Write(int fd, const void* bytes, size_t size) {
  return ::write(fd, bytes, size);
}

int FileOperations::Close(int fd) {
  return ::close(fd);
}

int FileOperations::Truncate(int fd, off_t length) {
  return ::ftruncate(fd, length);
}

int FileOperations::RenameAt(int from_dir_fd, const char* from, int to_dir_fd, const char* to) {
  return ::renameat(from_dir_fd, from, to_dir_fd, to);
}

int FileOperations::UnlinkAt(int dir_fd, const char* name, int flags) {
  return ::unlinkat(dir_fd, name, flags);
}

int FileOperations::MakeDirectoryAt(int dir_fd, const char* name, mode_t mode) {
  return ::mkdirat(dir_fd, name, mode);
}

FileOperations& CurrentFileOperations() {
  return *InForce().load(std::memory_order_acquire);
}

ScopedFileOperations::ScopedFileOperations(FileOperations& operations)
    : previous_(InForce().exchange(&operations, std::memory_order_acq_rel)) {}

ScopedFileOperations::~ScopedFileOperations() {
  InForce().store(previous_, std::memory_order_release);
}

}  // namespace tly
