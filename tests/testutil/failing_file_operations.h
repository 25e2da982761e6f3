#ifndef TLY_TESTS_TESTUTIL_FAILING_FILE_OPERATIONS_H_
#define TLY_TESTS_TESTUTIL_FAILING_FILE_OPERATIONS_H_

#include <atomic>
#include <cerrno>
#include <cstddef>

#include "support/file_operations.h"

namespace tly::testing {

// The system's file operations, except that the Nth call of one kind fails
// with a chosen errno, and writes may be cut short, as a full disk or a
// signal cuts them. Calls are counted from the object's creation; it may be
// used from several threads.
class FailingFileOperations : public FileOperations {
 public:
  enum Call { kOpen, kWrite, kClose, kRename, kUnlink, kCallKinds };

  // The `nth` (from 1) call of `call` fails with `error`; again with a second
  // FailNth of the same kind, e.g. to fail both attempts of a retried rename.
  void FailNth(Call call, int nth, int error, int also_nth = 0) {
    fail_[call] = nth;
    also_fail_[call] = also_nth;
    error_[call] = error;
  }
  // Each write writes at most `bytes` bytes (0: as many as the system takes).
  void CutWritesTo(size_t bytes) { cut_ = bytes; }
  int Calls(Call call) const { return count_[call].load(); }

  int OpenAt(int dir_fd, const char* name, int flags, mode_t mode) override {
    return Fails(kOpen) ? -1 : FileOperations::OpenAt(dir_fd, name, flags, mode);
  }
  ssize_t Write(int fd, const void* bytes, size_t size) override {
    if (Fails(kWrite)) return -1;
    return FileOperations::Write(fd, bytes, cut_ > 0 && size > cut_ ? cut_ : size);
  }
  int Close(int fd) override {
    // A failing close still gives the descriptor back, as close(2) does.
    const int result = FileOperations::Close(fd);
    return Fails(kClose) ? -1 : result;
  }
  int RenameAt(int from_dir_fd, const char* from, int to_dir_fd, const char* to) override {
    return Fails(kRename) ? -1 : FileOperations::RenameAt(from_dir_fd, from, to_dir_fd, to);
  }
  int UnlinkAt(int dir_fd, const char* name, int flags) override {
    return Fails(kUnlink) ? -1 : FileOperations::UnlinkAt(dir_fd, name, flags);
  }

 private:
  bool Fails(Call call) {
    const int nth = ++count_[call];
    if (nth != fail_[call] && nth != also_fail_[call]) return false;
    errno = error_[call];
    return true;
  }

  std::atomic<int> count_[kCallKinds] = {};
  int fail_[kCallKinds] = {};
  int also_fail_[kCallKinds] = {};
  int error_[kCallKinds] = {};
  size_t cut_ = 0;
};

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_FAILING_FILE_OPERATIONS_H_
