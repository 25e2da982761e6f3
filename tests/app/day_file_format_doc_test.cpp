// The description of the day file for reader authors, doc/day-file-format.md,
// held against the program: its example file is sound and is what its
// documented command writes, its title-line bytes are the program's, its
// scenario example writes the files it lists, and a reader written from the
// document alone reads what the program's own loader reads, of the program's
// own site and of a scenario's sites.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "counting/day_file_loader.h"
#include "dayfile/day_file_check.h"
#include "dayfile/day_file_lines.h"
#include "dayfile/day_file_reader.h"
#include "support/date_time.h"
#include "testutil/program_process.h"
#include "testutil/sha1.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::ReadBytes;
using testing::TempDir;

const std::string kDocument = std::string(TLY_DOC_DIR) + "/day-file-format.md";

// The document's sign for one TAB, "→" in UTF-8.
constexpr std::string_view kTabSign = "\xE2\x86\x92";

// The lines of the fenced block that follows the line "<!-- `marker`... -->"
// of the document; `label` receives the text between the marker and " -->".
std::vector<std::string> BlockAfter(const std::string& marker, std::string* label = nullptr) {
  std::istringstream doc(ReadBytes(kDocument));
  const std::string opening = "<!-- " + marker;
  std::string line;
  while (std::getline(doc, line) && line.rfind(opening, 0) != 0) {
  }
  if (!doc || !line.ends_with(" -->")) {
    ADD_FAILURE() << "no line \"" << opening << "... -->\" in " << kDocument;
    return {};
  }
  if (label != nullptr) *label = line.substr(opening.size(), line.size() - opening.size() - 4);
  if (!std::getline(doc, line) || line != "```") {
    ADD_FAILURE() << "no fenced block right after " << opening;
    return {};
  }
  std::vector<std::string> lines;
  while (std::getline(doc, line) && line != "```") lines.push_back(line);
  return lines;
}

// The bytes of a file written in the document's notation: each line ended by
// CR LF, each arrow a TAB.
std::string FileBytesOf(const std::vector<std::string>& lines) {
  std::string bytes;
  for (std::string line : lines) {
    for (size_t at; (at = line.find(kTabSign)) != std::string::npos;) {
      line.replace(at, kTabSign.size(), "\t");
    }
    bytes += line + "\r\n";
  }
  return bytes;
}

// The lines of `bytes`, each with its line end, but for the "#M " line,
// which carries the moment of the save.
std::vector<std::string> LinesBesidesUpdateLine(const std::string& bytes) {
  std::vector<std::string> lines;
  int update_lines = 0;
  for (size_t start = 0; start < bytes.size();) {
    const size_t end = std::min(bytes.find('\n', start), bytes.size() - 1);
    std::string line = bytes.substr(start, end + 1 - start);
    if (line.starts_with("#M ")) {
      ++update_lines;
    } else {
      lines.push_back(std::move(line));
    }
    start = end + 1;
  }
  EXPECT_EQ(update_lines, 1);
  return lines;
}

// Runs the lines of a command block of the document in `work_dir`: "mkdir
// DIR" and "tly-generator ARGS...", nothing else.
void RunCommandBlock(const std::vector<std::string>& lines, const std::string& work_dir) {
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) {
    std::istringstream words(line);
    std::vector<std::string> args;
    for (std::string word; words >> word;) args.push_back(word);
    ASSERT_GE(args.size(), 2u) << line;
    if (args[0] == "mkdir") {
      ASSERT_EQ(args.size(), 2u) << line;
      ASSERT_TRUE(std::filesystem::create_directory(work_dir + "/" + args[1])) << line;
      continue;
    }
    ASSERT_EQ(args[0], "tly-generator") << line;
    args.erase(args.begin());
    TempDir output;
    testing::Program program(testing::GeneratorProgram(), args, output.path(), {}, work_dir);
    ASSERT_EQ(program.Wait(), 0) << line << "\n" << program.Err();
  }
}

