#include "dayfile/day_file_findings.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>

#include "dayfile/day_file_lines.h"
#include "dayfile/day_file_name.h"
#include "dayfile/day_file_reader.h"
#include "dayfile/header_layout.h"
#include "dayfile/line_scanner.h"
#include "dayfile/row_reading.h"
#include "dayfile/row_text.h"
#include "dayfile/sealed_image.h"

namespace tly {
namespace {

constexpr std::array<std::string_view, 17> kKindNames = {
    "empty_file",  "lf_line_ends",   "cr_in_line",          "truncated",
    "stray_byte",  "header",         "missing_header_line", "title_lines",
    "bad_row",     "wrong_date",     "out_of_order",        "duplicate_row",
    "field_count", "negative_count", "shop_code",           "negative_occupancy",
    "bad_seal"};

std::string Label(size_t index) {
  return "line " + std::to_string(index + 1);
}

// Where the free text of a header line begins: the names of "#D", "#C" and
// "# Shop name: " lines may hold any single-byte character; everything else
// of the file is ASCII.
size_t FreeTextStart(std::string_view line) {
  if (line.substr(0, kShopNameTag.size()) == kShopNameTag) return kShopNameTag.size();
  if (line.size() < 2 || line[0] != '#' || (line[1] != 'D' && line[1] != 'C')) return line.size();
  size_t at = 2;
  while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
  if (line[1] == 'D') return std::min(at + 1, line.size());
  at += 2;  // state and kind letters
  while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
  return std::min(at, line.size());
}

bool PrintableAscii(unsigned char c) {
  return c == '\t' || (c >= 0x20 && c < 0x7F);
}

std::string QuarterText(int slot) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d", slot / 4, (slot % 4) * 15);
  return text;
}

// The number after a "#D" or "#C" tag, 0 when there is none.
int TagNumber(std::string_view line) {
  int number = 0;
  size_t at = 2;
  while (at < line.size() && at < 8 && line[at] >= '0' && line[at] <= '9') {
    number = number * 10 + (line[at] - '0');
    ++at;
  }
  return number;
}

// "dd/mm/yyyy" of `day`, "" for kNoDate.
std::string DateText(TDateTime day) {
  if (day == kNoDate) return {};
  const CivilDate civil = DecodeDate(day);
  char text[48];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", civil.Day, civil.Month, civil.Year);
  return text;
}

// What the rows seen so far leave for the next one.
struct RowsSoFar {
  std::string rows;  // each with its line end, for the seal
  std::string_view first_date;
  std::string_view first_shop;
  std::string_view previous_row;
  int previous_slot = -1;
  int64_t occupancy = 0;
  bool occupancy_told = false;
};

class Inspector {
 public:
  Inspector(std::string_view bytes, TDateTime day) : bytes_(bytes), expected_date_(DateText(day)) {}

  std::vector<DayFileFinding> Run() {
    if (bytes_.empty()) {
      Add(0, FindingKind::kEmptyFile, "the file is empty");
      return std::move(findings_);
    }
    SplitLines();
    for (size_t i = 0; i < lines_.size(); ++i) CheckBytes(i);
    const size_t rows_begin = CheckHeader();
    if (rows_begin != 0) CheckRows(rows_begin);
    std::stable_sort(
        findings_.begin(), findings_.end(),
        [](const DayFileFinding& a, const DayFileFinding& b) { return a.line < b.line; });
    return std::move(findings_);
  }

 private:
  void Add(size_t line, FindingKind kind, std::string problem) {
    findings_.push_back({static_cast<int>(line), kind, std::move(problem)});
  }

