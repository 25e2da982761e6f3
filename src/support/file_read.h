#ifndef TLY_SUPPORT_FILE_READ_H_
#define TLY_SUPPORT_FILE_READ_H_

#include <cstddef>
#include <limits>
#include <optional>
#include <string>

namespace tly {

// The whole content of the regular file `path`, read with as few calls as its
// size allows; std::nullopt when no file of that name exists (ENOENT or
// ENOTDIR). Never blocks: anything but a regular file (a named pipe, a
// device such as /dev/zero, a socket) is refused without being read.
// Throws std::system_error with the errno and the path when the file cannot
// be opened or read, with EISDIR for a directory and EINVAL for other
// non-regular files. A file larger than `max_bytes` is refused with EFBIG:
// its size is looked at before anything is read, and at most max_bytes + 1
// bytes are read, so a file that grows meanwhile cannot take the memory.
std::optional<std::string> ReadWholeFile(
    const std::string& path, std::size_t max_bytes = std::numeric_limits<std::size_t>::max());

}  // namespace tly

#endif  // TLY_SUPPORT_FILE_READ_H_
