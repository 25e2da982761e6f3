// Whatever system call of a replacement fails, the error names the file and
// carries the system's errno, the old file stays whole and no temporary file
// is left; only a completed replacement is passed on to the observer.

#include "support/output_directory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

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

constexpr char kNew[] = "001\t07/12/2026\t10:00\t 1\t 2\r\n";  // written 4 bytes at a time

struct ReplaceFault {
  const char* what;
  Call call;
  int nth;
  int error;
  bool stale_temp;    // a leftover temporary file is in the way first
  int reported;       // the errno the failure carries
  const char* named;  // the file its message names
};

TEST(OutputDirectory, AFailedReplacementLeavesTheOldFileAndNoTemporary) {
  const std::vector<ReplaceFault> faults = {
      {"create", Call::kOpen, 1, ENOSPC, false, ENOSPC, "261207.tmp"},
      {"create after the stale file went", Call::kOpen, 2, EACCES, true, EACCES, "261207.tmp"},
      {"first write", Call::kWrite, 1, ENOSPC, false, ENOSPC, "261207.tmp"},
      {"a later write", Call::kWrite, 3, EFBIG, false, EFBIG, "261207.tmp"},
      {"close", Call::kClose, 1, EIO, false, EIO, "261207.tmp"},
      {"rename", Call::kRename, 1, EXDEV, false, EXDEV, "261207.tly"},
  };
  for (const ReplaceFault& fault : faults) {
    SCOPED_TRACE(fault.what);
    TempDir dir;
    WriteBytes(dir.File("261207.tly"), "old");
    if (fault.stale_temp) WriteBytes(dir.File("261207.tmp"), "stale");
    OutputDirectory out(dir.path());
    std::vector<std::string> replaced;
    out.SetReplacedObserver([&](const std::string& name) { replaced.push_back(name); });
    FailingFileOperations operations;
    operations.CutWritesTo(4);
    operations.FailNth(fault.call, fault.nth, fault.error);
    {
      const ScopedFileOperations scope(operations);
      try {
        out.ReplaceFileWith("261207.tly", kNew);
        ADD_FAILURE() << "reported success";
      } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), fault.reported);
        EXPECT_NE(std::string(error.what()).find(dir.File(fault.named)), std::string::npos)
            << error.what();
      }
    }
    EXPECT_EQ(ReadBytes(dir.File("261207.tly")), "old");
    EXPECT_EQ(EntriesOf(dir.path()), std::vector<std::string>{"261207.tly"});
    EXPECT_TRUE(replaced.empty());

    // The same directory replaces the file once nothing fails, also with
    // writes cut short.
    const ScopedFileOperations scope(operations);
    out.ReplaceFileWith("261207.tly", kNew);
    EXPECT_EQ(ReadBytes(dir.File("261207.tly")), kNew);
    EXPECT_EQ(replaced, std::vector<std::string>{"261207.tly"});
  }
}

// A stale temporary file that cannot be removed is not ours to touch: it is
// reported as the obstacle and stays, as does the file.
TEST(OutputDirectory, AStaleTemporaryThatStaysIsReportedAndKept) {
  TempDir dir;
  WriteBytes(dir.File("261207.tly"), "old");
  WriteBytes(dir.File("261207.tmp"), "stale");
  const OutputDirectory out(dir.path());
  FailingFileOperations operations;
  operations.FailNth(Call::kUnlink, 1, EPERM);
  const ScopedFileOperations scope(operations);
  try {
    out.ReplaceFileWith("261207.tly", kNew);
    ADD_FAILURE() << "reported success";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), EEXIST) << error.what();
  }
  EXPECT_EQ(ReadBytes(dir.File("261207.tly")), "old");
  EXPECT_EQ(ReadBytes(dir.File("261207.tmp")), "stale");
}

// The day file's rule: a refused rename is tried once more; refused twice,
// the complete temporary file is kept and RenameRefused carries the second
// error.
TEST(OutputDirectory, ARefusedRenameIsTriedOnceMore) {
  TempDir dir;
  WriteBytes(dir.File("261207.tly"), "old");
  const OutputDirectory out(dir.path());
  FailingFileOperations operations;
  const ScopedFileOperations scope(operations);
  operations.FailNth(Call::kRename, 1, EBUSY);
  out.ReplaceFileRetryingRename("261207.tly", kNew, std::chrono::milliseconds(1));
  EXPECT_EQ(ReadBytes(dir.File("261207.tly")), kNew);
  EXPECT_EQ(EntriesOf(dir.path()), std::vector<std::string>{"261207.tly"});

  operations.FailNth(Call::kRename, 3, EBUSY, 4);
  EXPECT_THROW(out.ReplaceFileRetryingRename("261207.tly", "again", std::chrono::milliseconds(1)),
               RenameRefused);
  EXPECT_EQ(ReadBytes(dir.File("261207.tly")), kNew);
  EXPECT_EQ(ReadBytes(dir.File("261207.tmp")), "again");
}

TEST(OutputDirectory, RemovingTellsWhatWasThereAndWhatStays) {
  TempDir dir;
  WriteBytes(dir.File("faults.jsonl"), "x");
  const OutputDirectory out(dir.path());
  EXPECT_TRUE(out.RemoveFile("faults.jsonl"));
  EXPECT_FALSE(out.RemoveFile("faults.jsonl"));
  std::filesystem::create_directory(dir.File("261207.tly"));
  try {
    out.RemoveFile("261207.tly");
    ADD_FAILURE() << "removed a directory";
  } catch (const std::system_error& error) {
    EXPECT_EQ(std::string(error.what()).find("cannot remove " + dir.File("261207.tly")), 0u)
        << error.what();
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("261207.tly")));
}

}  // namespace
}  // namespace tly
