#include "cipher/cipher_fmt.h"

#include <cstring>
#include <type_traits>

namespace tly {

namespace {

// Digits, the prefix markers "X" and "$", and characters that commonly
// separate or decorate hexadecimal text, which IsValidText lets through.
constexpr char kHexAlphabet[] =
    "0123456789ABCDEF"
    "X$"
    " abcdefhHx()[]{},;:-_/\\*+\"'\t\n\r";
static_assert(sizeof(kHexAlphabet) == 48 + 1);

// Descriptors must outlive every object, also during static destruction.
static_assert(std::is_trivially_destructible_v<TFormat_HEX::Meta>);

constexpr std::int32_t kHexDigits = 16;
constexpr std::int32_t kHexDigitsAndMarkers = 18;

std::string CopyBytes(const void* data, std::int32_t size) {
  if (size <= 0) return std::string();
  return std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

[[noreturn]] void ThrowAbstractFormat(const char* operation) {
  throw std::logic_error(std::string("abstract format operation ") + operation);
}

}  // namespace

std::string TCipherFormat::Meta::EncodeBytes(const void*, std::int32_t) const {
  ThrowAbstractFormat("EncodeBytes");
}

std::string TCipherFormat::Meta::DecodeText(const void*, std::int32_t) const {
  ThrowAbstractFormat("DecodeText");
}

bool TCipherFormat::Meta::IsValidText(const void*, std::int32_t) const {
  ThrowAbstractFormat("IsValidText");
}

const TCipherFormat::Meta* TCipherFormat::Class() {
  static const Meta kMeta("TCipherFormat", TCipherObject::Class(), sizeof(TCipherFormat), nullptr);
  return &kMeta;
}

const TCipherFormat::Meta* TCipherFormat::ClassType() const {
  return Class();
}

std::string TFormat_Copy::Meta::EncodeBytes(const void* data, std::int32_t size) const {
  return CopyBytes(data, size);
}

std::string TFormat_Copy::Meta::DecodeText(const void* data, std::int32_t size) const {
  return CopyBytes(data, size);
}

bool TFormat_Copy::Meta::IsValidText(const void*, std::int32_t size) const {
  return size >= 0;
}

const TFormat_Copy::Meta* TFormat_Copy::Class() {
  static const Meta kMeta("TFormat_Copy", TCipherFormat::Class(), sizeof(TFormat_Copy),
                          &NewInstance<TFormat_Copy>);
  return &kMeta;
}

const TFormat_Copy::Meta* TFormat_Copy::ClassType() const {
  return Class();
}

std::string TFormat_HEX::Meta::EncodeBytes(const void* data, std::int32_t size) const {
  if (size <= 0) return std::string();
  const char* alphabet = Alphabet();
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string text(2 * static_cast<std::size_t>(size), '\0');
  for (std::size_t i = 0; i < static_cast<std::size_t>(size); ++i) {
    text[2 * i] = alphabet[bytes[i] >> 4];
    text[2 * i + 1] = alphabet[bytes[i] & 0x0F];
  }
  return text;
}

std::string TFormat_HEX::Meta::DecodeText(const void* data, std::int32_t size) const {
  if (size <= 0) return std::string();
  const char* alphabet = Alphabet();
  const char* text = static_cast<const char*>(data);
  std::string result(static_cast<std::size_t>(size) / 2 + 1, '\0');
  std::size_t written = 0;
  std::int32_t digits = 0;
  bool marker_seen = false;
  for (std::int32_t i = 0; i < size; ++i) {
    const char c = text[i];
    std::int32_t p = IndexInTable(c, alphabet, kHexDigitsAndMarkers);
    if (p < 0 && c >= 'a' && c <= 'z') {
      p = IndexInTable(static_cast<char>(c - 'a' + 'A'), alphabet, kHexDigits);
    }
    if (p < 0) {
      std::string message = kMsgInvalidFormat;
      message.replace(message.find("%s"), 2, ClassNameTail(this));
      throw ECipherException(message);
    }
    if (p >= kHexDigits) {
      // Only the first marker counts: it starts the number afresh.
      if (!marker_seen) {
        marker_seen = true;
        digits = 0;
        written = 0;
      }
      continue;
    }
    if (digits % 2 == 0) {
      result[written] = static_cast<char>(p << 4);
    } else {
      result[written] = static_cast<char>(result[written] | p);
      ++written;
    }
    ++digits;
  }
  result.resize(written);
  return result;
}

bool TFormat_HEX::Meta::IsValidText(const void* data, std::int32_t size) const {
  const char* alphabet = Alphabet();
  const auto table_size = static_cast<std::int32_t>(std::strlen(alphabet));
  const char* text = static_cast<const char*>(data);
  for (std::int32_t i = 0; i < size; ++i) {
    if (IndexInTable(text[i], alphabet, table_size) < 0) return false;
  }
  return true;
}

const char* TFormat_HEX::Meta::Alphabet() const {
  return kHexAlphabet;
}

const TFormat_HEX::Meta* TFormat_HEX::Class() {
  static const Meta kMeta("TFormat_HEX", TCipherFormat::Class(), sizeof(TFormat_HEX),
                          &NewInstance<TFormat_HEX>);
  return &kMeta;
}

const TFormat_HEX::Meta* TFormat_HEX::ClassType() const {
  return Class();
}

TCipherFormatClass ResolveFormat(TCipherFormatClass format) {
  return format != nullptr ? format : TFormat_Copy::Class();
}

std::string FormatBytes(TCipherFormatClass format, const void* data, std::int32_t size) {
  return ResolveFormat(format)->EncodeBytes(data, size);
}

std::int32_t IndexInTable(char c, const char* table, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) {
    if (table[i] == c) return i;
  }
  return -1;
}

}  // namespace tly
