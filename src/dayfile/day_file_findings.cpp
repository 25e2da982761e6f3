#include "dayfile/day_file_findings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <map>

#include "dayfile/day_file_check.h"
#include "dayfile/day_file_lines.h"
#include "dayfile/day_file_name.h"
#include "dayfile/day_file_reader.h"
#include "dayfile/header_layout.h"
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

// The value of `text` when it is exactly `text.size()` decimal digits.
bool Digits(std::string_view text, int& value) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc();
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
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

class Inspector {
 public:
  Inspector(std::string_view bytes, TDateTime day) : bytes_(bytes), day_(day) {}

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
    size_t start = 0;
    while (start < bytes_.size()) {
      const size_t lf = bytes_.find('\n', start);
      const bool ended = lf != std::string_view::npos;
      std::string_view line = bytes_.substr(start, ended ? lf - start : std::string_view::npos);
      const size_t index = lines_.size();
      if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
        if (!ended) {
          Add(index + 1, FindingKind::kTruncated,
              Label(index) + " ends with CR without LF: the file ends inside a line end");
        }
      } else if (ended) {
        if (lf_only++ == 0) first_lf_only = index;
      } else {
        Add(index + 1, FindingKind::kTruncated,
            Label(index) + " has no line end: the file ends inside a line");
      }
      if (line.find('\r') != std::string_view::npos) {
        Add(index + 1, FindingKind::kCrInLine, Label(index) + " holds a CR inside the line");
      }
      lines_.push_back(line);
      start = ended ? lf + 1 : bytes_.size();
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
        const bool door = tag == "#D";
        int& next = door ? next_door : next_channel;
        const int number = TagNumber(line);
        const char* what = door ? "door" : "channel";
        if (number > next) {
          Add(i + 1, FindingKind::kMissingHeaderLine,
              Label(i) + " is " + what + " " + std::to_string(number) + ", but the " +
                  std::string(tag) + " line of " + what + " " + std::to_string(next) +
                  " is missing");
        } else if (number < next) {
          Add(i + 1, FindingKind::kHeader,
              Label(i) + " is " + what + " " + std::to_string(number) + " after " + what + " " +
                  std::to_string(next - 1));
        }
        next = std::max(next, number + 1);
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

    const HeaderLayout layout = ParseHeaderLayout(bytes_);
    for (const std::string& problem : layout.problems) {
      Add(seal + 1, FindingKind::kHeader, Label(seal) + " ends a header whose line " + problem);
    }
    for (const HeaderChannel& channel : layout.channels) {
      if (!channel.active) continue;
      highest_active_ = std::max(highest_active_, channel.number);
      direction_[channel.number] = channel.out ? -1 : 1;
    }

