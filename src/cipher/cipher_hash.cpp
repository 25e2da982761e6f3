#include "cipher/cipher_hash.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "port/accelerated.h"

namespace tly {

// DigestBytes hands out the state words' memory after they were put in
// big-endian order by a byte swap, which is only right on little-endian hosts.
static_assert(std::endian::native == std::endian::little);

// Descriptors must outlive every object, also during static destruction.
static_assert(std::is_trivially_destructible_v<TCipherHashAlg1::Meta>);

namespace {

constexpr std::int32_t kShaBlockLength = 64;
constexpr std::int32_t kShaDigestLength = 20;
constexpr std::int32_t kFamilyDigestLength = 16;

std::atomic<bool> g_sha1_hardware_enabled{true};

[[noreturn]] void ThrowAbstractHash(const char* operation) {
  throw std::logic_error(std::string("abstract hash operation ") + operation);
}

std::uint32_t ReadBigEndian32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

void WriteBigEndian32(std::uint32_t word, std::uint8_t* bytes) {
  bytes[0] = static_cast<std::uint8_t>(word >> 24);
  bytes[1] = static_cast<std::uint8_t>(word >> 16);
  bytes[2] = static_cast<std::uint8_t>(word >> 8);
  bytes[3] = static_cast<std::uint8_t>(word);
}

// One step of the SHA compression per round function. Instead of shifting
// the five working values along, each step adds the new value into `e` and
// rotates `b`, and the caller passes the five values in turned roles.
inline void StepChoose(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d,
                       std::uint32_t& e, std::uint32_t w) {
  e += std::rotl(a, 5) + (d ^ (b & (c ^ d))) + 0x5A827999u + w;
  b = std::rotl(b, 30);
}

inline void StepParity1(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d,
                        std::uint32_t& e, std::uint32_t w) {
  e += std::rotl(a, 5) + (b ^ c ^ d) + 0x6ED9EBA1u + w;
  b = std::rotl(b, 30);
}

inline void StepMajority(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d,
                         std::uint32_t& e, std::uint32_t w) {
  e += std::rotl(a, 5) + ((b & c) | (d & (b | c))) + 0x8F1BBCDCu + w;
  b = std::rotl(b, 30);
}

inline void StepParity2(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d,
                        std::uint32_t& e, std::uint32_t w) {
  e += std::rotl(a, 5) + (b ^ c ^ d) + 0xCA62C1D6u + w;
  b = std::rotl(b, 30);
}

// The SHA compression of one 64-byte block into `state` (five words).
// kRotateSchedule selects the SHA-1 message schedule; without it, SHA-0's.
template <bool kRotateSchedule>
// NOLINTNEXTLINE(readability-function-size): the 80 rounds unrolled, on purpose.
void CompressSha(std::uint32_t* state, const std::uint8_t* block) {
  std::uint32_t w[80];
  for (std::size_t t = 0; t < 16; ++t) w[t] = ReadBigEndian32(block + 4 * t);
  for (int t = 16; t < 80; ++t) {
    const std::uint32_t x = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];
    w[t] = kRotateSchedule ? std::rotl(x, 1) : x;
  }

  std::uint32_t a = state[0];
  std::uint32_t b = state[1];
  std::uint32_t c = state[2];
  std::uint32_t d = state[3];
  std::uint32_t e = state[4];

  // Steps 0-19: choose, 0x5A827999.
  StepChoose(a, b, c, d, e, w[0]);
  StepChoose(e, a, b, c, d, w[1]);
  StepChoose(d, e, a, b, c, w[2]);
  StepChoose(c, d, e, a, b, w[3]);
  StepChoose(b, c, d, e, a, w[4]);
  StepChoose(a, b, c, d, e, w[5]);
  StepChoose(e, a, b, c, d, w[6]);
  StepChoose(d, e, a, b, c, w[7]);
  StepChoose(c, d, e, a, b, w[8]);
  StepChoose(b, c, d, e, a, w[9]);
  StepChoose(a, b, c, d, e, w[10]);
  StepChoose(e, a, b, c, d, w[11]);
  StepChoose(d, e, a, b, c, w[12]);
  StepChoose(c, d, e, a, b, w[13]);
  StepChoose(b, c, d, e, a, w[14]);
  StepChoose(a, b, c, d, e, w[15]);
  StepChoose(e, a, b, c, d, w[16]);
  StepChoose(d, e, a, b, c, w[17]);
  StepChoose(c, d, e, a, b, w[18]);
  StepChoose(b, c, d, e, a, w[19]);