TEST(DayFileFormatDoc, ExampleIsASoundFileThatReaderAndLoaderRead) {
  std::string name;
  const std::vector<std::string> lines = BlockAfter("example-file: ", &name);
  ASSERT_EQ(name, "261207.tly");
  const std::string bytes = FileBytesOf(lines);
  const DayFileCheck check = CheckDayFile(bytes);
  EXPECT_TRUE(check.ok) << check.problem;

  std::string rows;
  int row_count = 0;
  const std::string_view seal = ScanDayFileText(bytes, [&](std::string_view row) {
    rows += std::string(row) + "\r\n";
    ++row_count;
  });
  EXPECT_EQ(row_count, 96);
  EXPECT_EQ(seal, testing::Sha1UpperHex(rows));

  TempDir dir;
  testing::WriteBytes(dir.File(name), bytes);
  auto day = std::make_unique<DayCounts>();
  ASSERT_TRUE(LoadDayFile(dir.File(name), *day));
  EXPECT_EQ(day->Date, EncodeDate(2026, 12, 7));
  EXPECT_EQ(day->ChannelCount, 10);
  EXPECT_EQ(day->FirstSlot, 0);
  EXPECT_EQ(day->LastSlot, 95);

  // The header shown on its own and the annotated first lines are the
  // example's own first lines.
  for (const char* marker : {"example-header", "example-excerpt"}) {
    const std::vector<std::string> part = BlockAfter(marker);
    ASSERT_GE(part.size(), 21u) << marker;
    ASSERT_LE(part.size(), lines.size()) << marker;
    for (size_t i = 0; i < part.size(); ++i)
      EXPECT_EQ(part[i], lines[i]) << marker << " line " << i + 1;
  }
}

TEST(DayFileFormatDoc, TitleLineBytesAreTheProgramsTitleLines) {
  std::string shown;
  for (const std::string& line : BlockAfter("title-line-bytes")) {
    std::istringstream hex(line);
    for (std::string byte; hex >> byte;) {
      ASSERT_EQ(byte.size(), 2u) << byte;
      shown += static_cast<char>(std::stoi(byte, nullptr, 16));
    }
    EXPECT_TRUE(shown.ends_with("\r\n")) << line;
  }
  EXPECT_EQ(shown, std::string(kTitleLine1) + "\r\n" + std::string(kTitleLine2) + "\r\n");
}

// The documented command writes the example again, byte for byte but for the
// moment of the save.
TEST(DayFileFormatDoc, DocumentedCommandWritesTheExample) {
  std::string name;
  const std::string documented = FileBytesOf(BlockAfter("example-file: ", &name));
  TempDir work;
  RunCommandBlock(BlockAfter("example-command"), work.path());
  if (HasFatalFailure()) return;

  std::vector<std::string> written;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(work.path())) {
    if (entry.is_regular_file()) written.push_back(entry.path().lexically_relative(work.path()));
  }
  std::sort(written.begin(), written.end());
  // The day file, and the writer's lock file the document tells readers to
  // ignore.
  ASSERT_EQ(written, (std::vector<std::string>{"example/.tly-generator.lock", "example/" + name}));
  written.erase(written.begin());
  const std::vector<std::string> expected = LinesBesidesUpdateLine(documented);
  const std::vector<std::string> generated =
      LinesBesidesUpdateLine(ReadBytes(work.File(written[0])));
  ASSERT_EQ(generated.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(generated[i], expected[i]) << "line " << i + 1 << " besides the #M line";
  }
}

// A day file as a reader written from doc/day-file-format.md alone sees it,
// with nothing of the program's own code.
struct ReaderDay {
  int year = 0, month = 0, day = 0;
  std::string shop_name;                       // of the "# Shop name: " line, if any
  std::map<int, std::vector<int64_t>> counts;  // quarter hour -> counts of channels 1, 2, ...
  std::string problem;                         // empty when the file was read
};

