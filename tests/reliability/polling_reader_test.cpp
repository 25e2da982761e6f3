// A program that reads the output directory while the generator saves (an
// ingester polling for files) must only ever find whole, sealed day files.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "dayfile/day_file_check.h"
#include "dayfile/day_file_reader.h"
#include "testutil/manual_generator.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

TEST(PollingReader, NeverSeesADayFileWithoutItsHeaderAndSeal) {
  testing::TempDir dir;
  testing::Generator generator(dir.path());
  const std::string day_file = generator.day_file();

  std::atomic<bool> saving{true};
  int reads = 0;
  int unsound = 0;
  std::string first_problem;
  std::thread reader([&] {
    while (saving.load()) {
      const std::optional<std::string> bytes = ReadDayFileBytes(day_file);
      if (!bytes) continue;
      ++reads;
      const DayFileCheck check = CheckDayFile(*bytes);
      if (!check.ok && unsound++ == 0) first_problem = check.problem;
    }
  });
  // Ten minutes a tick: each tick saves, and the file grows by a row.
  for (int i = 0; i < 400; ++i) generator.Tick(600);
  saving.store(false);
  reader.join();

  EXPECT_GT(reads, 0);
  EXPECT_EQ(unsound, 0) << first_problem;
  EXPECT_GT(generator.cycle().SaveCount(), 300u);
}

}  // namespace
}  // namespace tly
