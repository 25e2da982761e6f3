#ifndef TLY_SUPPORT_FILE_OPERATIONS_H_
#define TLY_SUPPORT_FILE_OPERATIONS_H_

#include <sys/types.h>

#include <cstddef>

namespace tly {

// The system calls through which the program changes files: every file it
// creates, writes, renames or removes, and every directory it makes, goes
// through the FileOperations in force. The default is the system itself; a
// test installs its own for a scope (ScopedFileOperations) to make the Nth
// call fail, to shorten writes, or to watch what is done.
//
// Each member has the contract of the POSIX call it is named after: it
// returns what that call returns and sets errno as it does. The base class
// makes the real calls, so a replacement overrides only what it changes.
// Callers on several threads share the one in force, so a replacement that
// keeps state must guard it.
class FileOperations {
 public:
  virtual ~FileOperations() = default;

  // openat(2); AT_FDCWD as `dir_fd` makes `name` a path of its own.
  virtual int OpenAt(int dir_fd, const char* name, int flags, mode_t mode);
  // write(2): may write less than `size`.
  virtual ssize_t Write(int fd, const void* bytes, size_t size);
  // close(2).
  virtual int Close(int fd);
  // ftruncate(2).
  virtual int Truncate(int fd, off_t length);
  // renameat(2).
  virtual int RenameAt(int from_dir_fd, const char* from, int to_dir_fd, const char* to);
  // unlinkat(2).
  virtual int UnlinkAt(int dir_fd, const char* name, int flags);
  // mkdirat(2).
  virtual int MakeDirectoryAt(int dir_fd, const char* name, mode_t mode);
};

// The FileOperations in force: the system's unless a ScopedFileOperations
// installed another.
FileOperations& CurrentFileOperations();

// Puts `operations` in force for the object's lifetime and then restores the
// one before. `operations` must outlive the scope; scopes nest. Install and
// remove them while no other thread changes files.
class ScopedFileOperations {
 public:
  explicit ScopedFileOperations(FileOperations& operations);
  ~ScopedFileOperations();
  ScopedFileOperations(const ScopedFileOperations&) = delete;
  ScopedFileOperations& operator=(const ScopedFileOperations&) = delete;

 private:
  FileOperations* previous_;
};

}  // namespace tly

#endif  // TLY_SUPPORT_FILE_OPERATIONS_H_