ReaderDay ReadAsTheDocumentSays(const std::string& path) {
  ReaderDay read;
  const auto fail = [&read](const std::string& why) {
    read.problem = why;
    return read;
  };
  const auto number = [](std::string_view digits) {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
      return -1LL;
    return std::stoll(std::string(digits));
  };
  // yymmdd.tly; yy above 90 is 19yy, any other 20yy.
  const std::string name = path.substr(path.rfind('/') + 1);
  if (name.size() != 10 || !name.ends_with(".tly") || number(name.substr(0, 6)) < 0)
    return fail("name " + name);
  const int yy = static_cast<int>(number(name.substr(0, 2)));
  read.year = yy > 90 ? 1900 + yy : 2000 + yy;
  read.month = static_cast<int>(number(name.substr(2, 2)));
  read.day = static_cast<int>(number(name.substr(4, 2)));
  char date[16];
  std::snprintf(date, sizeof date, "%02d/%02d/%04d", read.day, read.month, read.year);

  // Lines ended by CR LF; the header from the first line to "#S"; two title lines; rows.
  const std::string bytes = ReadBytes(path);
  std::vector<std::string> lines;
  for (size_t start = 0; start < bytes.size();) {
    const size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) return fail("no CR LF at the end");
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
    if (lines.back().find_first_of("\r\n") != std::string::npos) return fail("a lone CR or LF");
  }
  // The header: "#T" first, "# Shop name: " right after it if the site has
  // one; count field n is channel n up to the highest active "#C" line.
  size_t i = 0;
  size_t fields_per_row = 0;
  for (; i < lines.size() && lines[i].rfind("#S", 0) != 0; ++i) {
    const std::string& line = lines[i];
    if (line.rfind('#', 0) != 0) return fail("a header line without #");
    if (i == 1 && line.rfind("# Shop name: ", 0) == 0) read.shop_name = line.substr(13);
    const size_t state = line.find_first_not_of("0123456789", 2);
    if (line.rfind("#C", 0) == 0 && state != std::string::npos && line[state] == 'Y')
      fields_per_row = static_cast<size_t>(number(line.substr(2, state - 2)));
  }
  if (i == lines.size() || lines[0].rfind("#T", 0) != 0) return fail("no header from #T to #S");
  const std::string seal = lines[i].substr(2);
  if (i + 2 >= lines.size() || lines[i + 1] != "Magasin \tDate \tHeure \t CANALS\t\t\t" ||
      lines[i + 2] != "\t\t\tCNL1\tCNL2\tCNL3\tCNL4")
    return fail("not the title lines");

  std::string rows;
  std::string shop_code;
  int previous = -1;
  for (i += 3; i < lines.size(); ++i) {
    std::vector<std::string> fields;
    std::istringstream split(lines[i]);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    const std::string time = fields.size() >= 3 ? fields[2] : "";
    if (fields.size() < 3 || fields[1] != date || time.size() != 5 || time[2] != ':' ||
        fields.size() != 3 + fields_per_row)
      return fail("row " + lines[i]);
    if (shop_code.empty()) shop_code = fields[0];
    if (fields[0] != shop_code || shop_code.size() > 10 ||
        shop_code.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                    "0123456789-_") != std::string::npos)
      return fail("shop code of row " + lines[i]);
    const long long hour = number(time.substr(0, 2)), minute = number(time.substr(3, 2));
    const int quarter = static_cast<int>(hour * 4 + minute / 15);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || quarter <= previous)
      return fail("time of row " + lines[i]);
    previous = quarter;
    std::vector<int64_t>& counts = read.counts[quarter];
    for (size_t f = 3; f < fields.size(); ++f) {
      const std::string& field = fields[f];
      const bool minus = field.size() > 2 && field[1] == '-';
      const long long magnitude =
          field.rfind(' ', 0) == 0 ? number(field.substr(minus ? 2 : 1)) : -1;
      if (magnitude < 0) return fail("count field \"" + field + "\"");
      counts.push_back(minus ? -magnitude : magnitude);
    }
    rows += lines[i] + "\r\n";
  }
  if (seal != (rows.empty() ? "" : testing::Sha1UpperHex(rows))) return fail("seal " + seal);
  return read;
}

