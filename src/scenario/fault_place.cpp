#include "scenario/fault_place.h"

#include "counting/day_file_writer.h"
#include "faults/fault_table.h"

namespace tly {
namespace {

// Kind k draws from the stream of quarter kFaultStreamBase - (its stream
// number): far below the day-wide traffic streams (-1, -2) and every real
// quarter hour.
constexpr int32_t kFaultStreamBase = -1000;

}  // namespace

StreamRandom FaultStream(uint32_t seed, uint64_t site, int64_t day, FaultKind kind) {
  return StreamRandom(StreamKey{seed, site, day, kFaultStreamBase - FaultInfo(kind).stream, 0});
}

size_t FileWork::RowOf(int slot) const {
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].slot == slot && !rows[i].copy) return i;
  }
  return rows.size();
}

std::string FileWork::RowLine(size_t index) const {
  return FormatSlotRow(shop_code, rows[index].counts, counts.ChannelCount);
}

size_t FileWork::LineStart(size_t index) const {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) start += lines[i].size() + line_end.size();
  return start;
}

}  // namespace tly
