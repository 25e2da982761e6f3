#include "delivery/delivery_spool.h"

#include <optional>

#include "delivery/delivery_log.h"
#include "support/file_read.h"
#include "support/output_directory.h"

namespace tly {
namespace {

// "2026-12-08T00:00:00" back to a date-time, or none.
std::optional<TDateTime> TimeOfText(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (text.size() != 19 || std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &year, &month, &day,
                                       &hour, &minute, &second) != 6) {
    return std::nullopt;
  }
  TDateTime date = 0;
  if (!TryEncodeDate(year, month, day, date) || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  return date + (hour * 3600 + minute * 60 + second) / 86400.0;
}

}  // namespace

std::string SpoolFileName(int shard_index, int shard_count) {
  if (shard_count <= 1) return "deliveries.spool";
  return "deliveries.shard-" + std::to_string(shard_index) + "-of-" + std::to_string(shard_count) +
         ".spool";
}

std::vector<SpooledFile> ReadSpool(const std::string& path) {
  std::vector<SpooledFile> files;
  const std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return files;
  for (size_t start = 0; start < text->size();) {
    size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    const std::string line = text->substr(start, end - start);
    start = end + 1;
    const size_t tab1 = line.find('\t');
    const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) continue;
    const std::optional<TDateTime> due = TimeOfText(line.substr(tab2 + 1));
    if (!due) continue;
    files.push_back({line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1), *due});
  }
  return files;
}

void WriteSpool(const std::string& path, const std::vector<SpooledFile>& files) {
  if (files.empty()) {
    RemoveFile(path);
    return;
  }
  std::string text;
  for (const SpooledFile& file : files) {
    text += file.site + "\t" + file.file_name + "\t" + LocalTimeText(file.due) + "\n";
  }
  ReplaceFileWith(path, text);
}

}  // namespace tly
