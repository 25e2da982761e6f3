#include "dayfile/row_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "support/text_trim.h"

namespace tly {
namespace {

// Longest value "%.<width>d" can give for widths up to 4: a sign and ten digits.
constexpr size_t kMaxDecimalLength = 11;

// Writes `value` at `out` like printf's "%.<width>d" (a minus sign for a
// negative value, then at least `width` digits, zero-filled on the left) and
// returns the position behind it. `out` needs kMaxDecimalLength bytes.
char* PutDecimal(char* out, int32_t value, int width) {
  // The magnitude as unsigned, so that INT32_MIN needs no signed negation.
  const uint32_t magnitude =
      value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  if (value < 0) *out++ = '-';
  char* const digits = out;
  out = std::to_chars(digits, digits + 10, magnitude).ptr;
  const int length = static_cast<int>(out - digits);
  if (length < width) {
    const int padding = width - length;
    std::memmove(digits + padding, digits, static_cast<size_t>(length));
    std::memset(digits, '0', static_cast<size_t>(padding));
    out += padding;
  }
  return out;
}

// Counts below this are looked up instead of converted: a full day has 6,144
// of them per save, and the generator's counts are small.
constexpr uint32_t kTabledCounts = 10000;

// The digits of 0..9999 from the left of four bytes, in memory order.
constexpr std::array<std::array<char, 4>, kTabledCounts> kCountDigits = [] {
  std::array<std::array<char, 4>, kTabledCounts> table{};
  for (uint32_t value = 0; value < kTabledCounts; ++value) {
    char reversed[4];
    int length = 0;
    uint32_t rest = value;
    do {
      reversed[length++] = static_cast<char>('0' + rest % 10);
      rest /= 10;
    } while (rest != 0);
    for (int i = 0; i < length; ++i) table[value][i] = reversed[length - 1 - i];
  }
  return table;
}();

// Writes the count field "\t <value>" at `out` and returns the position
// behind it. `out` needs 13 bytes, of which only the field's own are
// meaningful. The length of a tabled count is computed rather than looked
// up, so that where the next field goes never waits for the table.
char* PutCountField(char* out, int32_t value) {
  out[0] = '\t';
  out[1] = ' ';
  const uint32_t tabled = static_cast<uint32_t>(value);
  if (tabled >= kTabledCounts) return PutDecimal(out + 2, value, 1);
  std::memcpy(out + 2, kCountDigits[tabled].data(), 4);
  return out + 3 + (tabled >= 10) + (tabled >= 100) + (tabled >= 1000);
}

}  // namespace

size_t MaxRowLength(std::string_view shop_code, int32_t counts) {
  // The shop code, "\tdd/mm/yyyy\thh:nn" with each stamp at its longest, then
  // "\t -2147483648" per count.
  return shop_code.size() + 5 * (kMaxDecimalLength + 1) +
         static_cast<size_t>(counts) * (kMaxDecimalLength + 2);
}

char* PutRow(char* out, std::string_view shop_code, const RowStamp& stamp, const int32_t* counts,
             int32_t n) {
  out = std::copy(shop_code.begin(), shop_code.end(), out);
  *out++ = '\t';
  out = PutDecimal(out, stamp.Day, 2);
  *out++ = '/';
  out = PutDecimal(out, stamp.Month, 2);
  *out++ = '/';
  out = PutDecimal(out, stamp.Year, 4);
  *out++ = '\t';
  out = PutDecimal(out, stamp.Hour, 2);
  *out++ = ':';
  out = PutDecimal(out, stamp.Minute, 2);
  for (int32_t j = 0; j < n; ++j) out = PutCountField(out, counts[j]);
  return out;
}

std::string ExtractField(std::string_view line, char delimiter, int32_t n) {
  if (n < 0) return {};
  for (int32_t i = 0; i < n; ++i) {
    const size_t next = line.find(delimiter);
    if (next == std::string_view::npos) return {};
    line.remove_prefix(next + 1);
  }
  return std::string(line.substr(0, line.find(delimiter)).substr(0, kMaxFieldLength));
}

std::string_view FieldReader::Next() {
  if (exhausted_) return {};
  const size_t end = rest_.find(kFieldDelimiter);
  std::string_view field = rest_.substr(0, end);
  if (end == std::string_view::npos) {
    exhausted_ = true;
  } else {
    rest_.remove_prefix(end + 1);
  }
  return field.substr(0, kMaxFieldLength);
}

bool ParseFieldInteger(std::string_view text, int32_t& value) {
  text = TrimBlanksAndControls(text);
  // from_chars takes a '-' but no '+'.
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  const size_t first_digit = !text.empty() && text.front() == '-' ? 1 : 0;
  if (text.size() == first_digit) return false;
  if (!std::all_of(text.begin() + static_cast<std::ptrdiff_t>(first_digit), text.end(),
                   [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  int32_t parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

bool ParseCharsInteger(std::string_view text, size_t first, size_t count, int32_t& value) {
  if (first - 1 >= text.size()) return false;
  return ParseFieldInteger(text.substr(first - 1, count), value);
}

}  // namespace tly