  // Steps 20-39: parity, 0x6ED9EBA1.
  StepParity1(a, b, c, d, e, w[20]);
  StepParity1(e, a, b, c, d, w[21]);
  StepParity1(d, e, a, b, c, w[22]);
  StepParity1(c, d, e, a, b, w[23]);
  StepParity1(b, c, d, e, a, w[24]);
  StepParity1(a, b, c, d, e, w[25]);
  StepParity1(e, a, b, c, d, w[26]);
  StepParity1(d, e, a, b, c, w[27]);
  StepParity1(c, d, e, a, b, w[28]);
  StepParity1(b, c, d, e, a, w[29]);
  StepParity1(a, b, c, d, e, w[30]);
  StepParity1(e, a, b, c, d, w[31]);
  StepParity1(d, e, a, b, c, w[32]);
  StepParity1(c, d, e, a, b, w[33]);
  StepParity1(b, c, d, e, a, w[34]);
  StepParity1(a, b, c, d, e, w[35]);
  StepParity1(e, a, b, c, d, w[36]);
  StepParity1(d, e, a, b, c, w[37]);
  StepParity1(c, d, e, a, b, w[38]);
  StepParity1(b, c, d, e, a, w[39]);

  // Steps 40-59: majority, 0x8F1BBCDC.
  StepMajority(a, b, c, d, e, w[40]);
  StepMajority(e, a, b, c, d, w[41]);
  StepMajority(d, e, a, b, c, w[42]);
  StepMajority(c, d, e, a, b, w[43]);
  StepMajority(b, c, d, e, a, w[44]);
  StepMajority(a, b, c, d, e, w[45]);
  StepMajority(e, a, b, c, d, w[46]);
  StepMajority(d, e, a, b, c, w[47]);
  StepMajority(c, d, e, a, b, w[48]);
  StepMajority(b, c, d, e, a, w[49]);
  StepMajority(a, b, c, d, e, w[50]);
  StepMajority(e, a, b, c, d, w[51]);
  StepMajority(d, e, a, b, c, w[52]);
  StepMajority(c, d, e, a, b, w[53]);
  StepMajority(b, c, d, e, a, w[54]);
  StepMajority(a, b, c, d, e, w[55]);
  StepMajority(e, a, b, c, d, w[56]);
  StepMajority(d, e, a, b, c, w[57]);
  StepMajority(c, d, e, a, b, w[58]);
  StepMajority(b, c, d, e, a, w[59]);

  // Steps 60-79: parity, 0xCA62C1D6.
  StepParity2(a, b, c, d, e, w[60]);
  StepParity2(e, a, b, c, d, w[61]);
  StepParity2(d, e, a, b, c, w[62]);
  StepParity2(c, d, e, a, b, w[63]);
  StepParity2(b, c, d, e, a, w[64]);
  StepParity2(a, b, c, d, e, w[65]);
  StepParity2(e, a, b, c, d, w[66]);
  StepParity2(d, e, a, b, c, w[67]);
  StepParity2(c, d, e, a, b, w[68]);
  StepParity2(b, c, d, e, a, w[69]);
  StepParity2(a, b, c, d, e, w[70]);
  StepParity2(e, a, b, c, d, w[71]);
  StepParity2(d, e, a, b, c, w[72]);
  StepParity2(c, d, e, a, b, w[73]);
  StepParity2(b, c, d, e, a, w[74]);
  StepParity2(a, b, c, d, e, w[75]);
  StepParity2(e, a, b, c, d, w[76]);
  StepParity2(d, e, a, b, c, w[77]);
  StepParity2(c, d, e, a, b, w[78]);
  StepParity2(b, c, d, e, a, w[79]);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

// Creates a hash of `hash_class`, digests `size` bytes at `data` and renders
// the digest; the object is destroyed on every path.
std::string DigestWhole(TCipherHashClass hash_class, const char* data, std::size_t size,
                        TCipherFormatClass format) {
  if (hash_class == nullptr) throw std::invalid_argument("no hash class given");
  // Pieces stay a whole number of blocks so that no piece leaves a partial
  // block behind that the next one must complete.
  constexpr std::size_t kMaxPiece = std::size_t{1} << 30;
  std::unique_ptr<TCipherHash> hash = hash_class->MakeHash();
  hash->Start();
  while (size > 0) {
    const std::size_t piece = std::min(size, kMaxPiece);
    hash->Feed(data, static_cast<std::int32_t>(piece));
    data += piece;
    size -= piece;
  }
  hash->Finish();
  return hash->DigestText(format);
}

}  // namespace

// ---- TCipherHash

std::int32_t TCipherHash::Meta::DigestLength() const {
  ThrowAbstractHash("DigestLength");
}

std::int32_t TCipherHash::Meta::BlockLength() const {
  ThrowAbstractHash("BlockLength");
}

std::unique_ptr<TCipherHash> TCipherHash::Meta::MakeHash() const {
  return std::unique_ptr<TCipherHash>(static_cast<TCipherHash*>(MakeInstance().release()));
}

TCipherHash::~TCipherHash() {
  ReleaseBuffer();
}

const TCipherHash::Meta* TCipherHash::Class() {
  static const Meta kMeta("TCipherHash", TCipherObject::Class(), sizeof(TCipherHash), nullptr);
  return &kMeta;
}

const TCipherHash::Meta* TCipherHash::ClassType() const {
  return Class();
}

void TCipherHash::Start() {
  block_fill_ = 0;
  const std::int32_t length = BlockLength();
  if (block_buffer_ != nullptr && block_buffer_size_ == length) {
    std::memset(block_buffer_.get(), 0, static_cast<std::size_t>(length));
  } else {
    ReleaseBuffer();
    block_buffer_ = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(length));
  }
  block_buffer_size_ = length;
  std::fill(std::begin(bit_count_), std::end(bit_count_), 0u);
  ResetChaining();
}

