#ifndef TLY_FUZZ_FUZZ_CHECK_H_
#define TLY_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

// Stops the fuzzer with a message when a property does not hold; the fuzzer
// then keeps the input that broke it as a crash artifact.
#define FUZZ_REQUIRE(condition)                                                             \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

#endif  // TLY_FUZZ_FUZZ_CHECK_H_
