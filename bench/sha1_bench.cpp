// SHA-1 over 1 MiB: our TCipherHashAlg2 against OpenSSL on the same bytes.
#include <benchmark/benchmark.h>
// SHA1() is the plain one-shot digest; OpenSSL 3 only marks it deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <cstdint>
#include <random>
#include <string>

#include "bench_rounds.h"
#include "cipher/cipher_hash.h"

namespace {

constexpr std::size_t kDataSize = std::size_t{1} << 20;

const std::string& BenchData() {
  static const std::string data = [] {
    std::mt19937 rng(1);
    std::string bytes(kDataSize, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    return bytes;
  }();
  return data;
}

void Sha1Ours(benchmark::State& state) {
  const std::string& data = BenchData();
  for (auto _ : state) {
    std::string digest = tly::HashBuffer(tly::TCipherHashAlg2::Class(), data.data(),
                                         static_cast<std::int32_t>(data.size()));
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(data.size()));
  state.SetLabel(tly::Sha1HardwareInUse() ? "SHA instructions" : "portable");
}

void Sha1Reference(benchmark::State& state) {
  const std::string& data = BenchData();
  unsigned char digest[SHA_DIGEST_LENGTH];
  for (auto _ : state) {
    SHA1(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(data.size()));
}

// Both sides are bound by the same instruction latencies, so their ratio sits
// near 1 and the processor's clock swings decide single rounds: more rounds.
const bool registered = [] {
  tly::bench::RegisterInRounds(
      9, {{"sha1_1MiB/ours", Sha1Ours}, {"sha1_1MiB/reference", Sha1Reference}},
      [](benchmark::internal::Benchmark* b) { b->MinTime(0.2); });
  return true;
}();

}  // namespace
