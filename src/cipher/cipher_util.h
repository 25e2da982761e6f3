// Common ground of the hash and data-format library: the root class with its
// class descriptors (class references), the library's exception, memory
// scrubbing, 32-bit byte-order reversal and the library-wide class registry.
#ifndef TLY_CIPHER_CIPHER_UTIL_H_
#define TLY_CIPHER_CIPHER_UTIL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tly {

// The library's one exception class. It carries only its message, which is
// one of the three texts below.
class ECipherException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Message of a hexadecimal (or derived) decoding failure; "%s" stands for the
// short name of the format class (ClassNameTail).
inline constexpr char kMsgInvalidFormat[] = "Input is not an valid %s Format.";
// Message when a hash's bit count overflows or a message reaches 2^64 bits.
inline constexpr char kMsgTooManyBits[] = "Hash function have to many bits processed";
// Message when a hash is fed or closed while no digest is open.
inline constexpr char kMsgNotInitialized[] = "Hash must be initialized";

// Root of every format and hash class.
//
// Each library class has one immutable descriptor (its Meta object, reached
// through the class's static Class()). A pointer to a descriptor is a class
// reference: it can be passed, compared, asked for the class's name, parent
// and size, and used to create an object of exactly that class. Class-level
// virtual operations (of formats and hashes) are virtual functions of the
// descriptor types, which mirror the class tree.
//
// Every object allocated with new is overwritten with zeros over the full
// size of its class before its memory goes back to the allocator.
class TCipherObject {
 public:
  // Descriptor of one class. Descriptors are function-local statics with
  // trivial destructors, so class references stay valid for the whole run,
  // also during static destruction.
  class Meta {
   public:
    using Factory = TCipherObject* (*)();

    // `factory` is null for abstract classes.
    Meta(const char* name, const Meta* parent, std::size_t instance_size, Factory factory)
        : name_(name), parent_(parent), instance_size_(instance_size), factory_(factory) {}
    Meta(const Meta&) = delete;
    Meta& operator=(const Meta&) = delete;

    const char* Name() const { return name_; }
    // The base class's descriptor; null for TCipherObject.
    const Meta* Parent() const { return parent_; }
    // sizeof an object of this class.
    std::size_t InstanceSize() const { return instance_size_; }

    // True when this class is `ancestor` or derives from it. False for null.
    bool InheritsFrom(const Meta* ancestor) const;

    // Virtual constructor: a new object of exactly this class with every
    // field zero. Throws std::logic_error for an abstract class.
    std::unique_ptr<TCipherObject> MakeInstance() const;

   private:
    const char* name_;
    const Meta* parent_;
    std::size_t instance_size_;
    Factory factory_;
  };

  TCipherObject() = default;
  TCipherObject(const TCipherObject&) = delete;
  TCipherObject& operator=(const TCipherObject&) = delete;
  virtual ~TCipherObject() = default;

  static const Meta* Class();
  // The descriptor of the object's own (most derived) class. Every class of
  // the library overrides it.
  virtual const Meta* ClassType() const;

  // Zeroing release: clears all `size` bytes (the object's full size, as the
  // destructors are virtual) in a way the optimiser keeps, then frees them.
  static void operator delete(void* memory, std::size_t size) noexcept;

 protected:
  // Factory for Meta: `new T()`, used as the virtual constructor of T.
  template <class T>
  static TCipherObject* NewInstance() {
    return new T();
  }
};

// A class reference: any library class, passed as a value.
using TCipherClass = const TCipherObject::Meta*;

// Called by the zeroing release with the cleared memory just before it is
// freed. Only tests install one; null (the default) means none.
using TReleaseObserver = void (*)(const void* memory, std::size_t size);
void SetReleaseObserver(TReleaseObserver observer);

// The class's name after its first underscore, or the whole name when it has
// none ("TFormat_HEX" -> "HEX"). Empty for a null class.
std::string ClassNameTail(TCipherClass cls);

// Overwrites `size` bytes at `memory` with 0x55, 0xAA, 0xFF and finally 0x00,
// each pass kept by the optimiser. Size 0 or less does nothing; `memory` may
// then be null.
void ScrubBytes(void* memory, std::int32_t size);

// `word` with its four bytes in reverse order.
constexpr std::uint32_t ByteSwap32(std::uint32_t word) {
  return (word >> 24) | ((word >> 8) & 0x0000FF00u) | ((word << 8) & 0x00FF0000u) | (word << 24);
}

// destination[i] := ByteSwap32(source[i]) for the n words; the two may be the
// same memory. n <= 0 does nothing.
void ByteSwapWords(const std::uint32_t* source, std::uint32_t* destination, std::int32_t n);

// True when `object` is of class `cls` or of a class derived from it. False
// for a null object or class. It only walks the descriptors, so it never
// faults on a valid object.
bool ProbeInstanceOf(const TCipherObject* object, TCipherClass cls);

// A list of class references; the type of the class registry.
class TCipherClassList : public TCipherObject {
 public:
  static const Meta* Class();
  const Meta* ClassType() const override;

  std::vector<TCipherClass>& Items() { return items_; }

 private:
  std::vector<TCipherClass> items_;
};

// The library-wide class registry: created empty when the program starts and
// destroyed when it ends (null outside that time). Nothing in the program
// registers a class, so it stays empty.
TCipherClassList* ClassRegistry();

// Removes from the registry, last entry first, every class whose descriptor
// lives in the loaded module (shared object) with base address `module`.
// Does nothing while the registry does not exist. The platform gives no
// unload notification to hook it into, so only explicit calls reach it.
void DropModuleClasses(const void* module);

}  // namespace tly

#endif  // TLY_CIPHER_CIPHER_UTIL_H_
