// ExtractField and DateFromFileName on arbitrary text. Input: the delimiter,
// the field number (a signed byte), then the text, which also serves as a
// file path.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "counting/day_file_loader.h"
#include "dayfile/day_file_name.h"
#include "fuzz_check.h"
#include "support/date_time.h"

namespace {

// The field by plain splitting, as the loader's rows are meant to be read.
std::string SplitField(std::string_view line, char delimiter, int32_t n) {
  if (n < 0) return "";
  int32_t field = 0;
  size_t start = 0;
  while (field < n) {
    const size_t next = line.find(delimiter, start);
    if (next == std::string_view::npos) return "";
    start = next + 1;
    ++field;
  }
  const size_t end = line.find(delimiter, start);
  std::string_view text = line.substr(start, end == std::string_view::npos ? end : end - start);
  return std::string(text.substr(0, 255));
}

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// The date of a name of six or eight digits, or kNoDate.
tly::TDateTime DigitNameDate(std::string_view name) {
  int year = 0;
  int month = 0;
  int day = 0;
  if (name.size() == 8) {
    year = Number(name.substr(0, 4));
    month = Number(name.substr(4, 2));
    day = Number(name.substr(6, 2));
  } else {
    const int yy = Number(name.substr(0, 2));
    year = yy > 90 ? 1900 + yy : 2000 + yy;
    month = Number(name.substr(2, 2));
    day = Number(name.substr(4, 2));
  }
  tly::TDateTime date = tly::kNoDate;
  if (!tly::TryEncodeDate(year, month, day, date)) return tly::kNoDate;
  return date;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const char delimiter = static_cast<char>(data[0]);
  const int32_t n = static_cast<int8_t>(data[1]);
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

  const std::string field = tly::ExtractField(text, delimiter, n);
  FUZZ_REQUIRE(field == SplitField(text, delimiter, n));

  const tly::TDateTime date = tly::DateFromFileName(text);
  std::string_view name = text.substr(text.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  if ((name.size() == 6 || name.size() == 8) && AllDigits(name)) {
    FUZZ_REQUIRE(date == DigitNameDate(name));
  } else if (name.size() != 6 && name.size() != 8) {
    FUZZ_REQUIRE(date == tly::kNoDate);
  } else if (date != tly::kNoDate) {
    // Some other spelling of the numbers was accepted: it must still be a
    // whole, valid day.
    const tly::CivilDate civil = tly::DecodeDate(date);
    FUZZ_REQUIRE(date == tly::DatePart(date));
    FUZZ_REQUIRE(tly::IsValidDate(civil.Year, civil.Month, civil.Day));
  }
  return 0;
}
