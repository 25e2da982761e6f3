#include "cipher/cipher_hash.h"

// The low-level SHA-1 calls let a test compress a hand-made final block.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <string_view>

#include "port/accelerated.h"

namespace tly {
namespace {

constexpr char kFipsMessage[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

// SHA-1 by OpenSSL, in upper-case hexadecimal made without our formats.
std::string ReferenceSha1(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha1(), nullptr), 1);
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", digest[i]);
    text += pair;
  }
  return text;
}

std::string Sha1Hex(std::string_view text) {
  return HashString(TCipherHashAlg2::Class(), text, TFormat_HEX::Class());
}

std::string RandomBytes(std::mt19937& rng, std::size_t length) {
  std::string bytes(length, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

// Feeds `data` to `hash` in random pieces: empty ones, ones that end on a
// block border and ones of up to three blocks.
void FeedInPieces(TCipherHash& hash, std::string_view data, std::mt19937& rng) {
  std::size_t pos = 0;
  while (pos < data.size()) {
    std::size_t piece = 0;
    switch (rng() % 4) {
      case 0:
        piece = 0;
        break;
      case 1:
        piece = 64 - pos % 64;
        break;
      default:
        piece = rng() % 200;
        break;
    }
    piece = std::min(piece, data.size() - pos);
    hash.Feed(data.data() + pos, static_cast<std::int32_t>(piece));
    pos += piece;
  }
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ECipherException& e) {
    return e.what();
  }
  return "no error";
}

// Runs a test once with the portable compression and once with the
// processor's SHA instructions (skipped when it has none).
class CipherSha1Test : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && AcceleratedSha1Blocks() == nullptr) GTEST_SKIP() << "no SHA instructions";
    SetSha1HardwareEnabled(GetParam());
  }
  void TearDown() override { SetSha1HardwareEnabled(true); }
};

INSTANTIATE_TEST_SUITE_P(Cipher, CipherSha1Test, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "Hardware" : "Portable"; });

