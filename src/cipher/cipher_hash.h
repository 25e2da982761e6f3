// Message digests: the hash framework (buffering, 256-bit bit count,
// padding byte) and the SHA-0 and SHA-1 algorithms.
//
// Typical use, one call:
//   std::string seal = HashString(TCipherHashAlg2::Class(), text, TFormat_HEX::Class());
// gives the SHA-1 digest of `text` as 40 upper-case hexadecimal characters.
#ifndef TLY_CIPHER_CIPHER_HASH_H_
#define TLY_CIPHER_CIPHER_HASH_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cipher/cipher_fmt.h"
#include "cipher/cipher_util.h"

// The class descriptors (Meta) are static objects that are never deleted,
// and trivially destructible on purpose, so that they outlive every caller at
// exit: a virtual destructor would make them neither.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace tly {

// Abstract base of the hashes. An object is used as: Start, any number of
// Feed, Finish, then DigestBytes or DigestText; Start again begins a new
// digest. One object serves one thread at a time.
class TCipherHash : public TCipherObject {
 public:
  // Descriptor of a hash class; DigestLength and BlockLength are its
  // class-level operations (abstract here: they throw std::logic_error).
  class Meta : public TCipherObject::Meta {
   public:
    using TCipherObject::Meta::Meta;

    // Digest size in bytes.
    virtual std::int32_t DigestLength() const;
    // Size in bytes of the blocks the compression takes.
    virtual std::int32_t BlockLength() const;

    // MakeInstance as a hash. Throws std::logic_error for an abstract class.
    std::unique_ptr<TCipherHash> MakeHash() const;
  };

  ~TCipherHash() override;

  static const Meta* Class();
  const Meta* ClassType() const override;

  std::int32_t DigestLength() const { return ClassType()->DigestLength(); }
  std::int32_t BlockLength() const { return ClassType()->BlockLength(); }

  // Opens a fresh digest: empty buffer of one block, bit count zero, initial
  // chaining values. Allowed in every state; keeps PaddingByte.
  void Start();

  // Adds `size` bytes at `data` (never modified) to the open digest. Size <= 0
  // does nothing in any state. Throws ECipherException with
  // kMsgNotInitialized when no digest is open, or kMsgTooManyBits when the
  // 256-bit bit count would overflow (nothing is counted then).
  virtual void Feed(const void* data, std::int32_t size);

  // Pads and closes the open digest and scrubs and releases the buffer.
  // Throws ECipherException with kMsgNotInitialized when no digest is open,
  // or kMsgTooManyBits when the message has 2^64 bits or more.
  void Finish();

  // DigestLength bytes of digest, valid after Finish until the next Start or
  // the object's destruction.
  virtual const std::uint8_t* DigestBytes() const;

  // The digest rendered by `format` (raw bytes when it is null).
  virtual std::string DigestText(TCipherFormatClass format) const;

  // Byte appended after the message when closing; 0 stands for 0x80 and is
  // replaced by it at Finish.
  std::uint8_t PaddingByte() const { return padding_byte_; }
  void SetPaddingByte(std::uint8_t value) { padding_byte_ = value; }

 protected:
  TCipherHash() = default;

  // Adds one block of BlockLength bytes to the chaining state.
  virtual void CompressBlock(const std::uint8_t* block);
  // Compresses `count` consecutive blocks; by default one CompressBlock each.
  virtual void CompressBlocks(const std::uint8_t* blocks, std::size_t count);
  // Sets the initial chaining values.
  virtual void ResetChaining();
  // Appends padding and length, compresses the last block(s) and leaves the
  // digest at DigestBytes.
  virtual void PadAndClose();

  // Bits fed since Start, least significant word first.
  std::uint32_t bit_count_[8] = {};
  // One block while a digest is open, null otherwise.
  std::unique_ptr<std::uint8_t[]> block_buffer_;
  std::int32_t block_buffer_size_ = 0;
  // Bytes held in block_buffer_; below the block length between calls.
  std::int32_t block_fill_ = 0;
  std::uint8_t padding_byte_ = 0;

 private:
  void ReleaseBuffer();
};

// A hash class reference.
using TCipherHashClass = const TCipherHash::Meta*;

// Abstract family base with a ten-word chaining state and 64-byte blocks.
class TCipherHashAlg0 : public TCipherHash {
 public:
  class Meta : public TCipherHash::Meta {
   public:
    using TCipherHash::Meta::Meta;
    std::int32_t DigestLength() const override;  // 16
    std::int32_t BlockLength() const override;   // 64
  };

  ~TCipherHashAlg0() override;

  static const Meta* Class();
  const Meta* ClassType() const override;

  // The start of the chaining state, which holds the digest after Finish.
  const std::uint8_t* DigestBytes() const override;

 protected:
  TCipherHashAlg0() = default;

  // The five SHA initial values, then five further fixed words.
  void ResetChaining() override;
  // Closes with the bit count little-endian and keeps the state's byte order.
  void PadAndClose() override;

  // Pads the buffer after the padding byte up to the length field,
  // compressing an extra block when the length no longer fits.
  void PadBlock();

  std::uint32_t chain_state_[10] = {};
};

// SHA-0 (FIPS 180). Also the base of SHA-1, which differs only in the message
// schedule: the exact class TCipherHashAlg1 uses the SHA-0 schedule, every
// other class the SHA-1 one.
class TCipherHashAlg1 : public TCipherHashAlg0 {
 public:
  class Meta : public TCipherHashAlg0::Meta {
   public:
    using TCipherHashAlg0::Meta::Meta;
    std::int32_t DigestLength() const override;  // 20
  };

  TCipherHashAlg1() = default;

  static const Meta* Class();
  const Meta* ClassType() const override;

 protected:
  void CompressBlock(const std::uint8_t* block) override;
  // SHA-1 takes the processor's SHA instructions for all blocks at once when
  // they are available and enabled.
  void CompressBlocks(const std::uint8_t* blocks, std::size_t count) override;
  // Closes with the bit count big-endian, then puts the state words in
  // big-endian byte order, so the digest bytes come in the standard's order.
  void PadAndClose() override;
};

// SHA-1 (FIPS 180-1).
class TCipherHashAlg2 : public TCipherHashAlg1 {
 public:
  using Meta = TCipherHashAlg1::Meta;

  TCipherHashAlg2() = default;

  static const Meta* Class();
  const Meta* ClassType() const override;
};

// Creates an object of `hash_class`, digests `size` bytes at `data` and
// returns the digest rendered by `format` (raw when null). The object is
// destroyed in every case; errors pass on unchanged. `hash_class` must be a
// concrete hash class.
std::string HashBuffer(TCipherHashClass hash_class, const void* data, std::int32_t size,
                       TCipherFormatClass format = nullptr);

// HashBuffer over the bytes of `text`, of any length.
std::string HashString(TCipherHashClass hash_class, std::string_view text,
                       TCipherFormatClass format = nullptr);

// Whether SHA-1 may use the processor's SHA instructions when it has them
// (default true). Tests switch it off to exercise the portable compression.
void SetSha1HardwareEnabled(bool enabled);
// True when SHA-1 currently uses the processor's SHA instructions.
bool Sha1HardwareInUse();

}  // namespace tly

#pragma GCC diagnostic pop

#endif  // TLY_CIPHER_CIPHER_HASH_H_
