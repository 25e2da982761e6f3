#ifndef TLY_SUPPORT_DIRECTORY_LOCK_H_
#define TLY_SUPPORT_DIRECTORY_LOCK_H_

#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace tly {

// The file in an output directory whose lock makes a process its one writer.
inline constexpr std::string_view kDirectoryLockName = ".tly-generator.lock";

// Thrown when another process holds the writer's lock of a directory (code
// EWOULDBLOCK). The message names the directory and, when the lock file tells
// it, the holder.
class DirectoryBusy : public std::system_error {
 public:
  explicit DirectoryBusy(std::string message)
      : std::system_error(std::make_error_code(std::errc::operation_would_block)),
        message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// The exclusive right to write day files into a directory: an advisory lock
// (flock) on kDirectoryLockName in it, held for the object's lifetime. The
// kernel drops the lock when the process ends, however it ends, so a crash
// never leaves a stale lock behind. The holder writes its process id and what
// it is into the file, so that a refused writer can say who holds it. Readers
// take no lock. Not copyable; one thread uses it.
class DirectoryLock {
 public:
  // How the lock is held: alone, or shared with the other shards of one
  // sharded run (which write files apart from each other). A shared holder
  // is refused while one holds it alone, and the other way round.
  enum class Mode { kExclusive, kSharedWithShards };

  // Takes the lock of `dir` for `holder` (what this process is, e.g.
  // "tly-generator run"), without waiting. Throws DirectoryBusy when another
  // process (or another DirectoryLock of this one) holds it in a way that
  // excludes `mode`, and std::system_error when the lock file cannot be
  // opened or created (a missing or read-only directory).
  DirectoryLock(const std::string& dir, std::string_view holder, Mode mode = Mode::kExclusive);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // False when the locked file is no longer the one in the directory (the
  // directory was removed, or the file replaced): the lock then guards
  // nothing and must be taken again.
  bool StillInPlace() const;

  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::string path_;
  int fd_ = -1;
};

}  // namespace tly

#endif  // TLY_SUPPORT_DIRECTORY_LOCK_H_
