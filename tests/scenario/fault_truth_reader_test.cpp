#include "faults/fault_truth_reader.h"

#include <gtest/gtest.h>

#include "faults/fault_record.h"
#include "faults/fault_truth_file.h"

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

// The passages a counter missed come back from their line, beside the faults
// of the same file; a line whose lists do not fit its channels is refused.
TEST(FaultTruthReader, ReadsBackThePassagesMissedAndRefusesBadLists) {
  FaultRecord missed;
  missed.site = "north";
  missed.file = "north/270105.tly";
  missed.channels = {1, 4};
  missed.missed = {std::vector<uint32_t>(96, 0), std::vector<uint32_t>(96, 0)};
  (*missed.missed)[0][40] = 3;
  (*missed.missed)[1][95] = 4294967295u;
  FaultRecord spike;
  spike.site = "north";
  spike.file = "north/270105.tly";
  spike.kind = FaultKind::kSpike;
  const TruthLines lines = ParseTruth(FaultTruthText({missed, spike}) + "\n", "faults.jsonl");
  ASSERT_EQ(lines.faults.size(), 1u);
  EXPECT_EQ(lines.faults[0].kind, FaultKind::kSpike);
  EXPECT_EQ(ParseFaultTruth(FaultTruthText({missed}), "faults.jsonl").size(), 0u);
  ASSERT_EQ(lines.passages.size(), 1u);
  const PassageTruth& read = lines.passages[0];
  EXPECT_EQ(read.file, "north/270105.tly");
  EXPECT_EQ(read.channels, (std::vector<int>{1, 4}));
  ASSERT_EQ(read.missed.size(), 2u);
  EXPECT_EQ(read.missed[0][40], 3);
  EXPECT_EQ(read.missed[1][95], 4294967295);
  EXPECT_EQ(read.missed[0][41] + read.missed[1][0], 0);

  const std::string head = R"({"file":"a/270105.tly","kind":"missed_passages",)";
  // 96 counts, but the first below 0.
  std::string negative = "[-1";
  for (int q = 1; q < 96; ++q) negative += ",0";
  negative += "]";
  for (const std::string& bad :
       {head + R"("channels":[1],"missed":[]})", head + R"("channels":[0],"missed":[[]]})",
        head + R"("channels":[1],"missed":[[1,2]]})",
        head + R"("channels":[1],"missed":[)" + negative + "]}", head + R"("channels":[1]})"}) {
    EXPECT_THROW(ParseTruth(bad, "faults.jsonl"), std::invalid_argument) << bad;
  }
}

}  // namespace
}  // namespace tly
