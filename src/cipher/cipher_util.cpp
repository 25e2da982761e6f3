#include "cipher/cipher_util.h"

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <new>

namespace tly {

namespace {

constexpr unsigned char kScrubPattern[4] = {0x55, 0xAA, 0xFF, 0x00};

std::atomic<TReleaseObserver> g_release_observer{nullptr};

// Tells the optimiser that `memory` may be read after this point, so stores
// before it cannot be dropped as dead.
inline void KeepStores(void* memory) {
  asm volatile("" : : "r"(memory) : "memory");
}

TCipherClassList* g_class_registry = nullptr;

// Creates the class registry when the program starts and destroys it when it
// ends.
struct ClassRegistryLifetime {
  ClassRegistryLifetime() { g_class_registry = new TCipherClassList(); }
  ~ClassRegistryLifetime() {
    delete g_class_registry;
    g_class_registry = nullptr;
  }
};
const ClassRegistryLifetime g_class_registry_lifetime;

}  // namespace

bool TCipherObject::Meta::InheritsFrom(const Meta* ancestor) const {
  if (ancestor == nullptr) return false;
  for (const Meta* cls = this; cls != nullptr; cls = cls->parent_) {
    if (cls == ancestor) return true;
  }
  return false;
}

std::unique_ptr<TCipherObject> TCipherObject::Meta::MakeInstance() const {
  if (factory_ == nullptr) {
    throw std::logic_error(std::string("cannot create an object of abstract class ") + name_);
  }
  return std::unique_ptr<TCipherObject>(factory_());
}

const TCipherObject::Meta* TCipherObject::Class() {
  static const Meta kMeta("TCipherObject", nullptr, sizeof(TCipherObject),
                          &NewInstance<TCipherObject>);
  return &kMeta;
}

const TCipherObject::Meta* TCipherObject::ClassType() const {
  return Class();
}

void TCipherObject::operator delete(void* memory, std::size_t size) noexcept {
  if (memory == nullptr) return;
  explicit_bzero(memory, size);
  if (TReleaseObserver observer = g_release_observer.load()) observer(memory, size);
  ::operator delete(memory);
}

void SetReleaseObserver(TReleaseObserver observer) {
  g_release_observer.store(observer);
}

std::string ClassNameTail(TCipherClass cls) {
  if (cls == nullptr) return std::string();
  const char* name = cls->Name();
  const char* underscore = std::strchr(name, '_');
  return std::string(underscore != nullptr ? underscore + 1 : name);
}

void ScrubBytes(void* memory, std::int32_t size) {
  if (size <= 0) return;
  for (unsigned char value : kScrubPattern) {
    std::memset(memory, value, static_cast<std::size_t>(size));
    KeepStores(memory);
  }
}

void ByteSwapWords(const std::uint32_t* source, std::uint32_t* destination, std::int32_t n) {
  for (std::int32_t i = n - 1; i >= 0; --i) destination[i] = ByteSwap32(source[i]);
}

bool ProbeInstanceOf(const TCipherObject* object, TCipherClass cls) {
  if (object == nullptr) return false;
  return object->ClassType()->InheritsFrom(cls);
}

const TCipherObject::Meta* TCipherClassList::Class() {
  static const Meta kMeta("TCipherClassList", TCipherObject::Class(), sizeof(TCipherClassList),
                          &NewInstance<TCipherClassList>);
  return &kMeta;
}

const TCipherObject::Meta* TCipherClassList::ClassType() const {
  return Class();
}

TCipherClassList* ClassRegistry() {
  return g_class_registry;
}

void DropModuleClasses(const void* module) {
  TCipherClassList* registry = ClassRegistry();
  if (!ProbeInstanceOf(registry, TCipherClassList::Class())) return;
  std::vector<TCipherClass>& items = registry->Items();
  for (std::size_t i = items.size(); i-- > 0;) {
    Dl_info info{};
    if (dladdr(items[i], &info) != 0 && info.dli_fbase == module) {
      items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

}  // namespace tly
