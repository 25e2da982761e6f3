#include "dayfile/day_file_reader.h"

#include <cerrno>
#include <system_error>

#include "dayfile/day_file_lines.h"
#include "dayfile/line_scanner.h"
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
  LineScanner lines(text);
  for (ScannedLine scanned; lines.Next(scanned);) {
    const std::string_view line = scanned.Lenient();
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