void TCipherHash::Feed(const void* data, std::int32_t size) {
  if (size <= 0) return;
  if (block_buffer_ == nullptr) throw ECipherException(kMsgNotInitialized);

  // Add size * 8 to the 256-bit count; commit only when it does not overflow.
  std::uint32_t count[8];
  std::uint64_t addend = static_cast<std::uint64_t>(size) * 8;
  std::uint64_t carry = 0;
  for (int i = 0; i < 8; ++i) {
    const std::uint64_t sum = std::uint64_t{bit_count_[i]} + (addend & 0xFFFFFFFFu) + carry;
    count[i] = static_cast<std::uint32_t>(sum);
    carry = sum >> 32;
    addend >>= 32;
  }
  if (carry != 0) throw ECipherException(kMsgTooManyBits);
  std::copy(std::begin(count), std::end(count), std::begin(bit_count_));

  const auto* bytes = static_cast<const std::uint8_t*>(data);
  auto remaining = static_cast<std::size_t>(size);
  const auto block_length = static_cast<std::size_t>(block_buffer_size_);
  std::uint8_t* buffer = block_buffer_.get();
  if (block_fill_ > 0) {
    const std::size_t room = block_length - static_cast<std::size_t>(block_fill_);
    if (remaining < room) {
      std::memcpy(buffer + block_fill_, bytes, remaining);
      block_fill_ += size;
      return;
    }
    std::memcpy(buffer + block_fill_, bytes, room);
    CompressBlock(buffer);
    bytes += room;
    remaining -= room;
  }
  // Whole blocks are compressed where the caller holds them.
  const std::size_t whole_blocks = remaining / block_length;
  if (whole_blocks > 0) {
    CompressBlocks(bytes, whole_blocks);
    bytes += whole_blocks * block_length;
    remaining -= whole_blocks * block_length;
  }
  std::memcpy(buffer, bytes, remaining);
  block_fill_ = static_cast<std::int32_t>(remaining);
}

void TCipherHash::Finish() {
  if (block_buffer_ == nullptr) throw ECipherException(kMsgNotInitialized);
  PadAndClose();
  ReleaseBuffer();
}

const std::uint8_t* TCipherHash::DigestBytes() const {
  ThrowAbstractHash("DigestBytes");
}

std::string TCipherHash::DigestText(TCipherFormatClass format) const {
  return FormatBytes(format, DigestBytes(), DigestLength());
}

void TCipherHash::CompressBlock(const std::uint8_t*) {
  ThrowAbstractHash("CompressBlock");
}

void TCipherHash::CompressBlocks(const std::uint8_t* blocks, std::size_t count) {
  const auto block_length = static_cast<std::size_t>(BlockLength());
  for (std::size_t i = 0; i < count; ++i) CompressBlock(blocks + i * block_length);
}

void TCipherHash::ResetChaining() {
  ThrowAbstractHash("ResetChaining");
}

void TCipherHash::PadAndClose() {
  ThrowAbstractHash("PadAndClose");
}

void TCipherHash::ReleaseBuffer() {
  if (block_buffer_ != nullptr) ScrubBytes(block_buffer_.get(), block_buffer_size_);
  block_buffer_.reset();
  block_buffer_size_ = 0;
}

// ---- TCipherHashAlg0

std::int32_t TCipherHashAlg0::Meta::DigestLength() const {
  return kFamilyDigestLength;
}

std::int32_t TCipherHashAlg0::Meta::BlockLength() const {
  return kShaBlockLength;
}

TCipherHashAlg0::~TCipherHashAlg0() {
  // The whole state, which begins with the digest.
  ScrubBytes(chain_state_, static_cast<std::int32_t>(sizeof(chain_state_)));
}

const TCipherHashAlg0::Meta* TCipherHashAlg0::Class() {
  static const Meta kMeta("TCipherHashAlg0", TCipherHash::Class(), sizeof(TCipherHashAlg0),
                          nullptr);
  return &kMeta;
}

