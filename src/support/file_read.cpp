#include "support/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "support/system_error.h"

namespace tly {
namespace {

// Closes the descriptor on every way out of the reader.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { ::close(fd_); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

 private:
  int fd_;
};

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t max_bytes) {
  // O_NONBLOCK: opening a named pipe must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowSystemError(errno, "cannot open " + path);
  }
  const FileDescriptor closer(fd);
  struct stat status {};
  if (::fstat(fd, &status) != 0) ThrowSystemError(errno, "cannot examine " + path);
  if (S_ISDIR(status.st_mode)) ThrowSystemError(EISDIR, "cannot read " + path);
  if (!S_ISREG(status.st_mode)) ThrowSystemError(EINVAL, path + " is not a regular file");
  const std::string too_large = path + " is larger than " + std::to_string(max_bytes) + " bytes";
  if (static_cast<uintmax_t>(status.st_size) > max_bytes) ThrowSystemError(EFBIG, too_large);

  // One byte beyond the expected size lets a single read both fill the buffer
  // and see the end of the file; a file that grows meanwhile is read on.
  std::string content;
  // Past the bound, one byte more than it is all that is ever read.
  const std::size_t most =
      max_bytes == std::numeric_limits<std::size_t>::max() ? max_bytes : max_bytes + 1;
  std::size_t capacity = static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 0) + 1;
  capacity = std::min(std::max<std::size_t>(capacity, 4096), most);
  content.resize(capacity);
  std::size_t used = 0;
  for (;;) {
    if (used == content.size()) {
      if (used == most) ThrowSystemError(EFBIG, too_large);
      content.resize(std::min(content.size() * 2, most));
    }
    const ssize_t got = ::read(fd, content.data() + used, content.size() - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowSystemError(errno, "cannot read " + path);
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  content.resize(used);
  return content;
}

}  // namespace tly
