// A year of backfill against the bare cost of its random draws: the draws form
// one serial chain, so everything the backfill does around them should cost
// little on top.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "backfill/backfill.h"
#include "bench_rounds.h"
#include "bench_temp_dir.h"
#include "flat/random_source.h"

namespace {

constexpr uint64_t kDays = 365;
constexpr uint64_t kDraws = kDays * tly::kTicksPerDay * 10;  // 157,680,000

void BackfillOurs(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    tly::BackfillRequest request;
    request.out_dir = tly::bench::KeptBenchDir();
    request.from = {2026, 1, 1};
    request.to = {2026, 12, 31};
    state.ResumeTiming();

    tly::Backfill(request);
  }
}

void BackfillReference(benchmark::State& state) {
  for (auto _ : state) {
    tly::RandomSource random(0);
    uint64_t sum = 0;
    for (uint64_t i = 0; i < kDraws; ++i) sum += random.RandomBelow(2);
    benchmark::DoNotOptimize(sum);
  }
}

const bool registered = [] {
  tly::bench::RegisterInRounds(3,
                               {{"backfill_365_days/ours", BackfillOurs},
                                {"backfill_365_days/reference", BackfillReference}},
                               [](benchmark::internal::Benchmark* b) {
                                 b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
                               });
  return true;
}();

}  // namespace
