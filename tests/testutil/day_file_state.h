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

#include "counting/day_counts.h"
#include "counting/day_file_loader.h"
#include "dayfile/day_file_check.h"
#include "testutil/temp_dir.h"

namespace tly::testing {

using ChannelSums = std::array<int64_t, kMaxChannels>;

// Per channel, the sum of the counts a fresh load of `path` gives.
inline ChannelSums SumsOnDisk(const std::string& path) {
  auto day = std::make_unique<DayCounts>();
  LoadDayFile(path, *day);
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
// and sound; none vanished; and none holds less, on any channel, than at the
// last look. `seen` keeps what each look found;
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
    EXPECT_TRUE(check.ok) << name << ": " << check.problem;
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
