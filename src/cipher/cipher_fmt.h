// Data formats: stateless classes that turn bytes into a representation and
// back. No format object is needed; every operation is class-level and is
// called through the format's class reference. Wherever a format may be
// omitted (null), TFormat_Copy is meant.
#ifndef TLY_CIPHER_CIPHER_FMT_H_
#define TLY_CIPHER_CIPHER_FMT_H_

#include <cstdint>
#include <string>

#include "cipher/cipher_util.h"

// The class descriptors (Meta) are static objects that are never deleted,
// and trivially destructible on purpose, so that they outlive every caller at
// exit: a virtual destructor would make them neither.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace tly {

// Abstract base of the formats. Inputs are a read-only pointer and a signed
// size; results are byte strings that may hold any byte value.
class TCipherFormat : public TCipherObject {
 public:
  // Descriptor of a format class; its virtual functions are the class-level
  // operations. Those of TCipherFormat itself are abstract: calling them is a
  // programming error and throws std::logic_error.
  class Meta : public TCipherObject::Meta {
   public:
    using TCipherObject::Meta::Meta;

    // The representation of `size` bytes at `data`.
    virtual std::string EncodeBytes(const void* data, std::int32_t size) const;
    // The bytes that `size` characters at `data` represent. May throw
    // ECipherException when the text is not of this format.
    virtual std::string DecodeText(const void* data, std::int32_t size) const;
    // Whether the text consists only of characters that this format knows.
    virtual bool IsValidText(const void* data, std::int32_t size) const;
  };

  static const Meta* Class();
  const Meta* ClassType() const override;
};

// A format class reference; null stands for TFormat_Copy.
using TCipherFormatClass = const TCipherFormat::Meta*;

// The identity format: encoding and decoding copy the bytes (size <= 0 gives
// the empty string); every text of size >= 0 is valid.
class TFormat_Copy : public TCipherFormat {
 public:
  class Meta : public TCipherFormat::Meta {
   public:
    using TCipherFormat::Meta::Meta;
    std::string EncodeBytes(const void* data, std::int32_t size) const override;
    std::string DecodeText(const void* data, std::int32_t size) const override;
    bool IsValidText(const void* data, std::int32_t size) const override;
  };

  static const Meta* Class();
  const Meta* ClassType() const override;
};

// Hexadecimal text, two characters per byte, high nibble first. The encoder,
// the decoder and the validity test take their characters only from
// Alphabet(), so a derived format changes the character set by overriding it.
class TFormat_HEX : public TCipherFormat {
 public:
  class Meta : public TCipherFormat::Meta {
   public:
    using TCipherFormat::Meta::Meta;

    // Each byte becomes the alphabet characters at the positions of its high
    // and its low four bits. Size <= 0 gives the empty string.
    std::string EncodeBytes(const void* data, std::int32_t size) const override;
    // Decodes digits (positions 0-15, and lower-case letters a-z through
    // their capitals). The first prefix marker (positions 16 and 17) discards
    // every digit before it; later ones are ignored. A trailing odd digit is
    // dropped. Throws ECipherException (kMsgInvalidFormat with the class's
    // ClassNameTail) at the first character that is none of these.
    std::string DecodeText(const void* data, std::int32_t size) const override;
    // True when every character is in the alphabet (exact match). Size <= 0
    // gives true.
    bool IsValidText(const void* data, std::int32_t size) const override;

    // The zero-terminated character table: 16 digits, 2 prefix markers, then
    // further characters that IsValidText accepts but decoding does not. A
    // replacement table must keep at least the first 18 positions.
    virtual const char* Alphabet() const;
  };

  static const Meta* Class();
  const Meta* ClassType() const override;
};

// `format`, or TFormat_Copy when it is null.
TCipherFormatClass ResolveFormat(TCipherFormatClass format);

// EncodeBytes of ResolveFormat(format) over `size` bytes at `data`.
std::string FormatBytes(TCipherFormatClass format, const void* data, std::int32_t size);

// Position of the first `c` among the first `n` characters of `table`, or -1.
std::int32_t IndexInTable(char c, const char* table, std::int32_t n);

}  // namespace tly

#pragma GCC diagnostic pop

#endif  // TLY_CIPHER_CIPHER_FMT_H_
