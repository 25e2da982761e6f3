#ifndef TLY_FAULTS_FAULT_RECORD_H_
#define TLY_FAULTS_FAULT_RECORD_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "faults/fault_kind.h"

// The ground truth of one planted fault, as one line of OUT/faults.jsonl:
// which file, what kind, where, and the true values where the file holds
// others. Quarter hours are those of the day's clean rows (hh * 4 + mm / 15
// of the time a row would show without faults), 0 to 95.

namespace tly {

// One count the fault changed: its clean value and what the file holds
// (nothing when the row is not in the file).
struct FaultValue {
  int quarter = 0;
  int channel = 0;  // from 1, as count field n and the header's "#Cn"
  int64_t true_value = 0;
  std::optional<int64_t> written;
};

// One planted fault: where it is and what it changed.
struct FaultRecord {
  std::string site;
  std::string file;  // "<site>/<yymmdd>.tly", relative to the output directory
  FaultKind kind = FaultKind::kOutage;
  std::optional<int> first_quarter;  // none for faults of the whole file
  std::optional<int> last_quarter;
  std::vector<int> channels;       // the channels it concerns, ascending
  std::vector<FaultValue> values;  // by quarter, then channel
  // The file's "#S" is the SHA-1 of its rows as a reader reads them; none
  // when there is no file or no seal line in it.
  std::optional<bool> seal_matches = true;
  std::optional<int> line;           // the file's line it concerns (from 1)
  std::optional<int> shift_minutes;  // clock_skew: written time minus true time
  std::optional<int> shift_days;     // wrong_date_name: the rows' date minus the file's day
  std::optional<int> door;           // swapped_door: the door's number in the header
  std::optional<std::string>
      text;  // missing_header_line: the line left out; stray_byte: the bytes, in hex
  std::optional<int64_t> kept_bytes;     // truncated: the file's length
  std::optional<int64_t> padding_bytes;  // nul_padding: the NULs after the last line end
  // Set, the record is none of a fault but of the passages the counter missed
  // (kind kMissedPassagesKind; `kind` and the fields above but `channels` are
  // not written): for each of `channels`, the passages missed in each
  // quarter hour 0 to 95.
  std::optional<std::vector<std::vector<uint32_t>>> missed;
};

// The kind of the truth's line of the passages a counter missed: no fault
// kind, as no fault of the file is to be found there.
inline constexpr std::string_view kMissedPassagesKind = "missed_passages";

// `record` as one line of JSON (no line end). Its keys come in a fixed order,
// "file" and "kind" first, so that sorting lines as bytes sorts by file.
std::string FaultRecordJson(const FaultRecord& record);

}  // namespace tly

#endif  // TLY_FAULTS_FAULT_RECORD_H_