TEST_P(CipherSha1Test, StandardMessagesMatchFipsAndOpenSsl) {
  EXPECT_EQ(Sha1Hex(""), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  EXPECT_EQ(Sha1Hex("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(Sha1Hex(kFipsMessage), "84983E441C3BD26EBAAE4AA1F95129E5E54670F1");
  const std::string million_a(1000000, 'a');
  EXPECT_EQ(Sha1Hex(million_a), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
  for (std::string_view text : {std::string_view(""), std::string_view("abc"),
                                std::string_view(kFipsMessage), std::string_view(million_a)}) {
    EXPECT_EQ(Sha1Hex(text), ReferenceSha1(text));
  }
}

TEST_P(CipherSha1Test, RandomTextsInRandomPiecesMatchOpenSsl) {
  std::mt19937 rng(20261208);
  TCipherHashAlg2 hash;
  for (std::size_t length = 0; length <= 300; ++length) {
    const std::string text = RandomBytes(rng, length);
    const std::string expected = ReferenceSha1(text);
    EXPECT_EQ(Sha1Hex(text), expected) << "length " << length;
    hash.Start();
    FeedInPieces(hash, text, rng);
    hash.Finish();
    EXPECT_EQ(hash.DigestText(TFormat_HEX::Class()), expected) << "pieces, length " << length;
  }
}

TEST(CipherSha1HardwareTest, HardwareAndPortableCompressionsAgree) {
  if (AcceleratedSha1Blocks() == nullptr) GTEST_SKIP() << "no SHA instructions";
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    const std::string text = RandomBytes(rng, rng() % 5000);
    SetSha1HardwareEnabled(false);
    const std::string portable = Sha1Hex(text);
    SetSha1HardwareEnabled(true);
    ASSERT_TRUE(Sha1HardwareInUse());
    EXPECT_EQ(Sha1Hex(text), portable) << "length " << text.size();
  }
}

TEST(CipherSha0Test, StandardMessages) {
  for (bool hardware : {false, true}) {
    SetSha1HardwareEnabled(hardware);
    EXPECT_EQ(HashString(TCipherHashAlg1::Class(), "abc", TFormat_HEX::Class()),
              "0164B8A914CD2A5E74C4F7FF082C4D97F1EDF880");
    EXPECT_EQ(HashString(TCipherHashAlg1::Class(), kFipsMessage, TFormat_HEX::Class()),
              "D2516EE1ACFA5BAF33DFC1C471E438449EF134C8");
  }
  SetSha1HardwareEnabled(true);

  std::mt19937 rng(3);
  TCipherHashAlg1 hash;
  hash.Start();
  FeedInPieces(hash, kFipsMessage, rng);
  hash.Finish();
  EXPECT_EQ(hash.DigestText(TFormat_HEX::Class()), "D2516EE1ACFA5BAF33DFC1C471E438449EF134C8");
}

// Counts the blocks compressed.
class CountingSha1 : public TCipherHashAlg2 {
 public:
  std::size_t blocks = 0;

 protected:
  void CompressBlocks(const std::uint8_t* data, std::size_t count) override {
    blocks += count;
    TCipherHashAlg2::CompressBlocks(data, count);
  }
};

TEST(CipherSha1PaddingTest, LengthFieldNeedsAnExtraBlockFrom56Bytes) {
  CountingSha1 hash;
  for (auto [length, blocks] : {std::pair{55, 1}, {56, 2}, {63, 2}, {64, 2}, {119, 2}, {120, 3}}) {
    const std::string text(static_cast<std::size_t>(length), 'q');
    hash.blocks = 0;
    hash.Start();
    hash.Feed(text.data(), length);
    hash.Finish();
    EXPECT_EQ(hash.blocks, static_cast<std::size_t>(blocks)) << length;
    EXPECT_EQ(hash.DigestText(TFormat_HEX::Class()), ReferenceSha1(text)) << length;
  }
}

TEST(CipherHashObjectTest, FeedAndFinishNeedAnOpenDigest) {
  TCipherHashAlg2 hash;
  hash.Feed("x", 0);
  hash.Feed("x", -4);
  hash.Feed(nullptr, 0);
  EXPECT_EQ(ErrorOf([&] { hash.Feed("x", 1); }), "Hash must be initialized");
  EXPECT_EQ(ErrorOf([&] { hash.Finish(); }), "Hash must be initialized");

  hash.Start();
  hash.Feed("discarded", 9);
  hash.Start();
  hash.Feed("abc", 3);
  hash.Finish();
  EXPECT_EQ(hash.DigestText(TFormat_HEX::Class()), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(ErrorOf([&] { hash.Feed("x", 1); }), "Hash must be initialized");
  EXPECT_EQ(ErrorOf([&] { hash.Finish(); }), "Hash must be initialized");
  hash.Feed("x", 0);

  // After a new Start only the new data counts.
  hash.Start();
  hash.Feed(kFipsMessage, 56);
  hash.Finish();
  EXPECT_EQ(hash.DigestText(nullptr),
            TFormat_HEX::Class()->DecodeText("84983E441C3BD26EBAAE4AA1F95129E5E54670F1", 40));
  EXPECT_EQ(hash.DigestText(nullptr).size(), 20u);
}

TEST(CipherHashObjectTest, PaddingByteZeroMeans0x80AndOthersAreAppendedInstead) {
  TCipherHashAlg2 hash;
  EXPECT_EQ(hash.PaddingByte(), 0);
  hash.Start();
  hash.Feed("abc", 3);
  EXPECT_EQ(hash.PaddingByte(), 0);
  hash.Finish();
  EXPECT_EQ(hash.PaddingByte(), 128);
  EXPECT_EQ(hash.DigestText(TFormat_HEX::Class()), "A9993E364706816ABA3E25717850C26C9CD0D89D");

  hash.SetPaddingByte(0x01);
  hash.Start();
  hash.Feed("abc", 3);
  hash.Finish();
  EXPECT_EQ(hash.PaddingByte(), 0x01);
  // The same block compressed by OpenSSL: "abc", 0x01, zeros, length 24.
  unsigned char block[64] = {'a', 'b', 'c', 0x01};
  block[63] = 24;
  SHA_CTX reference;
  SHA1_Init(&reference);
  SHA1_Transform(&reference, block);
  std::string expected;
  for (SHA_LONG word : {reference.h0, reference.h1, reference.h2, reference.h3, reference.h4}) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", word);
    expected += text;
  }
  EXPECT_EQ(hash.DigestText(TFormat_HEX::Class()), expected);
  EXPECT_NE(expected, "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

// Exposes the bit count to set it near its limits.
class PresetSha1 : public TCipherHashAlg2 {
 public:
  void SetBitCount(std::initializer_list<std::uint32_t> words) {
    std::fill(std::begin(bit_count_), std::end(bit_count_), 0u);
    std::copy(words.begin(), words.end(), std::begin(bit_count_));
  }
  std::vector<std::uint32_t> BitCount() const {
    return std::vector<std::uint32_t>(std::begin(bit_count_), std::end(bit_count_));
  }
};

TEST(CipherHashObjectTest, BitCountCarriesThroughAllWordsAndRefusesOverflow) {
  PresetSha1 hash;
  hash.Start();
  hash.SetBitCount({0xFFFFFFF8u, 0xFFFFFFFFu});
  hash.Feed("a", 1);
  EXPECT_EQ(hash.BitCount(), (std::vector<std::uint32_t>{0, 0, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ErrorOf([&] { hash.Finish(); }), "Hash function have to many bits processed");

  hash.Start();
  hash.SetBitCount({0, 0, 0, 0, 0, 0, 0, 1});
  EXPECT_EQ(ErrorOf([&] { hash.Finish(); }), "Hash function have to many bits processed");

  hash.Start();
  hash.SetBitCount({0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                    0xFFFFFFFFu, 0xFFFFFFFFu});
  EXPECT_EQ(ErrorOf([&] { hash.Feed("a", 1); }), "Hash function have to many bits processed");
  EXPECT_EQ(hash.BitCount(), std::vector<std::uint32_t>(8, 0xFFFFFFFFu));

  // Just below 2^64 bits the message still closes.
  hash.Start();
  hash.SetBitCount({0xFFFFFFF0u, 0xFFFFFFFFu});
  hash.Feed("a", 1);
  EXPECT_EQ(ErrorOf([&] { hash.Finish(); }), "no error");
}

TEST(CipherHashClassTest, LengthsWithoutAnObjectAndOneCallDigests) {
  EXPECT_EQ(TCipherHashAlg2::Class()->DigestLength(), 20);
  EXPECT_EQ(TCipherHashAlg2::Class()->BlockLength(), 64);
  EXPECT_EQ(TCipherHashAlg1::Class()->DigestLength(), 20);
  EXPECT_EQ(TCipherHashAlg0::Class()->DigestLength(), 16);
  EXPECT_EQ(TCipherHashAlg0::Class()->BlockLength(), 64);
  EXPECT_THROW(TCipherHash::Class()->BlockLength(), std::logic_error);

  EXPECT_EQ(HashBuffer(TCipherHashAlg2::Class(), "abc", 3, TFormat_HEX::Class()),
            "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(HashBuffer(TCipherHashAlg2::Class(), "abc", 3),
            HashString(TCipherHashAlg2::Class(), "abc"));
  EXPECT_EQ(HashBuffer(TCipherHashAlg2::Class(), "abc", -1, TFormat_HEX::Class()),
            "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  EXPECT_THROW(HashString(TCipherHashAlg0::Class(), "abc"), std::logic_error);
}

}  // namespace
}  // namespace tly
