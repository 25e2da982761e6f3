#include <gtest/gtest.h>

#include <string>

#include "dayfile/day_file_name.h"
#include "dayfile/line_scanner.h"
#include "dayfile/row_text.h"

namespace tly {
namespace {

TEST(DayFileFields, ExtractField) {
  EXPECT_EQ(ExtractField("a\tb\t\td", '\t', 0), "a");
  EXPECT_EQ(ExtractField("a\tb\t\td", '\t', 1), "b");
  EXPECT_EQ(ExtractField("a\tb\t\td", '\t', 2), "");
  EXPECT_EQ(ExtractField("a\tb\t\td", '\t', 3), "d");
  EXPECT_EQ(ExtractField("a\tb\t\td", '\t', 7), "");
  EXPECT_EQ(ExtractField("a\tb\t\td", '\t', -1), "");
  EXPECT_EQ(ExtractField("x;y", ';', 1), "y");
  const std::string long_field(300, 'z');
  EXPECT_EQ(ExtractField("a\t" + long_field + "\tb", '\t', 1), long_field.substr(0, 255));
}

TEST(DayFileFields, FileNamesAndTheirDatesUseOneCenturyRule) {
  // Every year a name tells apart comes back from its own name.
  for (int year = kFirstNamedYear; year <= kLastNamedYear; ++year) {
    const TDateTime date = EncodeDate(year, 2, 28);
    ASSERT_EQ(DateFromFileName(DayFileNameFor("/out", date)), date) << year;
  }
  EXPECT_EQ(DayFileNameFor("", EncodeDate(2026, 12, 7)), "/261207.tly");
  EXPECT_EQ(DayFileNameFor("/out/", EncodeDate(1999, 1, 2)), "/out/990102.tly");

  EXPECT_EQ(DateFromFileName("/out/261207.tly"), EncodeDate(2026, 12, 7));
  EXPECT_EQ(DateFromFileName("/out.d/261207"), EncodeDate(2026, 12, 7));
  EXPECT_EQ(DateFromFileName("911207.tly"), EncodeDate(1991, 12, 7));
  EXPECT_EQ(DateFromFileName("901207.tly"), EncodeDate(2090, 12, 7));
  EXPECT_EQ(DateFromFileName("/out/20261207.tly"), EncodeDate(2026, 12, 7));
  for (const char* no_date : {"261307.tly", "2612071.tly", "notes.tly", "260229.tly", "", "/out/",
                              "26-207.tly", "261207.tly.bak", "2026120x"}) {
    EXPECT_EQ(DateFromFileName(no_date), kNoDate) << no_date;
  }
}

// Every reader walks lines with one scanner: how each line ended, and what
// the lenient readers take of a last line cut inside its CR LF.
TEST(DayFileFields, TheLineScannerTellsHowEachLineEnded) {
  LineScanner scanner("a\r\nb\nc\r\r\n\r\nd\r");
  const struct {
    const char* text;
    LineEnd end;
    const char* lenient;
  } expected[] = {{"a", LineEnd::kCrLf, "a"},
                  {"b", LineEnd::kLf, "b"},
                  {"c\r", LineEnd::kCrLf, "c\r"},
                  {"", LineEnd::kCrLf, ""},
                  {"d", LineEnd::kCrAtEnd, "d\r"}};
  std::string whole;
  for (const auto& line : expected) {
    ScannedLine scanned;
    ASSERT_TRUE(scanner.Next(scanned)) << line.text;
    EXPECT_EQ(scanned.text, line.text);
    EXPECT_EQ(scanned.end, line.end) << line.text;
    EXPECT_EQ(scanned.Lenient(), line.lenient);
    whole += scanned.whole;
  }
  ScannedLine past;
  EXPECT_FALSE(scanner.Next(past));
  EXPECT_EQ(whole, "a\r\nb\nc\r\r\n\r\nd\r") << "the lines with their ends are the bytes";
  LineScanner cut("x");
  ASSERT_TRUE(cut.Next(past));
  EXPECT_EQ(past.end, LineEnd::kNone);
  EXPECT_FALSE(LineScanner("").Next(past));
}

}  // namespace
}  // namespace tly
