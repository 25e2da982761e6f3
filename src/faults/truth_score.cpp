#include "faults/truth_score.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "dayfile/line_scanner.h"
#include "dayfile/row_reading.h"
#include "faults/fault_kind.h"
#include "faults/fault_table.h"

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

// Whether `record` accounts for `finding`, raised on a row showing `quarter`:
// a finding its kind may cause; the occupancy falls below zero because of
// a fault of the counts only where the fault has begun.
bool Explains(const TruthEntry& record, FindingKind finding, int quarter) {
  const std::span<const FindingKind> findings = FaultInfo(record.kind).findings;
  if (std::find(findings.begin(), findings.end(), finding) == findings.end()) return false;
  if (finding == FindingKind::kNegativeOccupancy && record.first_quarter && quarter >= 0) {
    return *record.first_quarter <= quarter;
  }
  return true;
}

}  // namespace

int QuarterShownAt(std::string_view bytes, int line) {
  if (line < 1) return -1;
  LineScanner lines(bytes);
  ScannedLine scanned;
  for (int i = 0; i < line; ++i) {
    if (!lines.Next(scanned)) return -1;
  }
  const std::vector<std::string_view> fields = SplitRowFields(scanned.text);
  // What a row shows is read from the front of its time field.
  return fields.size() < 3 ? -1 : StrictQuarterOf(fields[2].substr(0, 5));
}

std::vector<KindScore> ScoreAgainstTruth(const std::vector<TruthEntry>& truth,
                                         const std::vector<CheckedFile>& checked,
                                         const std::vector<PassageTruth>& passages) {
  std::map<std::string, std::vector<const TruthEntry*>> by_file;
  for (const TruthEntry& record : truth) by_file[record.file].push_back(&record);
  std::set<std::string> miscounted;
  for (const PassageTruth& missed : passages) miscounted.insert(missed.file);

  std::vector<KindScore> scores(kFaultKindCount + 1);
  for (size_t k = 0; k < kFaultKindCount; ++k) {
    scores[k].kind = std::string(FaultKindName(static_cast<FaultKind>(k)));
  }
  KindScore& other = scores.back();
  other.kind = "other";
  std::set<std::string> sites;
  std::set<std::string> read;
  std::set<const TruthEntry*> found;
  for (const CheckedFile& file : checked) {
    const std::string key = TruthKeyOf(file.path);
    sites.insert(SiteOf(key));
    read.insert(key);
    const std::vector<const TruthEntry*>& planted = by_file[key];
    for (const TruthEntry* record : planted) ++scores[static_cast<size_t>(record->kind)].planted;
    // Re-stamped rows show other quarter hours than their own: there the
    // rows' times tell nothing of where a fault began.
    const bool skewed = std::any_of(planted.begin(), planted.end(), [](const TruthEntry* record) {
      return record->kind == FaultKind::kClockSkew;
    });
    std::set<KindScore*> alarmed;
    for (size_t f = 0; f < file.findings.size(); ++f) {
      const FindingKind finding = file.findings[f].kind;
      const int quarter = !skewed && f < file.quarters.size() ? file.quarters[f] : -1;
      bool explained = false;
      for (const TruthEntry* record : planted) {
        if (Explains(*record, finding, quarter)) {
          explained = true;
          found.insert(record);
        }
      }
      if (explained || (finding == FindingKind::kNegativeOccupancy && miscounted.count(key) != 0)) {
        continue;
      }
      KindScore* named = &other;
      for (const FaultKindInfo& info : FaultTable()) {
        if (info.named == finding) named = &scores[static_cast<size_t>(info.kind)];
      }
      alarmed.insert(named);
    }
    for (KindScore* score : alarmed) ++score->false_alarms;
  }
  // A day without a file counts where its site's files were read.
  for (const TruthEntry& record : truth) {
    if (record.no_file && read.count(record.file) == 0 && sites.count(SiteOf(record.file)) != 0) {
      ++scores[static_cast<size_t>(record.kind)].planted;
    }
  }
  for (const TruthEntry* record : found) ++scores[static_cast<size_t>(record->kind)].found;
  for (size_t k = 0; k < kFaultKindCount; ++k) {
    if (scores[k].planted > 0) scores[k].seen = scores[k].found > 0;
  }
  return scores;
}

}  // namespace tly
