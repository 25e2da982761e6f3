#ifndef TLY_TESTS_TESTUTIL_DAY_FILE_STATE_H_
#define TLY_TESTS_TESTUTIL_DAY_FILE_STATE_H_

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/day_file_check.h"
#include "config/tly_config.h"
#include "counting/day_counts.h"
#include "counting/day_file_loader.h"
#include "testutil/temp_dir.h"

namespace tly::testing {

using ChannelSums = std::array<int64_t, kMaxChannels>;

// Whether `bytes` is what a save leaves between its two steps: data rows
// only, every one of them whole (shop code, date, time, the same number of
// count fields " <integer>" in each), each ended by CR LF. No rows at all
// counts too.
inline bool IsWholeRowsOnly(std::string_view bytes) {
  size_t fields_per_row = 0;
  while (!bytes.empty()) {
    const size_t end = bytes.find("\r\n");
    if (end == std::string_view::npos) return false;
    std::string_view row = bytes.substr(0, end);
    bytes.remove_prefix(end + 2);
    std::vector<std::string_view> fields;
    for (size_t tab; (tab = row.find('\t')) != std::string_view::npos; row.remove_prefix(tab + 1)) {
      fields.push_back(row.substr(0, tab));
    }
    fields.push_back(row);
    if (fields.size() < 3 || fields[0] != "001" || fields[1].size() != 10 ||
        fields[2].size() != 5) {
      return false;
    }
    for (size_t i = 3; i < fields.size(); ++i) {
      const std::string_view count = fields[i];
      if (count.size() < 2 || count[0] != ' ') return false;
      if (count.find_first_not_of("-0123456789", 1) != std::string_view::npos) return false;
    }
    if (fields_per_row != 0 && fields.size() != fields_per_row) return false;
    fields_per_row = fields.size();
  }
  return true;
}

// Per channel, the sum of the counts a fresh load of `path` gives.
inline ChannelSums SumsOnDisk(const std::string& path) {
  auto day = std::make_unique<DayCounts>();
  TTlyConfig config;
  LoadDayFile(path, *day, config);
  ChannelSums sums{};
  for (const SlotCounts& slot : day->Slots) {
    for (int c = 0; c < kMaxChannels; ++c) sums[c] += slot.Counts[c];
  }
  return sums;
}

inline bool HasTemporaryFile(const std::string& dir) {
  for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() == ".tmp") return true;
  }
  return false;
}

// What a look at a day file found: its identity (a replaced file gets a new
// inode) and the per-channel sums of its counts.
struct SeenDayFile {
  uintmax_t inode = 0;
  std::filesystem::file_time_type modified;
  uintmax_t size = 0;
  ChannelSums sums{};
};

// Checks every day file in `dir` after the writer was killed: each is sealed
// and sound, or holds whole rows only; none vanished; and none holds less,
// on any channel, than at the last look. `seen` keeps what each look found;
// a file unchanged since then is not read again.
inline void ExpectSoundAndGrowing(const std::string& dir, std::map<std::string, SeenDayFile>& seen,
                                  int kill_number) {
  SCOPED_TRACE("after kill " + std::to_string(kill_number));
  for (const auto& [name, last] : seen) {
    EXPECT_TRUE(std::filesystem::exists(dir + "/" + name)) << name << " vanished";
  }
  for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".tly") continue;
    const std::string name = entry.path().filename();
    struct stat info {};
    ASSERT_EQ(::stat(entry.path().c_str(), &info), 0) << name;
    SeenDayFile now;
    now.inode = info.st_ino;
    now.modified = entry.last_write_time();
    now.size = static_cast<uintmax_t>(info.st_size);
    const auto found = seen.find(name);
    if (found != seen.end() && found->second.inode == now.inode &&
        found->second.modified == now.modified && found->second.size == now.size) {
      continue;
    }
    const std::string bytes = ReadBytes(entry.path());
    const DayFileCheck check = CheckDayFile(bytes);
    EXPECT_TRUE(check.ok || IsWholeRowsOnly(bytes)) << name << ": " << check.problem;
    now.sums = SumsOnDisk(entry.path());
    if (found != seen.end()) {
      for (int c = 0; c < kMaxChannels; ++c) {
        EXPECT_GE(now.sums[c], found->second.sums[c]) << name << " channel " << c << " lost counts";
      }
    }
    seen[name] = now;
  }
}

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_DAY_FILE_STATE_H_
