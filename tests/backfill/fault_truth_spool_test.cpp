// The truth kept on disk gives the bytes of the truth kept in memory, whatever
// order the site-days come in and whatever names the sites have.

#include "backfill/fault_truth_spool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults/fault_truth_file.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::EntriesOf;
using testing::ReadBytes;
using testing::TempDir;

FaultRecord Record(const std::string& site, const std::string& day, FaultKind kind, int quarter) {
  FaultRecord record;
  record.site = site;
  record.file = site + "/" + day + ".tly";
  record.kind = kind;
  record.first_quarter = quarter;
  record.last_quarter = quarter;
  return record;
}

TEST(FaultTruthSpool, WritesWhatTheTruthInMemoryWrites) {
  // Sites whose names sort otherwise than their lines ("a-b/" < "a/"), a
  // name twice, a site whose days come apart, a day's records out of order,
  // a record twice, days of two centuries.
  const std::vector<std::string> sites = {"b", "a-b", "a", "a", "\xc3\xa9t\xc3\xa9"};
  const struct {
    size_t group;
    std::vector<FaultRecord> records;
  } added[] = {
      {0,
       {Record("b", "991231", FaultKind::kTruncated, 9),
        Record("b", "991231", FaultKind::kEmptyFile, 0)}},
      {1, {Record("a-b", "270101", FaultKind::kTruncated, 3)}},
      {0, {Record("b", "000101", FaultKind::kMissingDay, 0)}},
      {2,
       {Record("a", "270102", FaultKind::kTruncated, 5),
        Record("a", "270102", FaultKind::kTruncated, 5)}},
      {3, {Record("a", "270101", FaultKind::kOfflineDays, 1)}},
      {4, {}},
      {4, {Record(sites[4], "270101", FaultKind::kEmptyFile, 0)}},
  };
  std::vector<FaultRecord> all;
  TempDir dir;
  FaultTruthSpool spool(dir.path(), sites.size());
  for (const auto& [group, records] : added) {
    spool.Add(group, records);
    all.insert(all.end(), records.begin(), records.end());
  }
  spool.WriteTruth(dir.File("faults.jsonl"));
  EXPECT_EQ(ReadBytes(dir.File("faults.jsonl")), FaultTruthText(all));
  EXPECT_EQ(EntriesOf(dir.path()), std::vector<std::string>{"faults.jsonl"});

  FaultTruthSpool empty(dir.path(), 1);
  empty.WriteTruth(dir.File("faults.jsonl"));
  EXPECT_EQ(ReadBytes(dir.File("faults.jsonl")), "");
}

}  // namespace
}  // namespace tly