  void SplitLines() {
    size_t lf_only = 0;
    size_t first_lf_only = 0;
    LineScanner scanner(bytes_);
    for (ScannedLine line; scanner.Next(line);) {
      const size_t index = lines_.size();
      if (line.end == LineEnd::kCrAtEnd) {
        Add(index + 1, FindingKind::kTruncated,
            Label(index) + " ends with CR without LF: the file ends inside a line end");
      } else if (line.end == LineEnd::kLf) {
        if (lf_only++ == 0) first_lf_only = index;
      } else if (line.end == LineEnd::kNone) {
        Add(index + 1, FindingKind::kTruncated,
            Label(index) + " has no line end: the file ends inside a line");
      }
      if (line.text.find('\r') != std::string_view::npos) {
        Add(index + 1, FindingKind::kCrInLine, Label(index) + " holds a CR inside the line");
      }
      lines_.push_back(line.text);
    }
    if (lf_only > 0) {
      Add(first_lf_only + 1, FindingKind::kLfLineEnds,
          Label(first_lf_only) + " ends with LF without CR" +
              (lf_only > 1 ? " (and " + std::to_string(lf_only - 1) + " more lines)" : ""));
    }
  }

  void CheckBytes(size_t index) {
    const std::string_view line = lines_[index];
    const size_t free = FreeTextStart(line);
    std::string stray;
    size_t column = 0;
    for (size_t i = 0; i < line.size(); ++i) {
      if (i >= free && line[0] == '#') break;
      const unsigned char c = static_cast<unsigned char>(line[i]);
      if (c == '\r' || PrintableAscii(c)) continue;
      if (stray.empty()) column = i + 1;
      char hex[8];
      std::snprintf(hex, sizeof hex, "%s%02X", stray.empty() ? "" : " ", c);
      stray += hex;
    }
    if (!stray.empty()) {
      Add(index + 1, FindingKind::kStrayByte,
          Label(index) + " holds the bytes " + stray + " (from column " + std::to_string(column) +
              ") where the format has printable ASCII only");
    }
  }

  // Checks the header and the title lines; returns the index of the first
  // row, or 0 when the rows cannot be told apart.
  size_t CheckHeader() {
    if (lines_[0].substr(0, 2) != "#T") {
      Add(1, FindingKind::kHeader, "line 1 does not begin with #T");
    }
    size_t seal = 0;
    while (seal < lines_.size() && !IsSealLine(lines_[seal])) ++seal;
    if (seal == lines_.size()) {
      Add(0, FindingKind::kHeader, "no #S line ends the header");
      return 0;
    }
    seal_line_ = seal;
    CheckTagLines(seal);
    ReadLayout(seal);
    return CheckTitleLines(seal + 1);
  }

  // The '#' lines before the seal line `seal`: each one a '#' line, the door
  // and channel lines numbered without gaps, the single-value tags once.
  void CheckTagLines(size_t seal) {
    std::map<std::string_view, std::vector<size_t>> tags;
    int next_door = 1;
    int next_channel = 1;
    for (size_t i = 0; i < seal; ++i) {
      const std::string_view line = lines_[i];
      if (!IsTagLine(line)) {
        Add(i + 1, FindingKind::kHeader, Label(i) + " is in the header but is no # line");
        continue;
      }
      if (line.substr(0, kShopNameTag.size()) == kShopNameTag) continue;
      const std::string_view tag = line.substr(0, 2);
      if (tag == "#D" || tag == "#C") {
        CheckNumbering(i, tag == "#D", tag == "#D" ? next_door : next_channel);
        continue;
      }
      tags[tag].push_back(i);
    }
    for (const std::string_view tag : {"#M", "#R", "#K", "#F"}) {
      const auto found = tags.find(tag);
      if (found == tags.end()) {
        Add(seal + 1, FindingKind::kMissingHeaderLine,
            Label(seal) + " ends the header without a " + std::string(tag) + " line");
      } else if (found->second.size() > 1) {
        Add(found->second[1] + 1, FindingKind::kHeader,
            Label(found->second[1]) + " is a second " + std::string(tag) + " line");
      }
    }
    if (const auto found = tags.find("#T"); found != tags.end() && found->second.size() > 1) {
      Add(found->second[1] + 1, FindingKind::kHeader,
          Label(found->second[1]) + " is a second #T line");
    }
  }

