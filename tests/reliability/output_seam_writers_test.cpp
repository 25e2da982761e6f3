// The program's writers pass a failure of the output directory on as a
// failure: what was there stays, nothing partial is left, and no later file
// is written as if the failed one had been.

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "backfill/backfill.h"
#include "backfill/fault_truth_spool.h"
#include "dayfile/day_file_check.h"
#include "faults/fault_truth_file.h"
#include "support/date_time.h"
#include "support/file_operations.h"
#include "testutil/failing_file_operations.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::EntriesOf;
using testing::FailingFileOperations;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;
using Call = FailingFileOperations::Call;

TEST(OutputSeamWriters, TheTruthFileStaysAsItWasWhenItCannotBeReplaced) {
  const std::string old = "{\"file\":\"shop/261207.tly\",\"kind\":\"gap\"}\n";
  const auto update = [](const std::string& path) {
    UpdateFaultTruth(path, {{"shop/261208.tly", {}}});
  };
  const auto write = [](const std::string& path) { WriteFaultTruth(path, {}); };
  const auto spool = [](const std::string& path) {
    FaultTruthSpool truth(path.substr(0, path.rfind('/')), 1);
    FaultRecord record;
    record.file = "shop/261208.tly";
    truth.Add(0, {record});
    truth.WriteTruth(path);
  };
  const struct {
    Call call;
    std::function<void(const std::string&)> writer;
  } cases[] = {{Call::kWrite, update}, {Call::kRename, update}, {Call::kOpen, write},
               {Call::kRename, write}, {Call::kWrite, spool},   {Call::kRename, spool}};
  for (const auto& [call, writer] : cases) {
    SCOPED_TRACE(call);
    TempDir dir;
    const std::string path = dir.File("faults.jsonl");
    WriteBytes(path, old);
    FailingFileOperations operations;
    operations.FailNth(call, 1, EIO);
    const ScopedFileOperations scope(operations);
    EXPECT_THROW(writer(path), std::system_error);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(EntriesOf(dir.path()), std::vector<std::string>{"faults.jsonl"});
  }
}

TEST(OutputSeamWriters, TheBackfillStopsAtTheDayItCannotWrite) {
  TempDir dir;
  WriteBytes(dir.File("261208.tly"), "old");
  FailingFileOperations operations;
  operations.FailNth(Call::kRename, 2, EIO);
  const ScopedFileOperations scope(operations);
  const BackfillRequest request{
      dir.path(), {2026, 12, 7}, {2026, 12, 9}, 0, ExistingDayFiles::kReplace, {}, 2};
  try {
    Backfill(request);
    ADD_FAILURE() << "reported success";
  } catch (const DayNotWritten& error) {
    EXPECT_EQ(error.code().value(), EIO);
    EXPECT_EQ(error.day(), EncodeDate(2026, 12, 8));
    EXPECT_NE(std::string(error.what()).find(dir.File("261208.tly")), std::string::npos)
        << error.what();
  }
  EXPECT_TRUE(CheckDayFile(ReadBytes(dir.File("261207.tly"))).ok);
  EXPECT_EQ(ReadBytes(dir.File("261208.tly")), "old");
  EXPECT_EQ(EntriesOf(dir.path()), (std::vector<std::string>{"261207.tly", "261208.tly"}));
}

}  // namespace
}  // namespace tly