    size_t index = seal + 1;
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
    std::string rows;
    std::string_view first_date;
    std::string_view first_shop;
    std::string_view previous_row;
    int previous_slot = -1;
    int64_t occupancy = 0;
    bool occupancy_told = false;
    const bool occupancy_known = std::any_of(direction_.begin(), direction_.end(),
                                             [](const auto& c) { return c.second > 0; }) &&
                                 std::any_of(direction_.begin(), direction_.end(),
                                             [](const auto& c) { return c.second < 0; });
    std::string expected_date;
    if (day_ != kNoDate) {
      const CivilDate civil = DecodeDate(day_);
      char text[48];
      std::snprintf(text, sizeof text, "%02d/%02d/%04d", civil.Day, civil.Month, civil.Year);
      expected_date = text;
    }
    for (size_t index = begin; index < lines_.size(); ++index) {
      const std::string_view line = lines_[index];
      rows += line;
      rows += kLineEnd;
      const std::string label = Label(index);
      const auto add = [&](FindingKind kind, const std::string& problem) {
        Add(index + 1, kind, label + " " + problem);
      };
      if (!IsDataLine(line)) {
        add(FindingKind::kBadRow, "is not a data row");
        continue;
      }
      const std::vector<std::string_view> fields = Fields(line);
      if (fields.size() < 3) {
        add(FindingKind::kBadRow, "has fewer than 3 fields");
        continue;
      }
      if (first_shop.empty()) first_shop = fields[0];
      if (fields[0] != first_shop) {
        add(FindingKind::kShopCode, "has the shop code \"" + std::string(fields[0]) +
                                        "\", the first row \"" + std::string(first_shop) + "\"");
      }
      int d = 0, m = 0, y = 0;
      const std::string_view date = fields[1];
      if (date.size() != 10 || date[2] != '/' || date[5] != '/' || !Digits(date.substr(0, 2), d) ||
          !Digits(date.substr(3, 2), m) || !Digits(date.substr(6, 4), y) || !IsValidDate(y, m, d)) {
        add(FindingKind::kBadRow, "has no valid date dd/mm/yyyy");
      } else {
        if (first_date.empty()) first_date = date;
        if (!expected_date.empty() && date != expected_date) {
          add(FindingKind::kWrongDate,
              "has the date " + std::string(date) + ", not the file name's day " + expected_date);
        } else if (date != first_date) {
          add(FindingKind::kWrongDate, "has another date (" + std::string(date) +
                                           ") than the first row (" + std::string(first_date) +
                                           ")");
        }
      }
      int hour = 0, minute = 0;
      const std::string_view time = fields[2];
      if (time.size() != 5 || time[2] != ':' || !Digits(time.substr(0, 2), hour) ||
          !Digits(time.substr(3, 2), minute) || hour > 23 || minute > 59) {
        add(FindingKind::kBadRow, "has no valid time hh:nn");
      } else {
        const int slot = hour * 4 + minute / 15;
        if (line == previous_row) {
          add(FindingKind::kDuplicateRow, "repeats the row before it");
        } else if (slot <= previous_slot) {
          add(FindingKind::kOutOfOrder, "is of the quarter hour " + QuarterText(slot) +
                                            ", which does not come after the previous row's (" +
                                            QuarterText(previous_slot) + ")");
        }
        previous_slot = slot;
      }
      previous_row = line;

      const size_t counts = fields.size() - 3;
      if (counts > static_cast<size_t>(kMaxRowCounts)) {
        add(FindingKind::kBadRow, "has more than 64 count fields");
      }
      if (highest_active_ > 0 && counts != static_cast<size_t>(highest_active_)) {
        add(FindingKind::kFieldCount, "has " + std::to_string(counts) +
                                          " count fields; the header's highest active channel "
                                          "is " +
                                          std::to_string(highest_active_));
      }
      for (size_t i = 3; i < fields.size() && i - 3 < static_cast<size_t>(kMaxRowCounts); ++i) {
        const std::string_view field = fields[i];
        int32_t value = 0;
        bool sound = field.size() >= 2 && field[0] == ' ';
        if (sound) {
          const char* end = field.data() + field.size();
          const auto parsed = std::from_chars(field.data() + 1, end, value);
          sound = parsed.ec == std::errc() && parsed.ptr == end;
        }
        const int channel = static_cast<int>(i - 2);
        if (!sound) {
          add(FindingKind::kBadRow,
              "has a count field that is not a space and a 32-bit integer "
              "(field " +
                  std::to_string(i + 1) + ")");
          continue;
        }
        if (value < 0) {
          add(FindingKind::kNegativeCount, "has the negative count " + std::to_string(value) +
                                               " on channel " + std::to_string(channel));
        }
        if (const auto found = direction_.find(channel); found != direction_.end()) {
          occupancy += found->second * static_cast<int64_t>(value);
        }
      }
      if (occupancy_known && occupancy < 0 && !occupancy_told) {
        occupancy_told = true;
        add(FindingKind::kNegativeOccupancy,
            "brings the occupancy (entries minus exits since the day began, as if the counter "
            "missed no passage) to " +
                std::to_string(occupancy));
      }
    }
    const std::string_view seal = lines_[seal_line_].substr(2);
    const std::string expected = SealOfRows(rows);
    if (seal != expected) {
      Add(seal_line_ + 1, FindingKind::kBadSeal,
          Label(seal_line_) + ": the seal \"" + std::string(seal) +
              "\" is not the SHA-1 of the rows (" +
              (expected.empty() ? std::string("empty: no rows") : expected) + ")");
    }
  }

  std::string_view bytes_;
  TDateTime day_;
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

std::vector<DayFileFinding> StrictFindings(std::string_view bytes, TDateTime day) {
  std::vector<DayFileFinding> findings = InspectDayFile(bytes, day);
  if (findings.empty()) {
    const DayFileCheck check = CheckDayFile(bytes);
    if (!check.ok) findings.push_back({0, FindingKind::kHeader, check.problem});
  }
  return findings;
}

}  // namespace tly