  // The door or channel line `i` against `next`, the number due there.
  void CheckNumbering(size_t i, bool door, int& next) {
    const std::string_view tag = door ? "#D" : "#C";
    const int number = TagNumber(lines_[i]);
    const char* what = door ? "door" : "channel";
    if (number > next) {
      Add(i + 1, FindingKind::kMissingHeaderLine,
          Label(i) + " is " + what + " " + std::to_string(number) + ", but the " +
              std::string(tag) + " line of " + what + " " + std::to_string(next) + " is missing");
    } else if (number < next) {
      Add(i + 1, FindingKind::kHeader,
          Label(i) + " is " + what + " " + std::to_string(number) + " after " + what + " " +
              std::to_string(next - 1));
    }
    next = std::max(next, number + 1);
  }

  // The doors and channels of the header: what cannot be read of them, and
  // the directions of the active channels for the occupancy.
  void ReadLayout(size_t seal) {
    const HeaderLayout layout = ParseHeaderLayout(bytes_);
    for (const std::string& problem : layout.problems) {
      Add(seal + 1, FindingKind::kHeader, Label(seal) + " ends a header whose line " + problem);
    }
    for (const HeaderChannel& channel : layout.channels) {
      if (!channel.active) continue;
      highest_active_ = std::max(highest_active_, channel.number);
      direction_[channel.number] = channel.out ? -1 : 1;
    }
  }

  // The two title lines from `index` on; returns the index behind them.
  size_t CheckTitleLines(size_t index) {
    if (index < lines_.size() && lines_[index] == kTitleLine1) {
      ++index;
    } else {
      Add(index + 1, FindingKind::kTitleLines,
          Label(index) + " is not the first column title line");
    }
    if (index < lines_.size() && lines_[index] == kTitleLine2) {
      ++index;
    } else {
      Add(index + 1, FindingKind::kTitleLines,
          Label(index) + " is not the second column title line");
    }
    return index;
  }

  void CheckRows(size_t begin) {
    RowsSoFar so_far;
    for (size_t index = begin; index < lines_.size(); ++index) CheckRow(index, so_far);
    const std::string_view seal = lines_[seal_line_].substr(2);
    const std::string expected = SealOfRows(so_far.rows);
    if (seal != expected) {
      Add(seal_line_ + 1, FindingKind::kBadSeal,
          Label(seal_line_) + ": the seal \"" + std::string(seal) +
              "\" is not the SHA-1 of the rows (" +
              (expected.empty() ? std::string("empty: no rows") : expected) + ")");
    }
  }

  // Adds the finding `problem` about the row at `index`.
  void AddRow(size_t index, FindingKind kind, const std::string& problem) {
    Add(index + 1, kind, Label(index) + " " + problem);
  }

  void CheckRow(size_t index, RowsSoFar& so_far) {
    const std::string_view line = lines_[index];
    so_far.rows += line;
    so_far.rows += kLineEnd;
    if (!IsDataLine(line)) return AddRow(index, FindingKind::kBadRow, "is not a data row");
    const std::vector<std::string_view> fields = SplitRowFields(line);
    if (fields.size() < 3) return AddRow(index, FindingKind::kBadRow, "has fewer than 3 fields");
    if (so_far.first_shop.empty()) so_far.first_shop = fields[0];
    if (fields[0] != so_far.first_shop) {
      AddRow(index, FindingKind::kShopCode,
             "has the shop code \"" + std::string(fields[0]) + "\", the first row \"" +
                 std::string(so_far.first_shop) + "\"");
    }
    CheckRowDate(index, fields[1], so_far);
    CheckRowTime(index, fields[2], so_far);
    so_far.previous_row = line;
    CheckRowCounts(index, fields, so_far);
  }

  void CheckRowDate(size_t index, std::string_view date, RowsSoFar& so_far) {
    CivilDate civil;
    if (!ReadStrictDate(date, civil)) {
      return AddRow(index, FindingKind::kBadRow, "has no valid date dd/mm/yyyy");
    }
    if (so_far.first_date.empty()) so_far.first_date = date;
    if (!expected_date_.empty() && date != expected_date_) {
      AddRow(index, FindingKind::kWrongDate,
             "has the date " + std::string(date) + ", not the file name's day " + expected_date_);
    } else if (date != so_far.first_date) {
      AddRow(index, FindingKind::kWrongDate,
             "has another date (" + std::string(date) + ") than the first row (" +
                 std::string(so_far.first_date) + ")");
    }
  }

