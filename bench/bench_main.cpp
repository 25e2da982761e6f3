// Runs every benchmark, then prints, for each pair "<name>/ours" and
// "<name>/reference", both results, their ratio and whether the ratio meets its
// target. Time pairs are judged by real (wall-clock) time, the median of a
// benchmark's runs; the ratio of CPU times is shown beside it. Real time on a
// machine shared with other work swings (and the kernel's write-back of dirty
// pages lands on whichever benchmark runs at the time), so the pairs that
// write files run in interleaved rounds.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// How a pair is compared: by time (ours / reference, lower is better) or by
// throughput (ours / reference, higher is better), and the ratio aimed at.
struct Target {
  bool by_throughput;
  double ratio;
};

const std::map<std::string, Target>& Targets() {
  static const std::map<std::string, Target> targets = {
      {"sha1_1MiB", {true, 0.9}},
      {"backfill_365_days", {false, 1.5}},
      {"save_day_full", {false, 3.0}},
  };
  return targets;
}

struct Result {
  double seconds = 0;           // real time of one iteration
  double cpu_seconds = 0;       // CPU time of one iteration
  double bytes_per_second = 0;  // 0 when the benchmark counts no bytes
};

// The median of `values` (not empty).
double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Shows the runs as the console reporter does and collects every run of each
// benchmark by its plain name (without iteration or time-type suffixes). A
// benchmark registered several times, interleaved with its reference so that
// both see the same changes of machine load, is summed up by the median of
// its runs.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that a log file gets plain text.
  CollectingReporter()
      : ConsoleReporter(::isatty(STDOUT_FILENO) == 1 ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      Runs& collected = runs_[run.run_name.function_name];
      const double per_second = benchmark::GetTimeUnitMultiplier(run.time_unit);
      collected.seconds.push_back(run.GetAdjustedRealTime() / per_second);
      collected.cpu_seconds.push_back(run.GetAdjustedCPUTime() / per_second);
      const auto bytes = run.counters.find("bytes_per_second");
      collected.bytes_per_second.push_back(bytes == run.counters.end() ? 0 : bytes->second.value);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  std::map<std::string, Result> Results() const {
    std::map<std::string, Result> results;
    for (const auto& [name, collected] : runs_) {
      results[name] = {Median(collected.seconds), Median(collected.cpu_seconds),
                       Median(collected.bytes_per_second)};
    }
    return results;
  }

 private:
  struct Runs {
    std::vector<double> seconds;
    std::vector<double> cpu_seconds;
    std::vector<double> bytes_per_second;
  };
  std::map<std::string, Runs> runs_;
};

std::string Describe(const Result& result, bool by_throughput) {
  char text[64];
  if (by_throughput) {
    std::snprintf(text, sizeof text, "%.1f MB/s", result.bytes_per_second / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.3f ms", result.seconds * 1e3);
  }
  return text;
}

void PrintRatios(const std::map<std::string, Result>& results) {
  static constexpr const char kOurs[] = "/ours";
  std::printf("\n%-20s %16s %16s %8s %10s  %s\n", "pair", "ours", "reference", "ratio", "cpu ratio",
              "target");
  for (const auto& [name, ours] : results) {
    if (name.size() < sizeof kOurs) continue;
    const size_t cut = name.size() - (sizeof kOurs - 1);
    if (name.compare(cut, std::string::npos, kOurs) != 0) continue;
    const std::string pair = name.substr(0, cut);
    const auto reference = results.find(pair + "/reference");
    if (reference == results.end()) continue;

    const auto known = Targets().find(pair);
    const bool by_throughput = known != Targets().end() && known->second.by_throughput;
    const double ratio = by_throughput ? ours.bytes_per_second / reference->second.bytes_per_second
                                       : ours.seconds / reference->second.seconds;
    std::string target = "-";
    if (known != Targets().end()) {
      const bool met = by_throughput ? ratio >= known->second.ratio : ratio <= known->second.ratio;
      char text[64];
      std::snprintf(text, sizeof text, "%s %s %.2f: %s",
                    by_throughput ? "throughput ours/ref" : "time ours/ref",
                    by_throughput ? ">=" : "<=", known->second.ratio, met ? "met" : "MISSED");
      target = text;
    }
    std::printf("%-20s %16s %16s %8.3f %10.3f  %s\n", pair.c_str(),
                Describe(ours, by_throughput).c_str(),
                Describe(reference->second, by_throughput).c_str(), ratio,
                ours.cpu_seconds / reference->second.cpu_seconds, target.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  PrintRatios(reporter.Results());
  return 0;
}
