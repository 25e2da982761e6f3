#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "config/tly_config.h"
#include "dayfile/day_file_lines.h"
#include "support/clock.h"
#include "support/date_time.h"
#include "testutil/sha1.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;
using Lines = std::vector<std::string>;

const std::string kTitles = std::string(kTitleLine1) + "\r\n" + std::string(kTitleLine2) + "\r\n";

// The lines of `text`, each of which must end with CR LF.
Lines SplitCrLf(const std::string& text) {
  Lines lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated line: " << text.substr(start);
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The bytes after the second title line, which the seal covers.
std::string SealedPart(const std::string& content) {
  const std::size_t titles = content.find(kTitles);
  return titles == std::string::npos ? "no titles" : content.substr(titles + kTitles.size());
}

std::string SealOf(const std::string& content) {
  for (const std::string& line : SplitCrLf(content)) {
    if (line.rfind("#S", 0) == 0) return line.substr(2);
  }
  return "no seal line";
}

class HeaderRewrite : public ::testing::Test {
 protected:
  HeaderRewrite() : clock_(EncodeDate(2026, 3, 7) + EncodeTime(9, 5, 0, 0)), scoped_(clock_) {}

  TempDir dir_;
  ManualClock clock_;
  ScopedClock scoped_;
  TTlyConfig config_;
};

TEST_F(HeaderRewrite, SealsTheDataRowsAndDropsEverythingElse) {
  const std::string day = dir_.File("260307.tly");
  // An old header with a stale seal, titles, empty and one-character lines,
  // LF-only endings and a last row without a line end.
  WriteBytes(day, "#TRV9\r\n#M old\r\n#SDEADBEEF\r\n" + kTitles +
                      "0001\t07/03/2026\t00:00\t1\t2\r\n\r\nx\r\n0001\t07/03/2026\t00:15\t3\t4\n"
                      "\n0001\t07/03/2026\t09:00\t5\t6");
  const std::string rows =
      "0001\t07/03/2026\t00:00\t1\t2\r\n0001\t07/03/2026\t00:15\t3\t4\r\n"
      "0001\t07/03/2026\t09:00\t5\t6\r\n";

  config_.SetHeaderToFile(day);
  const std::string first = ReadBytes(day);
  const std::string seal = testing::Sha1UpperHex(rows);
  ASSERT_EQ(seal.size(), 40u);
  EXPECT_EQ(config_.DataHash, seal);
  EXPECT_EQ(config_.Seal, seal);
  EXPECT_EQ(first, config_.GetHeaderText() + kTitles + rows);
  EXPECT_EQ(SealOf(first), seal);
  EXPECT_EQ(testing::Sha1UpperHex(SealedPart(first)), seal);
  EXPECT_FALSE(fs::exists(dir_.File("260307.tmp")));

  Lines rows_read{"stale"};
  config_.Seal.clear();
  config_.ReadDataLines(day, rows_read);
  EXPECT_EQ(rows_read, (Lines{"0001\t07/03/2026\t00:00\t1\t2", "0001\t07/03/2026\t00:15\t3\t4",
                              "0001\t07/03/2026\t09:00\t5\t6"}));
  EXPECT_EQ(config_.Seal, seal);

  // A second rewrite a minute later differs only in the time of the "#M" line.
  clock_.AdvanceSeconds(60);
  config_.SetHeaderToFile(day);
  const Lines before = SplitCrLf(first);
  const Lines after = SplitCrLf(ReadBytes(day));
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i].rfind("#M ", 0) == 0) {
      EXPECT_NE(after[i], before[i]);
      EXPECT_EQ(after[i].substr(0, after[i].size() - 2), before[i].substr(0, before[i].size() - 2));
    } else {
      EXPECT_EQ(after[i], before[i]) << i;
    }
  }
}

TEST_F(HeaderRewrite, MissingDayFileIsCreatedWithABareSeal) {
  const std::string day = dir_.File("260307.tly");
  config_.Seal = "OLD";
  config_.DataHash = "OLD";
  config_.SetHeaderToFile(day);
  EXPECT_TRUE(config_.Seal.empty());
  EXPECT_TRUE(config_.DataHash.empty());
  const std::string content = ReadBytes(day);
  EXPECT_EQ(content, config_.GetHeaderText() + kTitles);
  EXPECT_EQ(SplitCrLf(content)[17], "#S");
  EXPECT_FALSE(fs::exists(dir_.File("260307.tmp")));
}

