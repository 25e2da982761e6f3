// The hexadecimal format on arbitrary bytes: decoding and the validity test
// agree with a straightforward reading of the format, never touch memory
// outside their input, and whatever is encoded decodes back unchanged.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cipher/cipher_fmt.h"
#include "cipher/cipher_util.h"
#include "fuzz_check.h"

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
// Characters the validity test accepts besides the digits and the markers.
constexpr char kOthers[] = " abcdefhHx()[]{},;:-_/\\*+\"'\t\n\r";

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// nullopt when decoding must fail.
std::optional<std::string> ReferenceDecode(std::string_view text) {
  std::string bytes;
  bool marker_seen = false;
  int pending = -1;
  for (char c : text) {
    if (c == 'X' || c == '$') {
      if (!marker_seen) {
        marker_seen = true;
        bytes.clear();
        pending = -1;
      }
      continue;
    }
    const int value = DigitValue(c);
    if (value < 0) return std::nullopt;
    if (pending < 0) {
      pending = value;
    } else {
      bytes.push_back(static_cast<char>(pending * 16 + value));
      pending = -1;
    }
  }
  return bytes;
}

bool ReferenceValid(std::string_view text) {
  for (char c : text) {
    if (c == '\0') return false;
    if (std::strchr(kDigits, c) == nullptr && c != 'X' && c != '$' &&
        std::strchr(kOthers, c) == nullptr) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const tly::TFormat_HEX::Meta* hex = tly::TFormat_HEX::Class();
  // A copy of exactly `size` bytes on the heap, so that a read past its end
  // is reported.
  auto input = std::make_unique<char[]>(size == 0 ? 1 : size);
  if (size > 0) std::memcpy(input.get(), data, size);
  const std::string_view text(input.get(), size);
  const auto length = static_cast<int32_t>(size);

  const std::optional<std::string> expected = ReferenceDecode(text);
  try {
    const std::string decoded = hex->DecodeText(input.get(), length);
    FUZZ_REQUIRE(expected.has_value());
    FUZZ_REQUIRE(decoded == *expected);
  } catch (const tly::ECipherException& error) {
    FUZZ_REQUIRE(!expected.has_value());
    FUZZ_REQUIRE(std::string(error.what()) == "Input is not an valid HEX Format.");
  }
  FUZZ_REQUIRE(hex->IsValidText(input.get(), length) == ReferenceValid(text));
  // Every text the decoder takes is one the validity test accepts.
  FUZZ_REQUIRE(!expected.has_value() || ReferenceValid(text));

  const std::string encoded = hex->EncodeBytes(input.get(), length);
  FUZZ_REQUIRE(encoded.size() == 2 * size);
  FUZZ_REQUIRE(encoded.find_first_not_of(kDigits) == std::string::npos);
  FUZZ_REQUIRE(hex->DecodeText(encoded.data(), static_cast<int32_t>(encoded.size())) == text);
  FUZZ_REQUIRE(hex->IsValidText(encoded.data(), static_cast<int32_t>(encoded.size())));

  // No size, or a negative one, reads nothing.
  FUZZ_REQUIRE(hex->DecodeText(nullptr, -length).empty());
  FUZZ_REQUIRE(hex->EncodeBytes(nullptr, -length).empty());
  FUZZ_REQUIRE(hex->IsValidText(nullptr, -length));
  return 0;
}
