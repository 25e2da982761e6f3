#include "faults/fault_truth_reader.h"

#include <gtest/gtest.h>

#include "faults/fault_record.h"

namespace tly {
namespace {

// The spans and the true and written counts of a record come back from its
// JSON line; values no quarter hour or channel holds are left out.
TEST(FaultTruthReader, ReadsBackTheSpanAndTheValuesOfARecord) {
  FaultRecord record;
  record.site = "north";
  record.file = "north/270105.tly";
  record.kind = FaultKind::kOutage;
  record.first_quarter = 40;
  record.last_quarter = 43;
  record.channels = {1, 2};
  record.values = {{40, 1, 12, 0}, {41, 2, 7, std::nullopt}};
  const std::string line = FaultRecordJson(record);
  const std::vector<TruthEntry> entries = ParseFaultTruth(line + "\n", "faults.jsonl");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].first_quarter, 40);
  EXPECT_EQ(entries[0].last_quarter, 43);
  ASSERT_EQ(entries[0].values.size(), 2u);
  EXPECT_EQ(entries[0].values[0].true_value, 12);
  EXPECT_EQ(entries[0].values[0].written, 0);
  EXPECT_EQ(entries[0].values[1].channel, 2);
  EXPECT_FALSE(entries[0].values[1].written);

  const std::vector<TruthEntry> odd =
      ParseFaultTruth(R"({"file":"a/270105.tly","kind":"spike","last_quarter":96,"values":[)"
                      R"({"quarter":96,"channel":1,"true":1},{"quarter":3,"channel":0,"true":1},)"
                      R"({"quarter":3,"channel":65,"true":1},{"quarter":3,"channel":1},)"
                      R"({"quarter":3,"channel":1,"true":18446744073709551615},7]})",
                      "faults.jsonl");
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_FALSE(odd[0].last_quarter);
  EXPECT_TRUE(odd[0].values.empty());
}

}  // namespace
}  // namespace tly
