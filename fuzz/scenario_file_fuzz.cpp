// The scenario file reader on arbitrary bytes: every input gives a checked
// scenario or a refusal that names the file and a line of it, never another
// exception, an abort or a hang.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dayfile/day_file_lines.h"
#include "fuzz_check.h"
#include "scenario/scenario_file.h"

namespace {

constexpr std::string_view kSource = "fuzz.toml";

// Whether `message` reads "fuzz.toml:<line>: <what>" with a line of `text`.
bool NamesFileAndLine(std::string_view message, std::string_view text) {
  if (message.substr(0, kSource.size() + 1) != std::string(kSource) + ":") return false;
  message.remove_prefix(kSource.size() + 1);
  size_t digits = 0;
  uint64_t line = 0;
  while (digits < message.size() && digits < 12 && message[digits] >= '0' &&
         message[digits] <= '9') {
    line = line * 10 + static_cast<uint64_t>(message[digits] - '0');
    ++digits;
  }
  uint64_t lines = 1;
  for (const char c : text) lines += c == '\n' ? 1 : 0;
  return digits > 0 && line >= 1 && line <= lines && message.substr(digits, 2) == ": " &&
         message.size() > digits + 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const tly::Scenario scenario = tly::ParseScenario(text, std::string(kSource));
    FUZZ_REQUIRE(!scenario.sites.empty());
    for (const tly::SiteSettings& site : scenario.sites) {
      FUZZ_REQUIRE(!site.name.empty() && !site.doors.empty() && site.ChannelCount() >= 1);
      // Its rows must be data rows to a reader.
      FUZZ_REQUIRE(tly::IsDataLine(site.shop_code + "\t01/01/2027\t00:00\t 0"));
    }
  } catch (const tly::ScenarioError& error) {
    FUZZ_REQUIRE(NamesFileAndLine(error.what(), text));
  }
  return 0;
}
