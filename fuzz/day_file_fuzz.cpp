// A day file of arbitrary bytes is checked (CheckDayFile, InspectDayFile), read
// (ReadDataLines), loaded (LoadDayFile) and saved again the way the generator
// saves (WriteDayRows, then SetHeaderToFile). The saved file must be sound,
// its seal must cover its rows, and loading it again must give what the first
// load gave.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cipher/cipher_fmt.h"
#include "cipher/cipher_hash.h"
#include "config/tly_config.h"
#include "counting/day_counts.h"
#include "counting/day_file_loader.h"
#include "counting/day_file_writer.h"
#include "dayfile/day_file_check.h"
#include "dayfile/day_file_findings.h"
#include "fuzz_check.h"
#include "support/date_time.h"

namespace {

std::string g_dir;

void RemoveWorkDir() {
  std::error_code ignored;
  std::filesystem::remove_all(g_dir, ignored);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  FUZZ_REQUIRE(out.good());
}

// The fields of a day record that its file carries.
void RequireSameDay(const tly::DayCounts& first, const tly::DayCounts& second) {
  FUZZ_REQUIRE(first.ChannelCount == second.ChannelCount);
  FUZZ_REQUIRE(first.FirstSlot == second.FirstSlot);
  FUZZ_REQUIRE(first.LastSlot == second.LastSlot);
  FUZZ_REQUIRE(std::memcmp(first.SlotUsed, second.SlotUsed, sizeof first.SlotUsed) == 0);
  for (int s = 0; s < tly::kSlotsPerDay; ++s) {
    FUZZ_REQUIRE(std::memcmp(first.Slots[s].Counts, second.Slots[s].Counts,
                             sizeof first.Slots[s].Counts) == 0);
  }
  // Only rows carry a date; a day without rows is dated by the file name.
  if (first.LastSlot >= 0) FUZZ_REQUIRE(first.Date == second.Date);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = "/tmp/tly-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  g_dir = pattern;
  std::atexit(RemoveWorkDir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The verifier takes any bytes, and the strict reading finds a problem
  // wherever the check does.
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const bool checked_ok = tly::CheckDayFile(bytes).ok;
  const std::vector<tly::DayFileFinding> findings =
      tly::InspectDayFile(bytes, tly::EncodeDate(2026, 12, 7));
  FUZZ_REQUIRE(checked_ok || !findings.empty());
  for (const tly::DayFileFinding& finding : findings) {
    FUZZ_REQUIRE(finding.line >= 0 && !finding.problem.empty());
  }

  const std::string path = g_dir + "/261207.tly";
  WriteAll(path, data, size);

  tly::TTlyConfig config;
  std::vector<std::string> lines;
  config.ReadDataLines(path, lines);
  for (const std::string& line : lines) {
    FUZZ_REQUIRE(line.size() >= 2 && line[0] != '#');
    FUZZ_REQUIRE(line.find('\n') == std::string::npos);
    FUZZ_REQUIRE(line.find("Magasin") == std::string::npos);
    FUZZ_REQUIRE(line.find("CNL") == std::string::npos);
  }

  tly::DayCounts first;
  std::memset(&first, 0x5A, sizeof first);  // the loader must set every field
  tly::LoadDayFile(path, first);
  FUZZ_REQUIRE(first.ChannelCount >= 0 && first.ChannelCount <= tly::kMaxChannels);
  FUZZ_REQUIRE(first.LastSlot >= -1 && first.LastSlot < tly::kSlotsPerDay);

  tly::WriteDayRows(first, path, "001", tly::EncodeTime(1, 0, 0, 0), 0.0, 0);
  const std::string rows = ReadAll(path);
  config.SetHeaderToFile(path);
  const std::string sealed = ReadAll(path);
  FUZZ_REQUIRE(!std::filesystem::exists(g_dir + "/261207.tmp"));

  const tly::DayFileCheck check = tly::CheckDayFile(sealed);
  if (!check.ok) std::fprintf(stderr, "unsound saved file: %s\n", check.problem.c_str());
  FUZZ_REQUIRE(check.ok);
  FUZZ_REQUIRE(sealed.size() >= rows.size() &&
               sealed.compare(sealed.size() - rows.size(), rows.size(), rows) == 0);
  FUZZ_REQUIRE(config.Seal == (rows.empty() ? std::string()
                                            : tly::HashString(tly::TCipherHashAlg2::Class(), rows,
                                                              tly::TFormat_HEX::Class())));

  tly::DayCounts second;
  std::memset(&second, 0xA5, sizeof second);
  tly::LoadDayFile(path, second);
  RequireSameDay(first, second);
  return 0;
}
