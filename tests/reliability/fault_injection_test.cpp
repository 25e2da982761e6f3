// The generator keeps generating in memory whatever happens to its output
// directory: a save that cannot be done is dropped without damaging what is
// on disk, and the next save that can be done writes the whole day.

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "config/tly_config.h"
#include "counting/day_counts.h"
#include "counting/day_file_loader.h"
#include "counting/day_file_writer.h"
#include "dayfile/day_file_check.h"
#include "flat/day_file_image.h"
#include "live/generation_cycle.h"
#include "live/generation_timer.h"
#include "support/clock.h"
#include "support/date_time.h"
#include "support/safe_file.h"
#include "testutil/child_process.h"
#include "testutil/current_dir.h"
#include "testutil/manual_generator.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

namespace fs = std::filesystem;
using testing::Generator;
using testing::ReadBytes;
using testing::RunInChild;
using testing::TempDir;
using testing::WriteBytes;

// What a fresh load of `path` gives.
std::unique_ptr<DayCounts> LoadFromDisk(const std::string& path) {
  auto day = std::make_unique<DayCounts>();
  LoadDayFile(path, *day);
  return day;
}

// Whether the day on disk holds exactly the counts in memory.
::testing::AssertionResult DiskHoldsDay(const std::string& path, const DayCounts& memory) {
  const std::unique_ptr<DayCounts> disk = LoadFromDisk(path);
  for (int s = 0; s < kSlotsPerDay; ++s) {
    if (disk->SlotUsed[s] != memory.SlotUsed[s]) {
      return ::testing::AssertionFailure() << "slot " << s << " used differs";
    }
    if (std::memcmp(disk->Slots[s].Counts, memory.Slots[s].Counts, sizeof disk->Slots[s].Counts)) {
      return ::testing::AssertionFailure() << "counts of slot " << s << " differ";
    }
  }
  const DayFileCheck check = CheckDayFile(ReadBytes(path));
  if (!check.ok) return ::testing::AssertionFailure() << "unsound file: " << check.problem;
  return ::testing::AssertionSuccess();
}

bool NoTemporaryFileIn(const std::string& dir) {
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".tmp") return false;
  }
  return true;
}

TEST(FaultInjection, OutputDirectoryRemovedReplacedByAFileAndCreatedAgain) {
  TempDir temp;
  const std::string out = temp.File("out");
  fs::create_directory(out);
  Generator generator(out);
  ASSERT_TRUE(generator.TickUntilSave());

  fs::remove_all(out);
  for (int i = 0; i < 20; ++i) EXPECT_NO_THROW(generator.Tick());
  EXPECT_FALSE(generator.cycle().LastSaveOk());
  EXPECT_FALSE(fs::exists(out));

  WriteBytes(out, "not a directory");
  for (int i = 0; i < 20; ++i) EXPECT_NO_THROW(generator.Tick());
  EXPECT_FALSE(generator.cycle().LastSaveOk());
  EXPECT_EQ(ReadBytes(out), "not a directory");
  EXPECT_EQ(fs::directory_iterator(temp.path())->path(), out);  // nothing beside it

  fs::remove(out);
  fs::create_directory(out);
  ASSERT_TRUE(generator.TickUntilSave());
  EXPECT_TRUE(DiskHoldsDay(generator.day_file(), generator.cycle().DayData()));
  EXPECT_TRUE(NoTemporaryFileIn(out));
}

TEST(FaultInjection, NamesTakenByDirectoriesStopSavesUntilFreed) {
  TempDir temp;
  TempDir log_dir;
  const testing::ScopedCurrentDir in_log_dir(log_dir.path());
  Generator generator(temp.path());
  const std::string day_file = generator.day_file();
  const std::string temp_file = TempFileNameFor(day_file);

  // The day file's name is a directory from the start: the load finds no
  // day, the saves fail, the directory and its content stay. Each failed
  // replacement is logged and leaves the complete sealed file under the
  // temporary name.
  fs::create_directory(day_file);
  WriteBytes(day_file + "/kept", "kept");
  generator.cycle().ReloadDay();
  EXPECT_EQ(generator.cycle().DayData().LastSlot, -1);
  for (int i = 0; i < 20; ++i) EXPECT_NO_THROW(generator.Tick());
  EXPECT_FALSE(generator.cycle().LastSaveOk());
  EXPECT_EQ(ReadBytes(day_file + "/kept"), "kept");
  EXPECT_TRUE(CheckDayFile(ReadBytes(temp_file)).ok);
  EXPECT_NE(
      ReadBytes(log_dir.File("debug.txt")).find("\tSetHeaderToFile: CopyFile 2nd attempt failed: "),
      std::string::npos);

  // Freed, but now the temporary file's name is taken.
  fs::remove_all(day_file);
  fs::remove(temp_file);
  fs::create_directory(temp_file);
  for (int i = 0; i < 20; ++i) EXPECT_NO_THROW(generator.Tick());
  EXPECT_FALSE(generator.cycle().LastSaveOk());
  EXPECT_TRUE(fs::is_directory(temp_file));
  EXPECT_FALSE(fs::exists(day_file));

  fs::remove(temp_file);
  ASSERT_TRUE(generator.TickUntilSave());
  EXPECT_TRUE(DiskHoldsDay(day_file, generator.cycle().DayData()));
  EXPECT_TRUE(NoTemporaryFileIn(temp.path()));
}

