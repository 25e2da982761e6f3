#include "cipher/cipher_fmt.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cipher/cipher_hash.h"

namespace tly {
namespace {

std::string Encode(TCipherFormatClass format, std::string_view bytes) {
  return format->EncodeBytes(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

std::string Decode(TCipherFormatClass format, std::string_view text) {
  return format->DecodeText(text.data(), static_cast<std::int32_t>(text.size()));
}

bool Valid(TCipherFormatClass format, std::string_view text) {
  return format->IsValidText(text.data(), static_cast<std::int32_t>(text.size()));
}

// The message a failed decode raised, or "no error".
std::string DecodeError(TCipherFormatClass format, std::string_view text) {
  try {
    Decode(format, text);
  } catch (const ECipherException& e) {
    return e.what();
  }
  return "no error";
}

// A hexadecimal format with lower-case digits, which accepts nothing but its
// digits and the two markers. Its descriptor is a static object that is never
// deleted, as the library's are (cipher_fmt.h).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class TFormat_HEX_Lower : public TFormat_HEX {
 public:
  class Meta : public TFormat_HEX::Meta {
   public:
    using TFormat_HEX::Meta::Meta;
    const char* Alphabet() const override { return "0123456789abcdefX$"; }
  };

  static const Meta* Class() {
    static const Meta kMeta("TFormat_HEX_Lower", TFormat_HEX::Class(), sizeof(TFormat_HEX_Lower),
                            &NewInstance<TFormat_HEX_Lower>);
    return &kMeta;
  }
  const Meta* ClassType() const override { return Class(); }
};
#pragma GCC diagnostic pop

const TCipherFormatClass kHex = TFormat_HEX::Class();

TEST(CipherHexFormatTest, EncodesHighNibbleFirstInCapitalsAndRoundTrips) {
  EXPECT_EQ(Encode(kHex, std::string_view("\x00\xAB\xFF", 3)), "00ABFF");
  EXPECT_EQ(Encode(kHex, ""), "");
  EXPECT_EQ(kHex->EncodeBytes(nullptr, -1), "");

  std::string all_bytes;
  for (int i = 0; i < 256; ++i) all_bytes.push_back(static_cast<char>(i));
  const std::string text = Encode(kHex, all_bytes);
  EXPECT_EQ(text.size(), 512u);
  EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(Decode(kHex, text), all_bytes);
}

TEST(CipherHexFormatTest, DecodesEitherCaseAndDropsAnOddLastDigit) {
  EXPECT_EQ(Decode(kHex, "ab"), "\xAB");
  EXPECT_EQ(Decode(kHex, "AB"), "\xAB");
  EXPECT_EQ(Decode(kHex, "ABC"), "\xAB");
  EXPECT_EQ(Decode(kHex, "7"), "");
  EXPECT_EQ(Decode(kHex, "00fF10"), std::string("\x00\xFF\x10", 3));
  EXPECT_EQ(kHex->DecodeText(nullptr, 0), "");
}

TEST(CipherHexFormatTest, OnlyTheFirstPrefixMarkerRestartsTheNumber) {
  EXPECT_EQ(Decode(kHex, "$1F"), "\x1F");
  EXPECT_EQ(Decode(kHex, "0X1F"), "\x1F");
  EXPECT_EQ(Decode(kHex, "1F$20"), "\x20");
  EXPECT_EQ(Decode(kHex, "$1F$20"), "\x1F\x20");
  EXPECT_EQ(Decode(kHex, "ABCD$"), "");
}

TEST(CipherHexFormatTest, DecodingRejectsSeparatorsThatTheValidityTestAccepts) {
  for (std::string_view text : {"0x1F", "12 34", "1F,20", "1F\r\n", "{1F}"}) {
    EXPECT_TRUE(Valid(kHex, text)) << text;
    EXPECT_EQ(DecodeError(kHex, text), "Input is not an valid HEX Format.") << text;
  }
  const std::string_view foreign[] = {"1G", "g", std::string_view("1F\0", 3), "1F\x80"};
  for (std::string_view text : foreign) {
    EXPECT_FALSE(Valid(kHex, text)) << text;
    EXPECT_EQ(DecodeError(kHex, text), "Input is not an valid HEX Format.") << text;
  }
  EXPECT_TRUE(Valid(kHex, ""));
  EXPECT_TRUE(kHex->IsValidText(nullptr, -1));
}

TEST(CipherHexFormatTest, DerivedFormatSuppliesItsOwnAlphabet) {
  const TCipherFormatClass lower = TFormat_HEX_Lower::Class();
  EXPECT_EQ(Encode(lower, std::string_view("\x00\xAB\xFF", 3)), "00abff");
  EXPECT_EQ(Decode(lower, "$ab"), "\xAB");
  EXPECT_EQ(DecodeError(lower, "AB"), "Input is not an valid HEX_Lower Format.");
  EXPECT_TRUE(Valid(lower, "ab$"));
  EXPECT_FALSE(Valid(lower, "AB"));
  EXPECT_FALSE(Valid(lower, "a b"));
  EXPECT_EQ(HashString(TCipherHashAlg2::Class(), "abc", lower),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(CipherCopyFormatTest, CopiesEveryByteAndIsTheDefault) {
  const TCipherFormatClass copy = TFormat_Copy::Class();
  const std::string raw("a\0b\xFF", 4);
  EXPECT_EQ(Encode(copy, raw), raw);
  EXPECT_EQ(Decode(copy, raw), raw);
  EXPECT_EQ(copy->EncodeBytes(raw.data(), -3), "");
  EXPECT_TRUE(Valid(copy, ""));
  EXPECT_FALSE(copy->IsValidText(raw.data(), -1));

  EXPECT_EQ(ResolveFormat(nullptr), copy);
  EXPECT_EQ(ResolveFormat(kHex), kHex);
  EXPECT_EQ(FormatBytes(nullptr, raw.data(), 4), raw);
  EXPECT_EQ(FormatBytes(kHex, raw.data(), 4), "610062FF");
}

}  // namespace
}  // namespace tly
