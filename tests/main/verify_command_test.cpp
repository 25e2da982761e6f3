#include "verify_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "generator/backfill.h"
#include "testutil/subcommand_runner.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

testing::CommandOutcome Verify(std::vector<std::string> args, const TempDir& scratch) {
  args.insert(args.begin(), "verify");
  return testing::RunSubcommand<VerifyOptions>(AddVerifyCommand, RunVerifyCommand, std::move(args), scratch);
}

TEST(VerifyCommand, ReportsEachFileAndTheWorstOutcome) {
  TempDir scratch;
  TempDir dir;
  BackfillRequest request;
  request.out_dir = dir.path();
  request.from = {2026, 12, 7};
  request.to = {2026, 12, 8};
  Backfill(request);
  const std::string good = dir.File("261207.tly");
  const std::string bad = dir.File("261208.tly");
  std::string lf_ends;
  for (char c : ReadBytes(bad)) {
    if (c != '\r') lf_ends += c;
  }
  WriteBytes(bad, lf_ends);

  testing::CommandOutcome outcome = Verify({good}, scratch);
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.out, good + ": OK\n");

  outcome = Verify({bad, good}, scratch);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_EQ(outcome.out, bad + ": BAD: line 1 ends with LF without CR\n" + good + ": OK\n");

  // An unreadable file is reported on stderr; the others are still checked.
  const std::string missing = dir.File("261209.tly");
  outcome = Verify({good, missing, bad}, scratch);
  EXPECT_EQ(outcome.exit_code, 2);
  EXPECT_EQ(outcome.out, good + ": OK\n" + bad + ": BAD: line 1 ends with LF without CR\n");
  EXPECT_NE(outcome.err.find("cannot read " + missing), std::string::npos) << outcome.err;
  EXPECT_EQ(Verify({dir.path()}, scratch).exit_code, 2);

  EXPECT_EQ(Verify({}, scratch).exit_code, 2);
}

}  // namespace
}  // namespace tly
