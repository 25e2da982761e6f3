// The strict reading: every problem with its line and kind, including what
// a hostile tester found the first-problem check letting through.

#include "dayfile/day_file_findings.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "dayfile/day_file_check.h"
#include "dayfile/sealed_image.h"

namespace tly {
namespace {

// Channels 1 and 4 count entries at door 1, channel 2 exits; channel 3 is
// inactive. Rows start at line 15.
const std::vector<std::string> kHeader = {"#TRV9",
                                          "# Shop name: Caf\xE9 du coin",
                                          "#M last updated at 01/05/2026 23:59",
                                          "#D1DPorte \xE9t\xE9",
                                          "#C1YE1",
                                          "#C2YX1",
                                          "#C3IE1",
                                          "#C4YE1",
                                          "#R1111111111111111",
                                          "#K1.000",
                                          "#F0"};

std::string Row(const std::string& time, const std::string& counts,
                const std::string& date = "01/05/2026", const std::string& shop = "001") {
  return shop + "\t" + date + "\t" + time + "\t" + counts;
}

// A sealed file of `rows` under `header` (the seal line added).
std::string FileOf(const std::vector<std::string>& rows,
                   std::vector<std::string> header = kHeader) {
  std::string body;
  for (const std::string& row : rows) body += row + "\r\n";
  header.push_back("#S" + SealOfRows(body));
  return AssembleDayFile(header, body);
}

TDateTime MayDay() {
  return EncodeDate(2026, 5, 1);
}

std::vector<std::pair<int, FindingKind>> Found(const std::string& bytes, TDateTime day = MayDay()) {
  std::vector<std::pair<int, FindingKind>> found;
  for (const DayFileFinding& finding : InspectDayFile(bytes, day)) {
    EXPECT_NE(finding.problem.find(finding.line == 0 ? "" : "line " + std::to_string(finding.line)),
              std::string::npos)
        << finding.problem;
    found.emplace_back(finding.line, finding.kind);
  }
  return found;
}

using Kinds = std::vector<std::pair<int, FindingKind>>;

TEST(DayFileFindings, ASoundFileHasNoneAndNamesMayHoldHighBytes) {
  const std::string file = FileOf({Row("08:00", " 3\t 1\t 0\t 0"), Row("08:15", " 0\t 2\t 0\t 0")});
  EXPECT_TRUE(CheckDayFile(file).ok);
  EXPECT_EQ(Found(file), Kinds{});
  EXPECT_EQ(Found(FileOf({})), Kinds{}) << "a day without rows";
}

// Each of these passes the first-problem check, and each is found, on its
// line, with its kind, all of them in one file.
TEST(DayFileFindings, WhatTheStructureLetsThroughIsFoundRowByRow) {
  const std::string file = FileOf({
      Row("08:00", " 3\t 1\t 0\t 0"),                       // line 15
      Row("08:15", " 1\t 2\t 0\t 0"),                       // 16: occupancy 1
      Row("08:30", " 0\t 2\t 0\t 0"),                       // 17: occupancy -1
      Row("08:45", " 0\t 0"),                               // 18: two count fields
      Row("09:00", " 1\t 0\t -4\t 0"),                      // 19: a negative count (inactive)
      Row("09:15", " 1\t 0\t 0\t 0", "01/05/2026", "002"),  // 20: another shop
  });
  ASSERT_TRUE(CheckDayFile(file).ok) << CheckDayFile(file).problem;
  EXPECT_EQ(Found(file), (Kinds{{17, FindingKind::kNegativeOccupancy},
                                {18, FindingKind::kFieldCount},
                                {19, FindingKind::kNegativeCount},
                                {20, FindingKind::kShopCode}}));

  // A 260501.tly holding rows of 2 May: every row is named.
  const std::string next_day = FileOf(
      {Row("08:00", " 1\t 0\t 0\t 0", "02/05/2026"), Row("08:15", " 1\t 0\t 0\t 0", "02/05/2026")});
  ASSERT_TRUE(CheckDayFile(next_day).ok);
  EXPECT_EQ(Found(next_day), (Kinds{{15, FindingKind::kWrongDate}, {16, FindingKind::kWrongDate}}));
  EXPECT_EQ(Found(next_day, kNoDate), Kinds{}) << "a name without a date";
}

TEST(DayFileFindings, EveryProblemIsFoundNotOnlyTheFirst) {
  std::vector<std::string> header = kHeader;
  header.erase(header.begin() + 9);  // #K
  header.erase(header.begin() + 5);  // #C2: channel 3 follows channel 1
  std::string file = FileOf({Row("08:00", " 3\t 0\t 0\t 0"), Row("08:00", " 3\t 0\t 0\t 0"),
                             Row("07:45", " 1\t 0\t 0\t 0"),
                             Row("08:30",
                                 " 1\t\xC2\xA0"
                                 "2\t 0\t 0")},
                            header);
  const size_t seal = file.find("#S") + 2;
  file.replace(seal, 1, file[seal] == 'A' ? "B" : "A");
  file += "001\t01/05/2026\t08:4";  // cut short
  EXPECT_EQ(Found(file), (Kinds{{6, FindingKind::kMissingHeaderLine},
                                {10, FindingKind::kMissingHeaderLine},
                                {10, FindingKind::kBadSeal},
                                {14, FindingKind::kDuplicateRow},
                                {15, FindingKind::kOutOfOrder},
                                {16, FindingKind::kStrayByte},
                                {16, FindingKind::kBadRow},
                                {17, FindingKind::kTruncated},
                                {17, FindingKind::kBadRow},
                                {17, FindingKind::kFieldCount}}));
}

TEST(DayFileFindings, LineEndsAndTheHeaderStructure) {
  const std::string good = FileOf({Row("08:00", " 1\t 0\t 0\t 0"), Row("08:15", " 1\t 0\t 0\t 0")});
  std::string lf;
  for (const char c : good) {
    if (c != '\r') lf += c;
  }
  const std::vector<DayFileFinding> lf_found = InspectDayFile(lf, MayDay());
  ASSERT_EQ(lf_found.size(), 1u) << "one finding for all the lines";
  EXPECT_EQ(lf_found[0].kind, FindingKind::kLfLineEnds);
  EXPECT_EQ(lf_found[0].problem, "line 1 ends with LF without CR (and 15 more lines)");

  EXPECT_EQ(Found(""), (Kinds{{0, FindingKind::kEmptyFile}}));
  std::string no_seal = good;
  no_seal.replace(no_seal.find("#S"), 2, "#X");
  EXPECT_EQ(Found(no_seal), (Kinds{{0, FindingKind::kHeader}}));
  std::string cr = good;
  cr.insert(cr.find("#K1.") + 4, "\r");
  EXPECT_EQ(Found(cr), (Kinds{{10, FindingKind::kCrInLine}}));
  std::string no_title = good;
  no_title.erase(no_title.find("Magasin"),
                 no_title.find("\r\n", no_title.find("Magasin")) + 2 - no_title.find("Magasin"));
  EXPECT_EQ(Found(no_title), (Kinds{{13, FindingKind::kTitleLines}}));
  std::string control = good;
  control.replace(control.find("#R"), 2, "#R\x01");
  EXPECT_EQ(Found(control).front(), std::pair(9, FindingKind::kStrayByte));
}

// Wherever the first-problem check calls a file bad, the strict reading
// finds a problem too.
TEST(DayFileFindings, FindsAProblemWhereverTheCheckDoes) {
  const std::string good = FileOf({Row("08:00", " 1\t 0\t 0\t 0"), Row("08:15", " 1\t 0\t 0\t 0")});
  for (size_t at = 0; at < good.size(); at += 3) {
    for (const char byte : {'\0', '\t', '#', 'x', '9', '\n'}) {
      std::string bytes = good;
      bytes[at] = byte;
      if (!CheckDayFile(bytes).ok) {
        EXPECT_FALSE(InspectDayFile(bytes, MayDay()).empty()) << at << " " << int(byte);
      }
    }
    if (!CheckDayFile(good.substr(0, at)).ok) {
      EXPECT_FALSE(InspectDayFile(good.substr(0, at), MayDay()).empty()) << at;
    }
  }
}

}  // namespace
}  // namespace tly