// Reads the day file `path` as the document says and with the program's
// loader, expects the same day, and returns how many counts it compared.
int ExpectReaderAgreesWithLoader(const std::string& path) {
  const ReaderDay read = ReadAsTheDocumentSays(path);
  EXPECT_EQ(read.problem, "") << path;
  auto day = std::make_unique<DayCounts>();
  EXPECT_TRUE(LoadDayFile(path, *day)) << path;
  if (!read.problem.empty()) return 0;

  EXPECT_EQ(day->Date, EncodeDate(read.year, read.month, read.day)) << path;
  size_t channels = 0;
  for (const auto& [quarter, counts] : read.counts) channels = std::max(channels, counts.size());
  EXPECT_EQ(day->ChannelCount, static_cast<int32_t>(channels)) << path;
  int compared = 0;
  for (int quarter = 0; quarter < kSlotsPerDay; ++quarter) {
    const auto found = read.counts.find(quarter);
    EXPECT_EQ(day->SlotUsed[quarter] != 0, found != read.counts.end()) << path << " " << quarter;
    for (int channel = 0; channel < kMaxChannels; ++channel) {
      const bool given =
          found != read.counts.end() && static_cast<size_t>(channel) < found->second.size();
      const int64_t expected = given ? found->second[static_cast<size_t>(channel)] : 0;
      if (day->Slots[quarter].Counts[channel] != expected) {
        ADD_FAILURE() << path << " quarter hour " << quarter << " channel " << channel + 1;
        return compared;
      }
      compared += given ? 1 : 0;
    }
  }
  return compared;
}

TEST(DayFileFormatDoc, ReaderWrittenFromTheDocumentAgreesWithTheLoader) {
  // A week across the turn of the century in the names: 991228.tly to 000103.tly.
  TempDir work;
  RunCommandBlock({"mkdir week",
                   "tly-generator backfill --out week --from 1999-12-28 --to 2000-01-03 --seed 17"},
                  work.path());
  if (HasFatalFailure()) return;

  std::set<std::string> names;
  int compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(work.File("week"))) {
    if (entry.path().extension() != ".tly") continue;  // the writer's lock file
    names.insert(entry.path().filename());
    compared += ExpectReaderAgreesWithLoader(entry.path());
    EXPECT_EQ(ReadAsTheDocumentSays(entry.path()).shop_name, "");
  }
  EXPECT_EQ(names, (std::set<std::string>{"991228.tly", "991229.tly", "991230.tly", "991231.tly",
                                          "000101.tly", "000102.tly", "000103.tly"}));
  EXPECT_EQ(compared, 7 * 96 * 10);
}

// The scenario of the document writes the files it lists, the first of which
// begins as shown; each is sound, named after its site, and read alike by a
// reader written from the document and by the loader.
TEST(DayFileFormatDoc, DocumentedScenarioWritesTheListedFiles) {
  TempDir work;
  std::string scenario_name;
  std::string scenario;
  for (const std::string& line : BlockAfter("scenario-file: ", &scenario_name))
    scenario += line + "\n";
  testing::WriteBytes(work.File(scenario_name), scenario);
  RunCommandBlock(BlockAfter("scenario-command"), work.path());
  if (HasFatalFailure()) return;

  std::vector<std::string> listed;
  for (const std::string& line : BlockAfter("scenario-listing")) {
    std::istringstream words(line);
    std::string lines, path;
    words >> lines >> path;
    listed.push_back(path + " " + lines);
  }
  std::vector<std::string> written;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(work.path())) {
    const std::string path = entry.path().lexically_relative(work.path());
    if (!entry.is_regular_file() || path == scenario_name) continue;
    if (entry.path().filename() == ".tly-generator.lock") continue;  // one in each site folder
    const std::string bytes = ReadBytes(entry.path());
    size_t lines = 0;
    for (size_t at = 0; (at = bytes.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    written.push_back(path + " " + std::to_string(lines));

    const DayFileCheck check = CheckDayFile(bytes);
    EXPECT_TRUE(check.ok) << path << ": " << check.problem;
    const std::string site = entry.path().parent_path().filename();
    EXPECT_EQ(ReadAsTheDocumentSays(entry.path()).shop_name, site.substr(0, 32)) << path;
    ExpectReaderAgreesWithLoader(entry.path());
  }
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, listed);

  std::string excerpt_name;
  const std::vector<std::string> excerpt = BlockAfter("scenario-excerpt: ", &excerpt_name);
  const std::vector<std::string> shown = LinesBesidesUpdateLine(FileBytesOf(excerpt));
  const std::vector<std::string> file = LinesBesidesUpdateLine(ReadBytes(work.File(excerpt_name)));
  ASSERT_LE(shown.size(), file.size());
  ASSERT_GE(shown.size(), 25u) << "the header, the title lines and a row at least";
  for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], file[i]) << "line " << i + 1;
}

}  // namespace
}  // namespace tly
