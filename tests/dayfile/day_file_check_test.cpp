#include "dayfile/day_file_check.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dayfile/sealed_image.h"

namespace tly {
namespace {

constexpr const char* kRows[] = {
    "001\t07/12/2026\t08:00\t 1\t 0\t 2\t 1\t 0\t 0\t 0\t 0\t 3\t 4",
    "001\t07/12/2026\t10:15\t 12\t 5\t 0\t 0\t 1\t 1\t 0\t 0\t 0\t -3",
    "001\t07/12/2026\t23:45\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0\t 0",
};

// A day file with a short header, sealed as every writer seals it.
std::string SealedFile(const std::vector<std::string>& rows) {
  std::string body;
  for (const std::string& row : rows) body += row + "\r\n";
  return AssembleDayFile({"#TRV9", "#M last updated at 07/12/2026 23:59", "#D1DPorte 1", "#K1.000",
                          "#S" + SealOfRows(body)},
                         body);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(DayFileCheck, AcceptsSealedFiles) {
  const std::string file = SealedFile({kRows[0], kRows[1], kRows[2]});
  const DayFileCheck check = CheckDayFile(file);
  EXPECT_TRUE(check.ok) << check.problem;
  EXPECT_EQ(check.problem, "");

  const std::string empty_day = SealedFile({});
  ASSERT_NE(empty_day.find("#S\r\n"), std::string::npos);
  EXPECT_TRUE(CheckDayFile(empty_day).ok) << CheckDayFile(empty_day).problem;
}

// The verdict is the strict reading's first finding about the structure:
// rows resealed after their damage are named for what is wrong with them,
// a damage the seal does not cover for itself.
TEST(DayFileCheck, ReportsTheFirstProblem) {
  const std::string good = SealedFile({kRows[0], kRows[1], kRows[2]});
  const std::string seal = good.substr(good.find("#S") + 2, 40);
  const std::string row1 = std::string(kRows[1]) + "\r\n";
  std::string lf_only = good;
  std::erase(lf_only, '\r');
  const auto resealed = [](const std::string& from, const std::string& to) {
    return SealedFile({kRows[0], Replaced(kRows[1], from, to), kRows[2]});
  };
  const struct {
    const char* what;
    std::string bytes;
    const char* says;
  } cases[] = {
      {"a count changed", Replaced(good, "\t 12\t", "\t 13\t"), "seal"},
      {"the seal changed", Replaced(good, seal, std::string(40, '0')), "seal"},
      {"a lower-case seal", Replaced(good, seal, Replaced(seal, seal.substr(0, 1), "a")), "seal"},
      {"a row removed", Replaced(good, row1, ""), "seal"},
      {"a row added without resealing", good + row1, "seal"},
      {"LF line ends", lf_only, "line 1 ends with LF without CR"},
      {"one lone LF", Replaced(good, "\t 3\t 4\r\n", "\t 3\t 4\n"), "ends with LF without CR"},
      {"no final CR LF", good.substr(0, good.size() - 2), "has no line end"},
      {"final LF without CR", good.substr(0, good.size() - 2) + "\n", "ends with LF without CR"},
      {"a stray CR", Replaced(good, "#T", "#T\r"), "CR inside"},
      {"a missing title line", Replaced(good, "\t\t\tCNL1\tCNL2\tCNL3\tCNL4\r\n", ""),
       "second column title"},
      {"no #T first", Replaced(good, "#T", "#X"), "#T"},
      {"no #S line", Replaced(good, "#S", "#Z"), "no #S"},
      {"a header line without #", Replaced(good, "#K", "K"), "no # line"},
      {"an impossible time", resealed("10:15", "24:15"), "line 9 has no valid time"},
      {"an impossible date", resealed("07/12/2026", "31/11/2026"), "line 9 has no valid date"},
      {"a row of another day", resealed("07/12/2026", "08/12/2026"), "another date"},
      {"a count without its space", resealed("\t 12\t", "\t12\t"), "(field 4)"},
      {"a count beyond 32 bits", resealed("\t 12\t", "\t 2147483648\t"), "(field 4)"},
      {"an empty file", "", "empty"},
  };
  for (const auto& c : cases) {
    const DayFileCheck check = CheckDayFile(c.bytes);
    EXPECT_FALSE(check.ok) << c.what;
    EXPECT_NE(check.problem.find(c.says), std::string::npos) << c.what << ": " << check.problem;
  }
}

}  // namespace
}  // namespace tly
