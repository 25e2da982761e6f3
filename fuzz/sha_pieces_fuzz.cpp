// SHA-1 and SHA-0 fed in arbitrary pieces give the digest of the same bytes
// fed at once; SHA-1 agrees with OpenSSL, and the processor's SHA
// instructions agree with the portable compression. Input: eight piece
// lengths, a padding byte, then the message.

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "cipher/cipher_hash.h"
#include "fuzz_check.h"
#include "port/accelerated.h"

namespace {

constexpr size_t kPieceCount = 8;

std::string Digest(const tly::TCipherHash::Meta* hash_class, const uint8_t* message, size_t size,
                   const uint8_t* pieces, uint8_t padding) {
  std::unique_ptr<tly::TCipherHash> hash = hash_class->MakeHash();
  hash->SetPaddingByte(padding);
  hash->Start();
  size_t offset = 0;
  for (size_t i = 0; offset < size; ++i) {
    // Lengths of 0 to 255: empty pieces, pieces inside a block, and pieces
    // that end on or run over a block border.
    const size_t length = std::min<size_t>(pieces[i % kPieceCount], size - offset);
    hash->Feed(message + offset, static_cast<int32_t>(length));
    offset += length;
    if (i > size + kPieceCount) {
      hash->Feed(message + offset, static_cast<int32_t>(size - offset));  // only empty pieces
      offset = size;
    }
  }
  hash->Feed(message, 0);
  hash->Finish();
  return std::string(reinterpret_cast<const char*>(hash->DigestBytes()),
                     static_cast<size_t>(hash->DigestLength()));
}

std::string OpenSslSha1(const uint8_t* message, size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  FUZZ_REQUIRE(EVP_Digest(message, size, digest, &length, EVP_sha1(), nullptr) == 1);
  return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kPieceCount + 1) return 0;
  const uint8_t* pieces = data;
  const uint8_t padding = data[kPieceCount];
  // The message on the heap with nothing behind it, so that a read past its
  // end is reported.
  const size_t message_size = size - kPieceCount - 1;
  auto message = std::make_unique<uint8_t[]>(message_size + 1);
  std::memcpy(message.get(), data + kPieceCount + 1, message_size);
  const uint8_t* bytes = message.get();
  const auto length = static_cast<int32_t>(message_size);

  for (const tly::TCipherHash::Meta* hash_class :
       {tly::TCipherHashAlg1::Class(), tly::TCipherHashAlg2::Class()}) {
    const std::string whole = tly::HashBuffer(hash_class, bytes, length);
    FUZZ_REQUIRE(whole.size() == 20);
    FUZZ_REQUIRE(Digest(hash_class, bytes, message_size, pieces, 0) == whole);
    FUZZ_REQUIRE(Digest(hash_class, bytes, message_size, pieces, padding) ==
                 Digest(hash_class, bytes, message_size, pieces + 1, padding));
  }

  const std::string sha1 = tly::HashBuffer(tly::TCipherHashAlg2::Class(), bytes, length);
  FUZZ_REQUIRE(sha1 == OpenSslSha1(bytes, message_size));
  if (tly::AcceleratedSha1Blocks() != nullptr) {
    tly::SetSha1HardwareEnabled(false);
    const std::string portable = tly::HashBuffer(tly::TCipherHashAlg2::Class(), bytes, length);
    const std::string portable_pieces =
        Digest(tly::TCipherHashAlg2::Class(), bytes, message_size, pieces, padding);
    tly::SetSha1HardwareEnabled(true);
    FUZZ_REQUIRE(portable == sha1);
    FUZZ_REQUIRE(portable_pieces ==
                 Digest(tly::TCipherHashAlg2::Class(), bytes, message_size, pieces, padding));
  }
  return 0;
}
