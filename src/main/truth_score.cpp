#include "truth_score.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "generator/fault_kind.h"

namespace tly {
namespace {

// "<site>/<yymmdd>.tly" of a path: its last two parts.
std::string TruthKeyOf(const std::string& path) {
  const std::filesystem::path normal = std::filesystem::path(path).lexically_normal();
  const std::string parent = normal.parent_path().filename().string();
  return parent.empty() ? normal.filename().string() : parent + "/" + normal.filename().string();
}

std::string SiteOf(const std::string& key) {
  return key.substr(0, key.find('/'));
}

// The findings a reader sees of each kind; none for kinds that leave the
// file sound (their values are plausible counts) or leave no file.
std::vector<FindingKind> ShownAs(FaultKind kind) {
  switch (kind) {
    case FaultKind::kSwappedDoor:
      return {FindingKind::kNegativeOccupancy};
    case FaultKind::kClockSkew:
      // Rows moved onto their neighbours' quarter hours; a row of zeros
      // moved onto another one repeats it.
      return {FindingKind::kOutOfOrder, FindingKind::kDuplicateRow};
    case FaultKind::kDuplicateRow:
      return {FindingKind::kDuplicateRow};
    case FaultKind::kBadSeal:
      return {FindingKind::kBadSeal};
    case FaultKind::kStrayByte:
      return {FindingKind::kStrayByte};
    case FaultKind::kMissingHeaderLine:
      return {FindingKind::kMissingHeaderLine};
    case FaultKind::kLfLineEnds:
      return {FindingKind::kLfLineEnds};
    case FaultKind::kTruncated:
      return {FindingKind::kTruncated};
    default:
      return {};
  }
}

bool Shows(FaultKind kind, FindingKind finding) {
  const std::vector<FindingKind> shown = ShownAs(kind);
  return std::find(shown.begin(), shown.end(), finding) != shown.end();
}

// Whether `record` accounts for a finding of `finding` in its file: its own
// findings, and what follows from it (a broken seal, counts that no longer
// add up, a cut or damaged row).
bool Explains(const TruthEntry& record, FindingKind finding) {
  if (Shows(record.kind, finding)) return true;
  switch (finding) {
    case FindingKind::kBadSeal:
      return !record.seal_matches;
    case FindingKind::kNegativeOccupancy:
      return record.kind != FaultKind::kLfLineEnds && record.kind != FaultKind::kClockSkew;
    case FindingKind::kBadRow:
      return record.kind == FaultKind::kTruncated || record.kind == FaultKind::kStrayByte;
    case FindingKind::kFieldCount:
      return record.kind == FaultKind::kTruncated;
    default:
      return false;
  }
}

}  // namespace

std::vector<KindScore> ScoreAgainstTruth(const std::vector<TruthEntry>& truth,
                                         const std::vector<CheckedFile>& checked) {
  std::map<std::string, std::vector<const TruthEntry*>> by_file;
  for (const TruthEntry& record : truth) by_file[record.file].push_back(&record);
  std::set<std::string> sites;
  std::map<std::string, std::set<FindingKind>> seen_in;
  for (const CheckedFile& file : checked) {
    const std::string key = TruthKeyOf(file.path);
    sites.insert(SiteOf(key));
    seen_in[key];
    for (const DayFileFinding& finding : file.findings) seen_in[key].insert(finding.kind);
  }

  std::vector<KindScore> scores;
  for (size_t k = 0; k < kFaultKindCount; ++k) {
    const FaultKind kind = static_cast<FaultKind>(k);
    const std::vector<FindingKind> shown = ShownAs(kind);
    const auto shows = [&](const std::set<FindingKind>& kinds) {
      return std::any_of(shown.begin(), shown.end(),
                         [&](FindingKind finding) { return kinds.count(finding) != 0; });
    };
    KindScore score;
    score.kind = std::string(FaultKindName(kind));
    score.seen = !shown.empty();
    for (const TruthEntry& record : truth) {
      if (record.kind != kind) continue;
      const bool read = seen_in.count(record.file) != 0;
      if (kind == FaultKind::kMissingDay ? sites.count(SiteOf(record.file)) != 0 : read) {
        ++score.planted;
      }
      if (read && shows(seen_in[record.file])) ++score.found;
    }
    for (const auto& [file, kinds] : seen_in) {
      for (const FindingKind finding : shown) {
        if (kinds.count(finding) == 0) continue;
        bool explained = false;
        for (const TruthEntry* record : by_file[file]) explained |= Explains(*record, finding);
        if (!explained) {
          ++score.false_alarms;
          break;
        }
      }
    }
    scores.push_back(score);
  }

  // Findings that no fault kind stands for, and that no planted fault explains.
  KindScore other;
  other.kind = "other";
  std::set<FindingKind> shown_kinds;
  for (size_t k = 0; k < kFaultKindCount; ++k) {
    for (const FindingKind finding : ShownAs(static_cast<FaultKind>(k))) {
      shown_kinds.insert(finding);
    }
  }
  for (const CheckedFile& file : checked) {
    const std::string key = TruthKeyOf(file.path);
    for (const DayFileFinding& finding : file.findings) {
      if (shown_kinds.count(finding.kind) != 0) continue;
      bool explained = false;
      for (const TruthEntry* record : by_file[key]) explained |= Explains(*record, finding.kind);
      if (!explained) ++other.false_alarms;
    }
  }
  scores.push_back(other);
  return scores;
}

}  // namespace tly