// Permission bits do not stop root, so as root the child gives up root
// first; the directory then belongs to the user the child becomes, which can
// make it writable again. An ordinary user needs neither step.
TEST(FaultInjection, ReadOnlyDirectoryKeepsTheFileUntilItIsWritableAgain) {
  TempDir temp;
  ASSERT_EQ(::chmod(temp.path().c_str(), 0755), 0);
  const std::string out = temp.File("out");
  fs::create_directory(out);
  std::string day_file;
  {
    Generator first(out);
    ASSERT_TRUE(first.TickUntilSave());
    day_file = first.day_file();
  }
  const std::string before = ReadBytes(day_file);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(out.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(::chmod(out.c_str(), 0555), 0);

  const int code = RunInChild([&] {
    if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 2;
    Generator generator(out);
    for (int i = 0; i < 20; ++i) generator.Tick();
    if (generator.cycle().SaveCount() == 0 || generator.cycle().LastSaveOk()) return 3;
    if (ReadBytes(day_file) != before || !NoTemporaryFileIn(out)) return 4;
    if (::chmod(out.c_str(), 0755) != 0) return 5;
    if (!generator.TickUntilSave()) return 6;
    if (!DiskHoldsDay(day_file, generator.cycle().DayData())) return 7;
    return NoTemporaryFileIn(out) ? 0 : 8;
  });
  EXPECT_EQ(code, 0);
}

// A file size limit stands in for a full disk: writes beyond it fail with
// EFBIG. The save runs in a child so that the limit binds nothing else.
TEST(FaultInjection, FullDiskLeavesTheLastFileWholeAndTheNextSaveCatchesUp) {
  TempDir temp;
  std::string day_file;
  {
    Generator first(temp.path());
    // A quarter hour per tick, so that the file has many rows.
    for (int i = 0; i < 30; ++i) first.Tick(15 * 60);
    ASSERT_TRUE(first.TickUntilSave());
    day_file = first.day_file();
  }

  const int code = RunInChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    const rlim_t unlimited = limit.rlim_cur;
    Generator generator(temp.path());
    for (int i = 0; i < 10; ++i) generator.Tick(15 * 60);
    const std::string saved = ReadBytes(day_file);
    // Counts that only memory holds, so that a save has something new to write.
    AddCounts(generator.cycle().DayData(), 0, 7, EncodeTime(23, 50, 0, 0), 1, 3, -1, 0, -1, 0);
    const size_t rows = BuildDayRows(generator.cycle().DayData()).size();
    TTlyConfig config = generator.cycle().Config();
    const size_t sealed = BuildDayFileImage(generator.cycle().DayData(), config, 0).size();

    // Room for less than the sealed file, also for more than its rows alone:
    // the file stays as it was, byte for byte, and no partial file is left.
    for (const size_t room : {rows - 1, rows, sealed - 1}) {
      limit.rlim_cur = room;
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
      if (generator.cycle().SaveDay()) return 4;
      if (generator.cycle().LastSaveError().empty()) return 5;
      if (ReadBytes(day_file) != saved || !NoTemporaryFileIn(temp.path())) return 6;
    }

    // Room again: the next save writes the whole day.
    limit.rlim_cur = unlimited;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    if (!generator.cycle().SaveDay()) return 11;
    if (!DiskHoldsDay(day_file, generator.cycle().DayData())) return 12;
    return NoTemporaryFileIn(temp.path()) ? 0 : 13;
  });
  EXPECT_EQ(code, 0);
}

TEST(FaultInjection, CountsAtTheEdgesOf32BitsWrapAndRoundTrip) {
  auto day = std::make_unique<DayCounts>();
  InitDayCounts(*day, 2026, 12, 7);
  const TDateTime ten = EncodeTime(10, 0, 0, 0);
  AddCounts(*day, 0, INT32_MAX, ten, 1, INT32_MIN, 2, INT32_MAX, 3, -1);
  AddCounts(*day, 0, 1, ten, 1, -1, 2, INT32_MAX, 3, INT32_MIN);
  const int32_t* counts = day->Slots[40].Counts;
  EXPECT_EQ(counts[0], INT32_MIN);
  EXPECT_EQ(counts[1], INT32_MAX);
  EXPECT_EQ(counts[2], -2);
  EXPECT_EQ(counts[3], INT32_MAX);

  TempDir temp;
  const std::string day_file = temp.File("261207.tly");
  WriteDayRows(*day, day_file, "001", EncodeTime(1, 0, 0, 0), 0, 0);
  TTlyConfig config;
  config.SetHeaderToFile(day_file);
  EXPECT_TRUE(DiskHoldsDay(day_file, *day));

  // A count beyond 32 bits is no integer: the row's counts end before it.
  WriteBytes(day_file,
             "001\t07/12/2026\t10:00\t 2147483647\t -2147483648\t 2147483648\t 9\r\n"
             "001\t07/12/2026\t10:15\t -2147483649\t 9\r\n"
             "001\t07/12/2026\t10:30\t 99999999999999999999\t 9\r\n");
  const std::unique_ptr<DayCounts> loaded = LoadFromDisk(day_file);
  EXPECT_EQ(loaded->Slots[40].Counts[0], INT32_MAX);
  EXPECT_EQ(loaded->Slots[40].Counts[1], INT32_MIN);
  EXPECT_EQ(loaded->Slots[40].Counts[2], 0);
  EXPECT_EQ(loaded->Slots[40].Counts[3], 0);
  EXPECT_EQ(loaded->Slots[41].Counts[0], 0);
  EXPECT_EQ(loaded->Slots[42].Counts[0], 0);
  EXPECT_EQ(loaded->ChannelCount, 2);
}

}  // namespace
}  // namespace tly
