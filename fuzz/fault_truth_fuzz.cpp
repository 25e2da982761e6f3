// A truth file of arbitrary bytes, as `verify --truth` reads it: it gives
// the faults it lists or a refusal naming the line, never another exception,
// an abort or a hang. Every fault read names a kind, and no more faults come
// out than the text has lines.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "faults/fault_truth_reader.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t lines = 1;
  for (const char c : text) lines += c == '\n' ? 1 : 0;
  try {
    const std::vector<tly::TruthEntry> entries = tly::ParseFaultTruth(text, "faults.jsonl");
    FUZZ_REQUIRE(entries.size() <= lines);
    for (const tly::TruthEntry& entry : entries) {
      FUZZ_REQUIRE(!tly::FaultKindName(entry.kind).empty());
    }
  } catch (const std::invalid_argument& refused) {
    FUZZ_REQUIRE(std::string_view(refused.what()).substr(0, 13) == "faults.jsonl:");
  }
  return 0;
}
