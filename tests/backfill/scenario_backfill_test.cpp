// Scenario backfills: the same scenario and seed give the same bytes on any
// number of threads and in any split into shards; every file is sound; an
// existing file is continued as the program's own files are.

#include "backfill/scenario_backfill.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include "counting/day_file_loader.h"
#include "dayfile/day_file_check.h"
#include "scenario/scenario_file.h"
#include "testutil/scenario_request.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::RequestFor;
using testing::TempDir;
using Tree = std::map<std::string, std::string>;

// Every file below `dir` (but the writers' lock files) by its relative path.
Tree TreeOf(const std::string& dir) {
  Tree tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename() == ".tly-generator.lock") continue;
    tree[entry.path().lexically_relative(dir)] = ReadBytes(entry.path());
  }
  return tree;
}

TEST(ScenarioBackfill, SameBytesOnAnyThreadsAndShardsAndEveryFileSound) {
  const Scenario scenario = ParseScenario(ExampleScenario(), "example.toml");
  TempDir serial;
  ScenarioBackfill(RequestFor(scenario, serial.path(), 1));
  const Tree whole = TreeOf(serial.path());
  ASSERT_EQ(whole.size(), scenario.sites.size() * 5);
  for (const auto& [name, bytes] : whole) {
    const DayFileCheck check = CheckDayFile(bytes);
    EXPECT_TRUE(check.ok) << name << ": " << check.problem;
  }

  TempDir threaded;
  ScenarioBackfill(RequestFor(scenario, threaded.path(), 3));
  EXPECT_EQ(TreeOf(threaded.path()), whole);

  TempDir again;
  ScenarioBackfill(RequestFor(scenario, again.path(), 2));
  EXPECT_EQ(TreeOf(again.path()), whole);

  // Four shards, each in a directory of its own as on four machines: apart,
  // and together the whole.
  Tree united;
  for (int k = 1; k <= 4; ++k) {
    TempDir shard_dir;
    ScenarioBackfill(RequestFor(scenario, shard_dir.path(), 2, Shard{k, 4}));
    for (auto& [name, bytes] : TreeOf(shard_dir.path())) {
      EXPECT_TRUE(united.emplace(name, std::move(bytes)).second) << name << " in two shards";
    }
  }
  EXPECT_EQ(united, whole);

  // Another seed, other traffic.
  TempDir reseeded;
  ScenarioBackfillRequest other = RequestFor(scenario, reseeded.path(), 2);
  other.seed = scenario.seed + 1;
  ScenarioBackfill(other);
  EXPECT_NE(TreeOf(reseeded.path()).at("rivoli/271030.tly"), whole.at("rivoli/271030.tly"));
}

TEST(ScenarioBackfill, ExistingFilesAreRefusedContinuedReplacedOrKept) {
  const Scenario scenario = ParseScenario(ExampleScenario(), "example.toml");
  TempDir fresh;
  ScenarioBackfill(RequestFor(scenario, fresh.path(), 2));
  const Tree once = TreeOf(fresh.path());

  TempDir dir;
  ScenarioBackfillRequest request = RequestFor(scenario, dir.path(), 2);
  ScenarioBackfill(request);
  EXPECT_THROW(ScenarioBackfill(request), DayFilesExist);
  EXPECT_EQ(TreeOf(dir.path()), once);

  // Continuing adds the same traffic again: every count doubles.
  request.existing = ExistingDayFiles::kContinue;
  ScenarioBackfill(request);
  const std::string file = dir.File("la-defense/271029.tly");
  auto single = std::make_unique<DayCounts>();
  auto doubled = std::make_unique<DayCounts>();
  ASSERT_TRUE(LoadDayFile(fresh.File("la-defense/271029.tly"), *single));
  ASSERT_TRUE(LoadDayFile(file, *doubled));
  int64_t total = 0;
  for (int s = 0; s < kSlotsPerDay; ++s) {
    for (int c = 0; c < 6; ++c) {
      ASSERT_EQ(doubled->Slots[s].Counts[c], 2 * single->Slots[s].Counts[c]) << s << " " << c;
      total += single->Slots[s].Counts[c];
    }
  }
  EXPECT_GT(total, 0);
  EXPECT_TRUE(CheckDayFile(ReadBytes(file)).ok);

  request.existing = ExistingDayFiles::kReplace;
  ScenarioBackfill(request);
  EXPECT_EQ(TreeOf(dir.path()), once);

  std::filesystem::remove(dir.File("rivoli/271101.tly"));
  testing::WriteBytes(dir.File("rivoli/271102.tly"), "kept");
  request.existing = ExistingDayFiles::kSkip;
  ScenarioBackfill(request);
  Tree expected = once;
  expected["rivoli/271102.tly"] = "kept";
  EXPECT_EQ(TreeOf(dir.path()), expected);
}

// The site-days are made on several threads and written site by site, day
// by day: the first that cannot be written stops the run, every site-day
// before it is whole, none after it is written.
TEST(ScenarioBackfill, StopsAtTheFirstSiteDayThatCannotBeWritten) {
  const Scenario scenario = ParseScenario(ExampleScenario(), "example.toml");
  TempDir fresh;
  ScenarioBackfill(RequestFor(scenario, fresh.path(), 1));
  const Tree whole = TreeOf(fresh.path());

  TempDir dir;
  std::filesystem::create_directories(dir.File("la-defense/271031.tly"));
  ScenarioBackfillRequest request = RequestFor(scenario, dir.path(), 4);
  request.existing = ExistingDayFiles::kReplace;
  try {
    ScenarioBackfill(request);
    ADD_FAILURE() << "no site-day failed";
  } catch (const DayNotWritten& failure) {
    EXPECT_EQ(failure.day(), EncodeDate(2027, 10, 31));
    EXPECT_EQ(failure.file(), dir.File("la-defense/271031.tly"));
    EXPECT_EQ(failure.code(), std::errc::is_a_directory) << failure.code().message();
  }
  Tree expected;
  for (const auto& [name, bytes] : whole) {
    if (name.rfind("rivoli/", 0) == 0 || name == "la-defense/271029.tly" ||
        name == "la-defense/271030.tly") {
      expected[name] = bytes;
    }
  }
  EXPECT_EQ(TreeOf(dir.path()), expected);
}

}  // namespace
}  // namespace tly
