#ifndef TLY_BENCH_BENCH_ROUNDS_H_
#define TLY_BENCH_BENCH_ROUNDS_H_

#include <benchmark/benchmark.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace tly::bench {

// One benchmark of a group that runs in rounds.
struct RoundMember {
  const char* name;
  void (*function)(benchmark::State&);
};

// Registers every member of `group` once per round, the members in turn, and
// lets `configure` set each registration's options. Ours and its reference
// then meet the same changes of machine load (and of the kernel's write-back);
// the report takes the median of the rounds' ratios. Every other round runs
// the group backwards, so that neither side always runs first.
template <typename Configure>
void RegisterInRounds(int rounds, std::initializer_list<RoundMember> group, Configure configure) {
  std::vector<RoundMember> order(group);
  for (int round = 0; round < rounds; ++round) {
    for (const RoundMember& member : order) {
      configure(benchmark::RegisterBenchmark(member.name, member.function));
    }
    std::reverse(order.begin(), order.end());
  }
}

}  // namespace tly::bench

#endif  // TLY_BENCH_BENCH_ROUNDS_H_
