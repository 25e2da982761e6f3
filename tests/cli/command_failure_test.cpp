#include "cli/command_failure.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "backfill/backfill.h"
#include "cli/exit_codes.h"
#include "support/directory_lock.h"

namespace tly {
namespace {

// The exit code and the stderr of reporting what `thrower` throws.
std::pair<int, std::string> Reported(const std::function<void()>& thrower,
                                     std::string_view done = {}) {
  CommandOutput output("backfill");
  ::testing::internal::CaptureStderr();
  int code = -1;
  try {
    thrower();
  } catch (...) {
    code = ReportCommandFailure(output, done);
  }
  return {code, ::testing::internal::GetCapturedStderr()};
}

// Another writer is a system error too, and yet a refusal: it must not be
// taken for a failed write; files that exist get the hint at --existing.
TEST(CommandFailure, RefusalsAreUsageErrorsAndFailuresSayWhatWasDone) {
  struct Case {
    std::function<void()> thrower;
    int code;
    std::string err;
  };
  const std::vector<Case> cases = {
      {[] { throw std::invalid_argument("--to is before --from"); }, kExitUsage,
       "tly-generator backfill: --to is before --from\n"},
      {[] { throw DirectoryBusy("out is in use by process 7"); }, kExitUsage,
       "tly-generator backfill: out is in use by process 7\n"},
      {[] { throw DayFilesExist({"out/261207.tly"}); }, kExitUsage,
       "tly-generator backfill: " + std::string(DayFilesExist({"out/261207.tly"}).what()) +
           " with --existing continue, replace or skip\n"},
      {[] { throw std::system_error(ENOSPC, std::generic_category(), "out/261207.tly"); },
       kExitFailed,
       "tly-generator backfill: out/261207.tly: " + std::generic_category().message(ENOSPC) +
           " (3 done)\n"},
  };
  for (const Case& c : cases) {
    const auto [code, err] = Reported(c.thrower, " (3 done)");
    EXPECT_EQ(code, c.code) << c.err;
    EXPECT_EQ(err, c.err);
  }
  EXPECT_THROW(Reported([] { throw std::logic_error("a bug"); }), std::logic_error);
}

}  // namespace
}  // namespace tly
