#include <chrono>
#include <string>
#include <system_error>

#include "config/day_file_replace.h"
#include "config/tly_config.h"
#include "dayfile/day_file_reader.h"
#include "dayfile/sealed_image.h"
#include "support/clock.h"
#include "support/debug_log.h"
#include "support/safe_file.h"
#include "support/system_error.h"

namespace tly {
namespace {

constexpr std::string_view kReplaceFailedMessage = "SetHeaderToFile: CopyFile 2nd attempt failed: ";
constexpr auto kReplaceRetryDelay = std::chrono::milliseconds(100);

}  // namespace

void ReplaceDayFile(const std::string& file_name, std::string_view image) {
  try {
    ReplaceFileRetryingRename(file_name, image, kReplaceRetryDelay);
  } catch (const RenameRefused& error) {
    WriteDebugLog(std::string(kReplaceFailedMessage) + OneLineErrorText(error.code()));
    throw;
  }
}

void TTlyConfig::ReadDataLines(const std::string& file_name, std::vector<std::string>& lines) {
  Seal.clear();
  lines.clear();
  DayFileRows read = ReadDayFileRows(file_name);
  lines = std::move(read.rows);
  Seal = std::move(read.seal);
}

std::string TTlyConfig::BuildSealedFileText(std::string_view rows) {
  return BuildSealedFileText(rows, CurrentClock().Now());
}

std::string TTlyConfig::BuildSealedFileText(std::string_view rows, TDateTime updated_at) {
  DataHash = SealOfRows(rows);
  Seal = DataHash;
  std::vector<std::string> header;
  BuildHeaderLines(header, updated_at);
  return AssembleDayFile(header, rows);
}

void SealDayFile(TTlyConfig& config, const std::string& file_name) {
  // The rows are gathered straight from the file's text, each with CR LF,
  // without a string per row: a full day's save runs every two seconds.
  // The old seal is of no use: the new one replaces it.
  std::string rows;
  config.Seal.clear();
  if (const std::optional<std::string> text = ReadDayFileBytes(file_name)) {
    rows.reserve(text->size());
    ScanDayFileText(*text, [&rows](std::string_view row) {
      rows += row;
      rows += "\r\n";
    });
  }
  ReplaceDayFile(file_name, config.BuildSealedFileText(rows));
}

void TTlyConfig::SetHeaderToFile(const std::string& file_name) {
  try {
    SealDayFile(*this, file_name);
  } catch (const RenameRefused&) {
    // Logged; the complete temporary file stays, and the caller goes on as
    // after a successful rewrite.
  }
}

}  // namespace tly
