#include "dayfile/day_file_reader.h"

#include <cerrno>
#include <system_error>

#include "dayfile/day_file_lines.h"
#include "support/file_read.h"

namespace tly {

std::optional<std::string> ReadDayFileBytes(const std::string& path) {
  try {
    return ReadWholeFile(path);
  } catch (const std::system_error& error) {
    if (error.code().value() == EISDIR) return std::nullopt;
    throw;
  }
}

std::string_view ScanDayFileText(std::string_view text,
                                 const std::function<void(std::string_view)>& on_row) {
  std::string_view seal_line;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (IsSealLine(line)) {
      seal_line = line;
    } else if (IsDataLine(line)) {
      on_row(line);
    }
  }
  return SealTextOf(seal_line);
}

DayFileRows ReadDayFileRows(const std::string& path) {
  DayFileRows result;
  const std::optional<std::string> bytes = ReadDayFileBytes(path);
  if (!bytes) return result;
  result.exists = true;
  result.seal = std::string(
      ScanDayFileText(*bytes, [&result](std::string_view row) { result.rows.emplace_back(row); }));
  return result;
}

}  // namespace tly