TEST_F(HeaderRewrite, ReadDataLinesSplitsLinesAndKeepsTheLastSeal) {
  const std::string day = dir_.File("260307.tly");
  const std::string long_row(200000, 'r');
  WriteBytes(day, "a1\r\nb2\nc\rd\r\n#SFIRST\r\n#C1YE1\r\n" + long_row +
                      "\r\n#SSECOND\nCNL\r\n Magasin\r\nlast");
  Lines lines{"stale"};
  config_.ReadDataLines(day, lines);
  EXPECT_EQ(lines, (Lines{"a1", "b2", "c\rd", long_row, "last"}));
  EXPECT_EQ(config_.Seal, "SECOND");

  WriteBytes(day, "#SFIRST\r\nrow\r\n#S\r\n");
  config_.ReadDataLines(day, lines);
  EXPECT_EQ(lines, Lines{"row"});
  EXPECT_EQ(config_.Seal, "");

  // Neither a missing file nor a directory is a day file.
  config_.Seal = "OLD";
  config_.ReadDataLines(dir_.File("missing.tly"), lines);
  EXPECT_TRUE(lines.empty());
  EXPECT_TRUE(config_.Seal.empty());
  config_.Seal = "OLD";
  lines = {"stale"};
  config_.ReadDataLines(dir_.path(), lines);
  EXPECT_TRUE(lines.empty());
  EXPECT_TRUE(config_.Seal.empty());
}

TEST_F(HeaderRewrite, PlantedLinkAtTheTemporaryNameIsNotFollowed) {
  const std::string day = dir_.File("260307.tly");
  const std::string target = dir_.File("precious.txt");
  WriteBytes(target, "precious\r\n");
  WriteBytes(day, "row 1\r\n");
  fs::create_symlink(target, dir_.File("260307.tmp"));

  config_.SetHeaderToFile(day);
  EXPECT_EQ(ReadBytes(target), "precious\r\n");
  EXPECT_FALSE(fs::is_symlink(day));
  EXPECT_EQ(SealedPart(ReadBytes(day)), "row 1\r\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_.File("260307.tmp"))));
}

TEST_F(HeaderRewrite, DayFileNamedLikeItsTemporaryFileKeepsItsRows) {
  const std::string day = dir_.File("260307.tmp");
  WriteBytes(day, "row 1\r\n");
  config_.SetHeaderToFile(day);
  EXPECT_EQ(SealedPart(ReadBytes(day)), "row 1\r\n");
  EXPECT_FALSE(fs::exists(day + ".tmp"));
}

// Runs the test body with the current directory set to a fresh directory, so
// that the debug log lands there, and restores it afterwards.
class HeaderRewriteLogging : public HeaderRewrite {
 protected:
  HeaderRewriteLogging() : previous_(fs::current_path()) { fs::current_path(log_dir_.path()); }
  ~HeaderRewriteLogging() override { fs::current_path(previous_); }

  TempDir log_dir_;
  fs::path previous_;
};

TEST_F(HeaderRewriteLogging, ReplacementRefusedTwiceIsLoggedAndKeepsTheTemporaryFile) {
  // A non-empty directory in place of the day file cannot be replaced by a
  // file. The name has no extension, but its directory's name has a dot.
  fs::create_directories(dir_.File("out.d/daydir"));
  WriteBytes(dir_.File("out.d/daydir/inside"), "x");
  const std::string day = dir_.File("out.d/daydir");

  EXPECT_NO_THROW(config_.SetHeaderToFile(day));
  EXPECT_TRUE(fs::is_directory(day));
  EXPECT_EQ(ReadBytes(dir_.File("out.d/daydir.tmp")), config_.GetHeaderText() + kTitles);

  const Lines log = SplitCrLf(ReadBytes("debug.txt"));
  ASSERT_EQ(log.size(), 1u);
  const std::string message = "\tSetHeaderToFile: CopyFile 2nd attempt failed: Is a directory";
  ASSERT_GE(log[0].size(), message.size());
  EXPECT_EQ(log[0].substr(log[0].size() - message.size()), message);
}

TEST_F(HeaderRewrite, TemporaryFileThatCannotBeCreatedLeavesTheDayFileAlone) {
  const std::string day = dir_.File("260307.tly");
  WriteBytes(day, "row 1\r\n");
  fs::create_directory(dir_.File("260307.tmp"));
  WriteBytes(dir_.File("260307.tmp/inside"), "x");
  EXPECT_THROW(config_.SetHeaderToFile(day), std::system_error);
  EXPECT_EQ(ReadBytes(day), "row 1\r\n");
  // The digest was taken before the write failed, and stays.
  EXPECT_EQ(config_.Seal.size(), 40u);
}

TEST_F(HeaderRewrite, TemporaryFileThatCannotBeWrittenIsRemoved) {
  const std::string day = dir_.File("260307.tly");
  std::string rows;
  for (int i = 0; i < 2000; ++i) rows += "0001\t07/03/2026\t00:00\t1\t2\t3\t4\r\n";
  WriteBytes(day, rows);

  // A file size limit makes the write fail with EFBIG instead of a signal.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw = false;
  try {
    config_.SetHeaderToFile(day);
  } catch (const std::system_error& error) {
    threw = error.code().value() == EFBIG;
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_TRUE(threw);
  EXPECT_FALSE(fs::exists(dir_.File("260307.tmp")));
  EXPECT_EQ(ReadBytes(day), rows);
}

}  // namespace
}  // namespace tly
