#ifndef TLY_TESTS_TESTUTIL_SHA1_H_
#define TLY_TESTS_TESTUTIL_SHA1_H_

#include <openssl/evp.h>

#include <string>
#include <string_view>

namespace tly::testing {

// SHA-1 of `bytes` in upper-case hexadecimal, computed by OpenSSL: a reference
// independent of the program's own hash library.
inline std::string Sha1UpperHex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr) != 1) {
    return "OpenSSL SHA-1 failed";
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_SHA1_H_
