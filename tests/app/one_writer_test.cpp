// One writer per output directory, with real processes: a second writer is
// refused at once and the first keeps every count; the lock dies with its
// holder; readers polling the directory only ever see sound files.

#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "dayfile/day_file_check.h"
#include "dayfile/day_file_reader.h"
#include "testutil/draw_model.h"
#include "testutil/program_process.h"
#include "testutil/temp_dir.h"
#include "testutil/wait_for.h"

namespace tly {
namespace {

using testing::GeneratorProgram;
using testing::Program;
using testing::TempDir;

// A program with output files of its own.
struct Started {
  TempDir scratch;
  std::unique_ptr<Program> program;
};

std::unique_ptr<Started> Start(const std::vector<std::string>& args,
                               std::vector<std::string> env = {}) {
  auto started = std::make_unique<Started>();
  started->program = std::make_unique<Program>(GeneratorProgram(), args, started->scratch.path(),
                                               std::move(env), started->scratch.path());
  return started;
}

// The sum of every count of every day file in `dir`, per channel.
testing::TickRow SumsOnDisk(const std::string& dir) {
  testing::TickRow sums{};
  for (const std::string& name : testing::EntriesOf(dir)) {
    for (const std::string& row : ReadDayFileRows(dir + "/" + name).rows) {
      std::string_view rest = row;
      for (int field = 0; field < 3; ++field) rest.remove_prefix(rest.find('\t') + 1);
      for (int c = 0; c < 10; ++c) {
        sums[c] += std::stoll(std::string(rest.substr(1, rest.find('\t') - 1)));
        rest.remove_prefix(std::min(rest.size(), rest.find('\t') + 1));
      }
    }
  }
  return sums;
}

uint64_t TicksOf(const std::string& out) {
  std::smatch match;
  const std::regex stop("Stopped after ([0-9]+) ticks?; ");
  return std::regex_search(out, match, stop) ? std::stoull(match[1]) : UINT64_MAX;
}

TEST(OneWriter, ASecondWriterIsRefusedAndTheFirstKeepsEveryCount) {
  TempDir out;
  const std::unique_ptr<Started> first = Start({"run", "--out", out.path(), "--seconds", "5"});
  ASSERT_TRUE(first->program->WaitForOutput("Generating into")) << first->program->Err();

  // Another run, a backfill of today and the window: each refused at once,
  // naming the directory and the holder.
  const std::vector<std::vector<std::string>> others = {
      {"run", "--out", out.path(), "--seconds", "3"},
      {"backfill", "--out", out.path(), "--from", "2026-12-07", "--to", "2026-12-07", "--existing",
       "continue"},
  };
  for (const auto& args : others) {
    const std::unique_ptr<Started> second = Start(args);
    EXPECT_EQ(second->program->Wait(), 2) << args[0];
    const std::string err = second->program->Err();
    EXPECT_NE(err.find("tly-generator " + args[0] + ": " + out.path() + " is in use"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("tly-generator run"), std::string::npos) << "names the holder: " << err;
  }

  ASSERT_EQ(first->program->Wait(), 0) << first->program->Err();
  const uint64_t ticks = TicksOf(first->program->Out());
  ASSERT_NE(ticks, UINT64_MAX) << first->program->Out();
  EXPECT_EQ(SumsOnDisk(out.path()), testing::DrawModel().SumOfTicks(ticks));
}

TEST(OneWriter, TheWindowHoldsItsDirectoryAndAKilledHolderFreesItAtOnce) {
  TempDir out;
  const testing::TempDir exe_dir(testing::TestProgramDir());
  const std::string exe = exe_dir.File("tly-generator");
  std::filesystem::copy_file(GeneratorProgram(), exe);
  testing::WriteBytes(exe_dir.File("tly-generator.ini"), "[General]\nOutDir=" + out.path() + "\n");
  TempDir scratch;
  Program window(exe, {}, scratch.path(), {"QT_QPA_PLATFORM=offscreen"}, scratch.path());
  // The window starts generating by itself and takes the lock first.
  ASSERT_TRUE(testing::WaitFor([&] {
    return std::filesystem::exists(out.File(".tly-generator.lock")) || !window.Running();
  }));
  ASSERT_TRUE(testing::WaitFor([&] {
    return testing::ReadBytes(out.File(".tly-generator.lock")).find("window") !=
               std::string::npos ||
           !window.Running();
  }));
  const std::unique_ptr<Started> refused = Start({"run", "--out", out.path(), "--seconds", "0"});
  EXPECT_EQ(refused->program->Wait(), 2);
  EXPECT_NE(refused->program->Err().find("tly-generator window"), std::string::npos)
      << refused->program->Err();

  window.Signal(SIGKILL);
  EXPECT_EQ(window.Wait(), -SIGKILL);
  const std::unique_ptr<Started> next = Start({"run", "--out", out.path(), "--seconds", "0"});
  EXPECT_EQ(next->program->Wait(), 0) << next->program->Err();
}

// A reader polling the directory while a writer works (ingesters do) never
// finds a file that `verify` would call bad.
TEST(OneWriter, APollingReaderOnlySeesSoundFiles) {
  for (const bool backfill : {false, true}) {
    SCOPED_TRACE(backfill ? "backfill" : "run");
    TempDir out;
    const std::unique_ptr<Started> writer =
        backfill
            ? Start({"backfill", "--out", out.path(), "--from", "2026-01-01", "--to", "2026-03-31"})
            : Start({"run", "--out", out.path(), "--seconds", "7"});
    int reads = 0;
    std::string first_bad;
    // Reads until the writer has ended, then once more.
    for (bool running = true; running;) {
      running = writer->program->Running();
      for (const std::string& name : testing::EntriesOf(out.path())) {
        if (name.size() < 4 || name.substr(name.size() - 4) != ".tly") continue;
        const std::optional<std::string> bytes = ReadDayFileBytes(out.File(name));
        if (!bytes) continue;
        ++reads;
        const DayFileCheck check = CheckDayFile(*bytes);
        if (!check.ok && first_bad.empty()) first_bad = name + ": " + check.problem;
      }
    }
    EXPECT_EQ(writer->program->Wait(), 0) << writer->program->Err();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(first_bad, "");
  }
}

}  // namespace
}  // namespace tly
