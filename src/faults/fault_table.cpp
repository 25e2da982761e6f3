#include "faults/fault_table.h"

#include <algorithm>
#include <array>

namespace tly {
namespace {

using F = FindingKind;

constexpr std::span<const F> kShowsMissingDayFindings{};
constexpr F kShowsEmpty[] = {F::kEmptyFile};
constexpr F kShowsCut[] = {F::kTruncated,         F::kBadRow,       F::kFieldCount, F::kShopCode,
                           F::kOutOfOrder,        F::kDuplicateRow, F::kWrongDate,  F::kStrayByte,
                           F::kNegativeOccupancy, F::kBadSeal};
constexpr F kShowsPadding[] = {F::kTruncated, F::kStrayByte, F::kBadRow, F::kFieldCount,
                               F::kBadSeal};
constexpr F kShowsOccupancy[] = {F::kNegativeOccupancy};
constexpr F kShowsWrap[] = {F::kNegativeCount, F::kNegativeOccupancy};
constexpr F kShowsSkew[] = {F::kOutOfOrder, F::kDuplicateRow};
constexpr F kShowsRepeat[] = {F::kDuplicateRow, F::kNegativeOccupancy};
constexpr F kShowsDate[] = {F::kWrongDate};
constexpr F kShowsStray[] = {F::kStrayByte, F::kBadRow, F::kNegativeOccupancy, F::kBadSeal};
constexpr F kShowsSeal[] = {F::kBadSeal, F::kNegativeOccupancy};
constexpr F kShowsHeaderLine[] = {F::kMissingHeaderLine, F::kNegativeOccupancy};
constexpr F kShowsLf[] = {F::kLfLineEnds};

constexpr std::array<FaultKindInfo, kFaultKindCount> kTable = {{
    {FaultKind::kMissingDay, "missing_day", 7, FaultPhase::kDay, "the day's file is never written",
     "no file for the day (`--existing replace` removes an old one)", kShowsMissingDayFindings,
     std::nullopt},
    {FaultKind::kOfflineDays, "offline_days", 17, FaultPhase::kDay,
     "the device off for 1 to 7 days from a moment on",
     "the device off from a moment for 1 to 7 days: no rows from then to the end of the first "
     "day, no file for the days between, no rows up to that moment on the last day",
     kShowsOccupancy, std::nullopt},
    {FaultKind::kFleetOutage, "fleet_outage", 18, FaultPhase::kDay,
     "the network down 1 to 8 hours of a day at every site it draws",
     "no rows for the quarter hours of one span of 4 to 32 quarter hours (UTC) of a day, the same "
     "span at every site whose rate draws that day",
     kShowsOccupancy, std::nullopt},
    {FaultKind::kEmptyFile, "empty_file", 13, FaultPhase::kSealed,
     "the file is written with no bytes at all", "a file of 0 bytes", kShowsEmpty, F::kEmptyFile},
    {FaultKind::kTruncated, "truncated", 12, FaultPhase::kSealed,
     "the file cut short inside a data row (an interrupted transfer)",
     "the file cut short inside a data row, the rows after it gone; the cut row, without its "
     "line end, is the last line",
     kShowsCut, F::kTruncated},
    {FaultKind::kNulPadding, "nul_padding", 14, FaultPhase::kSealed,
     "NUL bytes after the last line (a device that lost power)",
     "the file followed by NUL bytes up to the next multiple of 4096 bytes (at least one): a "
     "last line of NULs without a line end",
     kShowsPadding, std::nullopt},
    {FaultKind::kOutage, "outage", 0, FaultPhase::kCounts,
     "no rows for 2 to 16 quarter hours: the device was off",
     "no rows for a span of 2 to 16 quarter hours holding a row: the device was off",
     kShowsOccupancy, std::nullopt},
    {FaultKind::kStuckChannel, "stuck_channel", 1, FaultPhase::kCounts,
     "one channel writes 0 for 4 to 32 quarter hours",
     "one channel writes 0 for 4 to 32 quarter hours, one of them with a count, while the others "
     "count on",
     kShowsOccupancy, std::nullopt},
    {FaultKind::kSpike, "spike", 2, FaultPhase::kCounts,
     "one quarter hour of one channel 10 to 20 times too high",
     "one quarter hour of one channel written (count + 10) × 10 to 20", kShowsOccupancy,
     std::nullopt},
    {FaultKind::kSwappedDoor, "swapped_door", 3, FaultPhase::kCounts,
     "a door's entry and exit counts exchanged for 4 to 32 quarter hours",
     "a door's entry and exit counts exchanged for 4 to 32 quarter hours, in one of which they "
     "differ",
     kShowsOccupancy, F::kNegativeOccupancy},
    {FaultKind::kCounterReset, "counter_reset", 4, FaultPhase::kCounts,
     "a quarter hour's counts restart low: the device rebooted in it",
     "the device rebooted within a quarter hour with counts: each count of it is what came "
     "after, a share below half",
     kShowsOccupancy, std::nullopt},
    {FaultKind::kCounterWrap, "counter_wrap", 15, FaultPhase::kCounts,
     "one count written as count - 65536: its counter wrapped",
     "one count of one quarter hour written as count − 65536: a 16-bit counter that wrapped",
     kShowsWrap, F::kNegativeCount},
    {FaultKind::kClockSkew, "clock_skew", 5, FaultPhase::kRows,
     "2 to 12 rows stamped 15 to 60 minutes early or late",
     "2 to 12 rows in a row stamped 15, 30, 45 or 60 minutes early or late, on quarter hours the "
     "day has",
     kShowsSkew, F::kOutOfOrder},
    {FaultKind::kDuplicateRow, "duplicate_row", 6, FaultPhase::kRows, "a row written twice",
     "a row written twice, one after the other", kShowsRepeat, F::kDuplicateRow},
    {FaultKind::kWrongDateName, "wrong_date_name", 16, FaultPhase::kRows,
     "every row dated a day off the file's name (a clock a day off)",
     "every row dated the day before or the day after the day the file is named for", kShowsDate,
     F::kWrongDate},
    {FaultKind::kStrayByte, "stray_byte", 9, FaultPhase::kSealed,
     "a count's blank written as the UTF-8 no-break space C2 A0",
     "the blank before one count written as the UTF-8 no-break space C2 A0: a byte outside "
     "printable ASCII where the format has ASCII only",
     kShowsStray, F::kStrayByte},
    {FaultKind::kBadSeal, "bad_seal", 8, FaultPhase::kSealed, "a count edited after sealing",
     "one count raised by 1 to 9 after sealing: the seal no longer matches", kShowsSeal,
     F::kBadSeal},
    {FaultKind::kMissingHeaderLine, "missing_header_line", 10, FaultPhase::kSealed,
     "one of #M, #R, #K, #F or a #D/#C line before the last left out",
     "one of `#M`, `#R`, `#K`, `#F`, or a `#D`/`#C` line followed by another of its kind, left "
     "out",
     kShowsHeaderLine, F::kMissingHeaderLine},
    {FaultKind::kLfLineEnds, "lf_line_ends", 11, FaultPhase::kSealed,
     "LF instead of CR LF (a text-mode transfer)",
     "every CR LF turned into LF (a text-mode transfer)", kShowsLf, F::kLfLineEnds},
}};

constexpr bool EveryKindHasItsEntry() {
  for (size_t i = 0; i < kTable.size(); ++i) {
    if (static_cast<size_t>(kTable[i].kind) != i) return false;
    for (size_t j = 0; j < i; ++j) {
      if (kTable[j].stream == kTable[i].stream || kTable[j].name == kTable[i].name) return false;
    }
  }
  return true;
}
static_assert(EveryKindHasItsEntry(),
              "one entry per FaultKind, in its order, with a name and a stream of its own");

}  // namespace

std::span<const FaultKindInfo> FaultTable() {
  return kTable;
}

const FaultKindInfo& FaultInfo(FaultKind kind) {
  return kTable[static_cast<size_t>(kind)];
}

std::string_view FaultKindName(FaultKind kind) {
  return FaultInfo(kind).name;
}

std::optional<FaultKind> FaultKindOfName(std::string_view name) {
  for (const FaultKindInfo& info : kTable) {
    if (info.name == name) return info.kind;
  }
  return std::nullopt;
}

bool FaultRates::Any() const {
  return passages_missed ||
         std::any_of(rate.begin(), rate.end(), [](double value) { return value > 0; });
}

std::string_view FaultPhaseName(FaultPhase phase) {
  switch (phase) {
    case FaultPhase::kDay:
      return "day";
    case FaultPhase::kCounts:
      return "counts";
    case FaultPhase::kRows:
      return "rows";
    case FaultPhase::kSealed:
      return "sealed file";
  }
  return "";
}

std::string FaultTableMarkdown() {
  std::string text =
      "| kind | strikes | what the file shows | verify's findings it explains |\n"
      "|---|---|---|---|\n";
  for (const FaultKindInfo& info : kTable) {
    std::string findings;
    for (const FindingKind finding : info.findings) {
      findings += (findings.empty() ? "`" : ", `") + std::string(FindingKindName(finding)) + "`";
    }
    text += "| `" + std::string(info.name) + "` | " + std::string(FaultPhaseName(info.phase)) +
            " | " + std::string(info.shows) + " | " + (findings.empty() ? "none" : findings) +
            " |\n";
  }
  return text;
}

std::string FaultRatesExample() {
  std::string text = "[faults]\n";
  for (const FaultKindInfo& info : kTable) {
    std::string line = std::string(info.name) + " = 0";
    line.resize(std::max<size_t>(line.size() + 1, 25), ' ');
    text += line + "# " + std::string(info.bounds) + "\n";
  }
  return text;
}

}  // namespace tly