  void CheckRowTime(size_t index, std::string_view time, RowsSoFar& so_far) {
    const int slot = StrictQuarterOf(time);
    if (slot < 0) return AddRow(index, FindingKind::kBadRow, "has no valid time hh:nn");
    if (lines_[index] == so_far.previous_row) {
      AddRow(index, FindingKind::kDuplicateRow, "repeats the row before it");
    } else if (slot <= so_far.previous_slot) {
      AddRow(index, FindingKind::kOutOfOrder,
             "is of the quarter hour " + QuarterText(slot) +
                 ", which does not come after the previous row's (" +
                 QuarterText(so_far.previous_slot) + ")");
    }
    so_far.previous_slot = slot;
  }

  void CheckRowCounts(size_t index, const std::vector<std::string_view>& fields,
                      RowsSoFar& so_far) {
    const size_t counts = fields.size() - 3;
    if (counts > static_cast<size_t>(kMaxRowCounts)) {
      AddRow(index, FindingKind::kBadRow, "has more than 64 count fields");
    }
    if (highest_active_ > 0 && counts != static_cast<size_t>(highest_active_)) {
      AddRow(index, FindingKind::kFieldCount,
             "has " + std::to_string(counts) +
                 " count fields; the header's highest active channel is " +
                 std::to_string(highest_active_));
    }
    for (size_t i = 3; i < fields.size() && i - 3 < static_cast<size_t>(kMaxRowCounts); ++i) {
      int32_t value = 0;
      const int channel = static_cast<int>(i - 2);
      if (!ReadStrictCount(fields[i], value)) {
        AddRow(index, FindingKind::kBadRow,
               "has a count field that is not a space and a 32-bit integer (field " +
                   std::to_string(i + 1) + ")");
        continue;
      }
      if (value < 0) {
        AddRow(index, FindingKind::kNegativeCount,
               "has the negative count " + std::to_string(value) + " on channel " +
                   std::to_string(channel));
      }
      if (const auto found = direction_.find(channel); found != direction_.end()) {
        so_far.occupancy += found->second * static_cast<int64_t>(value);
      }
    }
    if (OccupancyKnown() && so_far.occupancy < 0 && !so_far.occupancy_told) {
      so_far.occupancy_told = true;
      AddRow(index, FindingKind::kNegativeOccupancy,
             "brings the occupancy (entries minus exits since the day began, as if the counter "
             "missed no passage) to " +
                 std::to_string(so_far.occupancy));
    }
  }

  // The occupancy means something only when some active channel counts
  // entries and some counts exits.
  bool OccupancyKnown() const {
    return std::any_of(direction_.begin(), direction_.end(),
                       [](const auto& c) { return c.second > 0; }) &&
           std::any_of(direction_.begin(), direction_.end(),
                       [](const auto& c) { return c.second < 0; });
  }

  std::string_view bytes_;
  std::string expected_date_;  // the file name's day as rows write it, "" when none
  std::vector<std::string_view> lines_;
  std::vector<DayFileFinding> findings_;
  size_t seal_line_ = 0;
  int highest_active_ = 0;
  std::map<int, int> direction_;  // active channel: +1 entries, -1 exits
};

}  // namespace

std::string_view FindingKindName(FindingKind kind) {
  return kKindNames[static_cast<size_t>(kind)];
}

std::vector<DayFileFinding> InspectDayFile(std::string_view bytes, TDateTime day) {
  return Inspector(bytes, day).Run();
}

std::string FirstProblemOfDayFile(const std::string& path) {
  const std::optional<std::string> bytes = ReadDayFileBytes(path);
  if (!bytes) return {};
  const std::vector<DayFileFinding> findings = InspectDayFile(*bytes, DateFromFileName(path));
  return findings.empty() ? std::string() : findings.front().problem;
}

}  // namespace tly
