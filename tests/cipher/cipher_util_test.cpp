#include "cipher/cipher_util.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "cipher/cipher_fmt.h"
#include "cipher/cipher_hash.h"

namespace tly {
namespace {

using ::testing::ElementsAre;

class TTest_Two_Parts : public TCipherObject {
 public:
  static const Meta* Class() {
    static const Meta kMeta("TTest_Two_Parts", TCipherObject::Class(), sizeof(TTest_Two_Parts),
                            &NewInstance<TTest_Two_Parts>);
    return &kMeta;
  }
  const Meta* ClassType() const override { return Class(); }
};

TEST(CipherUtilTest, ScrubBytesZeroesExactlyTheRange) {
  unsigned char bytes[10];
  std::memset(bytes, 0xC3, sizeof bytes);
  ScrubBytes(bytes + 1, 8);
  EXPECT_THAT(bytes, ElementsAre(0xC3, 0, 0, 0, 0, 0, 0, 0, 0, 0xC3));

  std::memset(bytes, 0xC3, sizeof bytes);
  ScrubBytes(bytes, 0);
  ScrubBytes(bytes, -5);
  ScrubBytes(nullptr, 0);
  EXPECT_TRUE(std::all_of(bytes, bytes + 10, [](unsigned char b) { return b == 0xC3; }));
}

TEST(CipherUtilTest, ByteSwapsReverseEachWord) {
  EXPECT_EQ(ByteSwap32(0x01234567u), 0x67452301u);

  std::uint32_t words[3] = {0x01234567u, 0xA1B2C3D4u, 0x000000FFu};
  ByteSwapWords(words, words, 3);
  EXPECT_THAT(words, ElementsAre(0x67452301u, 0xD4C3B2A1u, 0xFF000000u));

  std::uint32_t out[2] = {7, 7};
  ByteSwapWords(words, out, 0);
  ByteSwapWords(words, out, -1);
  EXPECT_THAT(out, ElementsAre(7u, 7u));
  ByteSwapWords(words, out, 1);
  EXPECT_THAT(out, ElementsAre(0x01234567u, 7u));
}

TEST(CipherUtilTest, ClassNameTailKeepsWhatFollowsTheFirstUnderscore) {
  EXPECT_EQ(ClassNameTail(TFormat_HEX::Class()), "HEX");
  EXPECT_EQ(ClassNameTail(TFormat_Copy::Class()), "Copy");
  EXPECT_EQ(ClassNameTail(TCipherHashAlg2::Class()), "TCipherHashAlg2");
  EXPECT_EQ(ClassNameTail(TTest_Two_Parts::Class()), "Two_Parts");
  EXPECT_EQ(ClassNameTail(nullptr), "");
}

TEST(CipherUtilTest, ClassReferencesCreateAndRecogniseTheirOwnClass) {
  const TCipherClass concrete[] = {TCipherObject::Class(),   TFormat_Copy::Class(),
                                   TFormat_HEX::Class(),     TCipherHashAlg1::Class(),
                                   TCipherHashAlg2::Class(), TCipherClassList::Class(),
                                   TTest_Two_Parts::Class()};
  for (TCipherClass cls : concrete) {
    std::unique_ptr<TCipherObject> object = cls->MakeInstance();
    EXPECT_EQ(object->ClassType(), cls) << cls->Name();
    EXPECT_TRUE(ProbeInstanceOf(object.get(), cls)) << cls->Name();
    EXPECT_TRUE(ProbeInstanceOf(object.get(), TCipherObject::Class())) << cls->Name();
  }
  const TCipherClass abstract[] = {TCipherFormat::Class(), TCipherHash::Class(),
                                   TCipherHashAlg0::Class()};
  for (TCipherClass cls : abstract) {
    EXPECT_THROW(cls->MakeInstance(), std::logic_error) << cls->Name();
  }

  std::unique_ptr<TCipherObject> sha0 = TCipherHashAlg1::Class()->MakeInstance();
  EXPECT_TRUE(ProbeInstanceOf(sha0.get(), TCipherHash::Class()));
  EXPECT_FALSE(ProbeInstanceOf(sha0.get(), TCipherHashAlg2::Class()));
  EXPECT_FALSE(ProbeInstanceOf(sha0.get(), TCipherFormat::Class()));
  EXPECT_FALSE(ProbeInstanceOf(sha0.get(), nullptr));
  EXPECT_FALSE(ProbeInstanceOf(nullptr, TCipherObject::Class()));
}

// What the release observer saw of the last object released.
struct ReleaseRecord {
  int releases = 0;
  std::size_t size = 0;
  bool all_zero = false;
};
ReleaseRecord g_record;

void RecordRelease(const void* memory, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(memory);
  ++g_record.releases;
  g_record.size = size;
  g_record.all_zero = std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

class ReleaseObserverScope {
 public:
  ReleaseObserverScope() {
    g_record = ReleaseRecord();
    SetReleaseObserver(&RecordRelease);
  }
  ~ReleaseObserverScope() { SetReleaseObserver(nullptr); }
};

TEST(CipherUtilTest, ReleasedObjectMemoryIsZeroedBeforeItIsFreed) {
  ReleaseObserverScope scope;
  std::unique_ptr<TCipherHash> hash = TCipherHashAlg2::Class()->MakeHash();
  // Leave non-zero fields everywhere: bit count, padding byte, state.
  hash->Start();
  hash->Feed("some secret text", 16);
  hash->Finish();
  hash->Start();
  hash->Feed("more", 4);
  hash.reset();
  EXPECT_EQ(g_record.releases, 1);
  EXPECT_EQ(g_record.size, TCipherHashAlg2::Class()->InstanceSize());
  EXPECT_TRUE(g_record.all_zero);

  HashString(TCipherHashAlg1::Class(), "abc", TFormat_HEX::Class());
  EXPECT_EQ(g_record.releases, 2);
  EXPECT_EQ(g_record.size, sizeof(TCipherHashAlg1));
  EXPECT_TRUE(g_record.all_zero);
}

TEST(CipherUtilTest, DropModuleClassesRemovesOnlyTheUnloadedModulesClasses) {
  TCipherClassList* registry = ClassRegistry();
  ASSERT_TRUE(ProbeInstanceOf(registry, TCipherClassList::Class()));
  EXPECT_TRUE(registry->Items().empty());

  Dl_info info{};
  ASSERT_NE(dladdr(TFormat_HEX::Class(), &info), 0);
  const void* our_module = info.dli_fbase;
  ASSERT_NE(dladdr(reinterpret_cast<const void*>(&std::strlen), &info), 0);
  const void* other_module = info.dli_fbase;
  ASSERT_NE(our_module, other_module);

  registry->Items() = {TFormat_HEX::Class(), TCipherHashAlg2::Class()};
  DropModuleClasses(other_module);
  EXPECT_EQ(registry->Items().size(), 2u);
  DropModuleClasses(our_module);
  EXPECT_TRUE(registry->Items().empty());
}

}  // namespace
}  // namespace tly
