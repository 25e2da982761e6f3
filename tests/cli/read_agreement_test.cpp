// verify's text, verify --json and plot read a day file with the one strict
// reading: over a table of damaged files, verify's text problem is the first
// of its --json problems, and plot refuses each file with that problem.

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "backfill/backfill.h"
#include "cli/plot_command.h"
#include "cli/verify_command.h"
#include "testutil/subcommand_runner.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::CommandOutcome;
using testing::TempDir;

std::string ReplacedOnce(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The line of `text` that begins with `tag`, with its line end.
std::string TaggedLine(const std::string& text, const std::string& tag) {
  const size_t at = text.find("\r\n" + tag) + 2;
  return text.substr(at, text.find("\r\n", at) + 2 - at);
}

TEST(ReadAgreement, VerifyTextJsonAndPlotNameOneFirstProblem) {
  TempDir dir;
  TempDir scratch;
  BackfillRequest request;
  request.out_dir = dir.path();
  request.from = request.to = {2026, 12, 7};
  Backfill(request);
  const std::string good = testing::ReadBytes(dir.File("261207.tly"));
  const size_t rows_at = good.find("CNL4\r\n") + 6;
  const std::string head = good.substr(0, rows_at);
  const std::string rows = good.substr(rows_at);
  const std::string row1 = rows.substr(0, rows.find("\r\n") + 2);
  const std::string row2 =
      rows.substr(row1.size(), rows.find("\r\n", row1.size()) + 2 - row1.size());
  ASSERT_FALSE(row2.empty());

  const struct {
    const char* what;
    std::function<std::string()> damage;
    const char* name = "261207.tly";
  } cases[] = {
      {"a count changed after sealing", [&] { return head + ReplacedOnce(rows, "\t ", "\t 1"); }},
      {"LF line ends",
       [&] {
         std::string lf = good;
         std::erase(lf, '\r');
         return lf;
       }},
      {"cut inside the last line", [&] { return good.substr(0, good.size() - 3); }},
      {"a CR inside a header line", [&] { return ReplacedOnce(good, "#T", "#T\r"); }},
      {"no #S line", [&] { return ReplacedOnce(good, "\r\n#S", "\r\n#Z"); }},
      {"no #K line", [&] { return ReplacedOnce(good, TaggedLine(good, "#K"), ""); }},
      {"no second title line",
       [&] { return ReplacedOnce(good, TaggedLine(good, "\t\t\tCNL1"), ""); }},
      {"a stray byte in a row", [&] { return head + ReplacedOnce(rows, "\t ", "\t\xA0"); }},
      {"the first two rows swapped",
       [&] { return head + row2 + row1 + rows.substr(row1.size() + row2.size()); }},
      {"a row repeated", [&] { return head + row1 + rows; }},
      {"rows of another day than the name's", [&] { return good; }, "261209.tly"},
      {"no bytes at all", [] { return std::string(); }},
  };
  const auto verify = [&](std::vector<std::string> args) {
    return testing::RunSubcommand<VerifyOptions>(AddVerifyCommand, RunVerifyCommand,
                                                 std::move(args), scratch);
  };
  const auto plot = [&](const std::string& file) {
    return testing::RunSubcommand<PlotOptions>(AddPlotCommand, RunPlotCommand,
                                               {"plot", file, "--out", scratch.File("chart.png")},
                                               scratch);
  };
  ASSERT_EQ(verify({"verify", dir.File("261207.tly")}).exit_code, 0);
  EXPECT_EQ(plot(dir.File("261207.tly")).exit_code, 0) << "what verify calls OK is drawn";
  for (const auto& c : cases) {
    const std::string file = dir.File(c.name);
    testing::WriteBytes(file, c.damage());
    const CommandOutcome text = verify({"verify", file});
    const CommandOutcome json = verify({"verify", "--json", file});
    const CommandOutcome drawn = plot(file);
    ASSERT_EQ(text.exit_code, 1) << c.what << ": " << text.out;
    const std::string problem = text.out.substr(text.out.find(": BAD: ") + 7);
    const nlohmann::json verdict = nlohmann::json::parse(json.out);
    EXPECT_EQ(verdict["verdict"], "BAD") << c.what;
    EXPECT_EQ(verdict["problems"][0]["problem"].get<std::string>() + "\n", problem) << c.what;
    EXPECT_EQ(drawn.exit_code, 1) << c.what;
    EXPECT_NE(
        drawn.err.find(file + " is not a sound day file: " + problem.substr(0, problem.size() - 1)),
        std::string::npos)
        << c.what << ": " << drawn.err;
  }
}

}  // namespace
}  // namespace tly