const TCipherHashAlg0::Meta* TCipherHashAlg0::ClassType() const {
  return Class();
}

const std::uint8_t* TCipherHashAlg0::DigestBytes() const {
  return reinterpret_cast<const std::uint8_t*>(chain_state_);
}

void TCipherHashAlg0::ResetChaining() {
  static constexpr std::uint32_t kInitial[10] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                                 0xC3D2E1F0u, 0x76543210u, 0xFEDCBA98u, 0x89ABCDEFu,
                                                 0x01234567u, 0x3C2D1E0Fu};
  std::copy(std::begin(kInitial), std::end(kInitial), std::begin(chain_state_));
}

void TCipherHashAlg0::PadBlock() {
  // Any bit at or above 2^64 makes the length unrepresentable.
  if (std::any_of(bit_count_ + 2, bit_count_ + 8, [](std::uint32_t word) { return word != 0; })) {
    throw ECipherException(kMsgTooManyBits);
  }
  if (padding_byte_ == 0) padding_byte_ = 0x80;
  std::uint8_t* buffer = block_buffer_.get();
  const auto block_length = static_cast<std::size_t>(block_buffer_size_);
  auto fill = static_cast<std::size_t>(block_fill_);
  buffer[fill++] = padding_byte_;
  if (fill > block_length - 8) {
    std::memset(buffer + fill, 0, block_length - fill);
    CompressBlock(buffer);
    fill = 0;
  }
  std::memset(buffer + fill, 0, block_length - fill);
  block_fill_ = static_cast<std::int32_t>(fill);
}

void TCipherHashAlg0::PadAndClose() {
  PadBlock();
  std::uint8_t* buffer = block_buffer_.get();
  std::memcpy(buffer + block_buffer_size_ - 8, bit_count_, 8);
  CompressBlock(buffer);
}

// ---- TCipherHashAlg1

std::int32_t TCipherHashAlg1::Meta::DigestLength() const {
  return kShaDigestLength;
}

const TCipherHashAlg1::Meta* TCipherHashAlg1::Class() {
  static const Meta kMeta("TCipherHashAlg1", TCipherHashAlg0::Class(), sizeof(TCipherHashAlg1),
                          &NewInstance<TCipherHashAlg1>);
  return &kMeta;
}

const TCipherHashAlg1::Meta* TCipherHashAlg1::ClassType() const {
  return Class();
}

void TCipherHashAlg1::CompressBlock(const std::uint8_t* block) {
  CompressBlocks(block, 1);
}

void TCipherHashAlg1::CompressBlocks(const std::uint8_t* blocks, std::size_t count) {
  const bool sha0 = ClassType() == TCipherHashAlg1::Class();
  if (!sha0 && g_sha1_hardware_enabled.load()) {
    static const Sha1BlocksFn accelerated = AcceleratedSha1Blocks();
    if (accelerated != nullptr) {
      accelerated(chain_state_, blocks, count);
      return;
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* block = blocks + i * kShaBlockLength;
    if (sha0) {
      CompressSha<false>(chain_state_, block);
    } else {
      CompressSha<true>(chain_state_, block);
    }
  }
}

void TCipherHashAlg1::PadAndClose() {
  PadBlock();
  std::uint8_t* buffer = block_buffer_.get();
  WriteBigEndian32(bit_count_[1], buffer + block_buffer_size_ - 8);
  WriteBigEndian32(bit_count_[0], buffer + block_buffer_size_ - 4);
  CompressBlock(buffer);
  ByteSwapWords(chain_state_, chain_state_, 10);
}

// ---- TCipherHashAlg2

const TCipherHashAlg2::Meta* TCipherHashAlg2::Class() {
  static const Meta kMeta("TCipherHashAlg2", TCipherHashAlg1::Class(), sizeof(TCipherHashAlg2),
                          &NewInstance<TCipherHashAlg2>);
  return &kMeta;
}

const TCipherHashAlg2::Meta* TCipherHashAlg2::ClassType() const {
  return Class();
}

// ---- Class-level entries

std::string HashBuffer(TCipherHashClass hash_class, const void* data, std::int32_t size,
                       TCipherFormatClass format) {
  return DigestWhole(hash_class, static_cast<const char*>(data),
                     size > 0 ? static_cast<std::size_t>(size) : 0, format);
}

std::string HashString(TCipherHashClass hash_class, std::string_view text,
                       TCipherFormatClass format) {
  return DigestWhole(hash_class, text.data(), text.size(), format);
}

void SetSha1HardwareEnabled(bool enabled) {
  g_sha1_hardware_enabled.store(enabled);
}

bool Sha1HardwareInUse() {
  return g_sha1_hardware_enabled.load() && AcceleratedSha1Blocks() != nullptr;
}

}  // namespace tly
