#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <system_error>
#include <thread>

#include "cipher/cipher_hash.h"
#include "config/header_lines.h"
#include "config/tly_config.h"
#include "support/debug_log.h"
#include "support/safe_file.h"

namespace tly {
namespace {

constexpr std::string_view kReplaceFailedMessage = "SetHeaderToFile: CopyFile 2nd attempt failed: ";
constexpr auto kReplaceRetryDelay = std::chrono::milliseconds(100);

[[noreturn]] void ThrowErrno(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

// Closes the descriptor on every way out of the reader.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { ::close(fd_); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The whole content of `file_name`, read with as few calls as its size
// allows. Returns false when there is no file of that name (a directory does
// not count as a file). Throws std::system_error on any other failure, also
// when the name holds something other than a regular file: opening without
// blocking and refusing such things keeps a named pipe planted under a day
// file's name from hanging the generator.
bool ReadWholeFile(const std::string& file_name, std::string& content) {
  content.clear();
  const int fd = ::open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return false;
    ThrowErrno(errno, "cannot open " + file_name);
  }
  FileDescriptor file(fd);
  struct stat status {};
  if (::fstat(fd, &status) != 0) ThrowErrno(errno, "cannot examine " + file_name);
  if (S_ISDIR(status.st_mode)) return false;
  if (!S_ISREG(status.st_mode)) ThrowErrno(EINVAL, file_name + " is not a regular file");

  // One byte beyond the expected size lets a single read both fill the buffer
  // and see the end of the file; a file that grows meanwhile is read on.
  std::size_t capacity = static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 0) + 1;
  if (capacity < 4096) capacity = 4096;
  content.resize(capacity);
  std::size_t used = 0;
  for (;;) {
    if (used == content.size()) content.resize(content.size() * 2);
    const ssize_t got = ::read(fd, content.data() + used, content.size() - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno, "cannot read " + file_name);
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  content.resize(used);
  return true;
}

// The system's text for `error` without trailing blanks, line breaks and
// full stops, so it fits on one log line.
std::string ErrorText(const std::error_code& error) {
  std::string text = error.message();
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

// Calls `on_data_line` with each data line of a day file's `content`, in
// order and without its line end (CR LF or a lone LF), and returns the last
// seal line (empty when there is none).
std::string_view ScanDayFileLines(std::string_view content,
                                  const std::function<void(std::string_view)>& on_data_line) {
  std::string_view seal_line;
  while (!content.empty()) {
    const std::size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);
    if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (IsSealLine(line)) {
      seal_line = line;
    } else if (IsDataLine(line)) {
      on_data_line(line);
    }
  }
  return seal_line;
}

}  // namespace

void TTlyConfig::ReadDataLines(const std::string& file_name, std::vector<std::string>& lines) {
  Seal.clear();
  lines.clear();
  std::string content;
  if (!ReadWholeFile(file_name, content)) return;
  const std::string_view seal_line =
      ScanDayFileLines(content, [&lines](std::string_view line) { lines.emplace_back(line); });
  if (!seal_line.empty()) ParseSealLine(seal_line);
}

std::string TTlyConfig::BuildSealedFileText(std::string_view rows) {
  DataHash = rows.empty() ? std::string()
                          : HashString(TCipherHashAlg2::Class(), rows, TFormat_HEX::Class());
  Seal = DataHash;
  std::string content = GetHeaderText();
  content.reserve(content.size() + kTitleLine1.size() + kTitleLine2.size() + 4 + rows.size());
  content += kTitleLine1;
  content += "\r\n";
  content += kTitleLine2;
  content += "\r\n";
  content += rows;
  return content;
}

void TTlyConfig::SetHeaderToFile(const std::string& file_name) {
  // The rows are gathered straight from the file's text, each with CR LF,
  // without a string per row: a full day's save runs every two seconds.
  // The old seal is of no use: the new one replaces it.
  std::string file_text;
  std::string joined;
  Seal.clear();
  if (ReadWholeFile(file_name, file_text)) {
    joined.reserve(file_text.size());
    ScanDayFileLines(file_text, [&joined](std::string_view line) {
      joined += line;
      joined += "\r\n";
    });
  }
  const std::string content = BuildSealedFileText(joined);

  const std::string temporary = TempFileNameFor(file_name);
  NewFile out(temporary);
  try {
    out.Write(content);
    out.Close();

    // Renaming replaces the day file in one step, so a reader sees either the
    // old or the new content, never a mixture.
    try {
      RenameOver(temporary, file_name);
      return;
    } catch (const std::system_error&) {
      // Another program may hold the file for a moment; try once more.
    }
    std::this_thread::sleep_for(kReplaceRetryDelay);
    try {
      RenameOver(temporary, file_name);
    } catch (const std::system_error& error) {
      WriteDebugLog(std::string(kReplaceFailedMessage) + ErrorText(error.code()));
    }
  } catch (...) {
    RemoveQuietly(temporary);
    throw;
  }
}

}  // namespace tly
