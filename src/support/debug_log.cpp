#include "support/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "support/clock.h"
#include "support/date_time.h"
#include "support/file_operations.h"

namespace tly {
namespace {

constexpr char kLogFileName[] = "debug.txt";

// Writes all of `bytes` to `fd`; false when the system refuses part of it.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = CurrentFileOperations().Write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

void WriteDebugLog(std::string_view message) noexcept {
  try {
    const TDateTime now = CurrentClock().Now();
    const CivilDate date = DecodeDate(now);
    const TimeOfDay time = DecodeTime(now);
    char stamp[64];
    const int length =
        std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d %02d:%02d:%02d\t", date.Day, date.Month,
                      date.Year, time.Hour, time.Minute, time.Second);
    if (length < 0) return;
    std::string entry(stamp, static_cast<size_t>(length));
    entry.append(message);
    AppendLogLine(entry);
  } catch (const std::bad_alloc&) {
    // Out of memory: the entry is lost, as every other failure of the log.
  }
}

void AppendLogLine(std::string_view text) noexcept {
  try {
    std::string line;
    line.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
        line.push_back(' ');
        ++i;
      } else {
        line.push_back(text[i]);
      }
    }
    line.append("\r\n");
    // Never through a link, and never blocking on a named pipe planted under
    // the log's name: the entry is lost instead.
    FileOperations& operations = CurrentFileOperations();
    const int fd = operations.OpenAt(
        AT_FDCWD, kLogFileName, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
        0644);
    if (fd < 0) return;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
      operations.Close(fd);
      return;
    }
    // The whole line goes out in one write where the system allows it, so
    // that two programs logging at once do not interleave within a line.
    WriteAll(fd, line);
    operations.Close(fd);
  } catch (const std::bad_alloc&) {
    // Out of memory: the entry is lost.
  }
}

}  // namespace tly
