// Runs every benchmark, then prints, for each pair "<name>/ours" and
// "<name>/reference", both median results, their ratio and whether the ratio
// meets its target. Time pairs are judged by real (wall-clock) time; the ratio
// of CPU times, turned the same way as the judged ratio, is shown beside it.
// Real time on a machine shared with other work swings (and the kernel's
// write-back of dirty pages lands on whichever benchmark runs at the time), so
// the pairs run in interleaved rounds and the ratio is the median of the
// rounds' ratios.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// What a pair compares: time and peak memory (ours / reference, lower is
// better) or throughput (ours / reference, higher is better).
enum class Measure { kTime, kThroughput, kMemory };

// How a pair is compared, and the ratio aimed at.
struct Target {
  Measure measure;
  double ratio;
};

const std::map<std::string, Target>& Targets() {
  static const std::map<std::string, Target> targets = {
      {"sha1_1MiB", {Measure::kThroughput, 0.9}},
      {"backfill_365_days", {Measure::kTime, 1.5}},
      {"backfill_files_365_days", {Measure::kTime, 1.2}},
      {"backfill_files_100_years", {Measure::kTime, 1.2}},
      {"save_day_full", {Measure::kTime, 1.5}},
      {"scenario_100x365", {Measure::kTime, 1.3}},
      // Realistic traffic (every knob on) against the same files written bare.
      {"scenario_realism_100x365", {Measure::kTime, 1.5}},
      // Two threads at least 1.6 times as fast as one.
      {"scenario_jobs2_vs_1", {Measure::kTime, 1 / 1.6}},
      {"scenario_rss_1000_vs_100", {Measure::kMemory, 1.2}},
      {"deliver_ftp_100x30", {Measure::kTime, 1.5}},
  };
  return targets;
}

// Every run of one benchmark, in the order they ran.
struct Samples {
  std::vector<double> seconds;           // real time of one iteration
  std::vector<double> cpu_seconds;       // CPU time of one iteration
  std::vector<double> bytes_per_second;  // 0 when the benchmark counts no bytes
  std::vector<double> max_rss;           // bytes; 0 when the benchmark measures no memory
};

// The median of `values` (not empty).
double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The ratio ours / reference. When both ran in the same number of
// interleaved rounds, the median of the rounds' ratios, so that a round
// stretched by other work on the machine does not tip the result; otherwise
// the ratio of the medians.
double Ratio(const std::vector<double>& ours, const std::vector<double>& reference) {
  if (ours.size() != reference.size()) return Median(ours) / Median(reference);
  std::vector<double> ratios;
  for (size_t round = 0; round < ours.size(); ++round) {
    ratios.push_back(ours[round] / reference[round]);
  }
  return Median(ratios);
}

// Shows the runs as the console reporter does and collects every run of each
// benchmark by its plain name (without iteration or time-type suffixes). A
// benchmark may be registered several times, interleaved with its reference,
// so that both see the same changes of machine load.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that a log file gets plain text.
  CollectingReporter()
      : ConsoleReporter(::isatty(STDOUT_FILENO) == 1 ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      Samples& collected = samples_[run.run_name.function_name];
      const double per_second = benchmark::GetTimeUnitMultiplier(run.time_unit);
      collected.seconds.push_back(run.GetAdjustedRealTime() / per_second);
      collected.cpu_seconds.push_back(run.GetAdjustedCPUTime() / per_second);
      const auto bytes = run.counters.find("bytes_per_second");
      collected.bytes_per_second.push_back(bytes == run.counters.end() ? 0 : bytes->second.value);
      const auto rss = run.counters.find("max_rss");
      collected.max_rss.push_back(rss == run.counters.end() ? 0 : rss->second.value);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  const std::map<std::string, Samples>& samples() const { return samples_; }

 private:
  std::map<std::string, Samples> samples_;
};

// The median result of a benchmark, in MB/s, MiB or ms.
std::string Describe(const Samples& samples, Measure measure) {
  char text[64];
  if (measure == Measure::kThroughput) {
    std::snprintf(text, sizeof text, "%.1f MB/s", Median(samples.bytes_per_second) / 1e6);
  } else if (measure == Measure::kMemory) {
    std::snprintf(text, sizeof text, "%.1f MiB", Median(samples.max_rss) / 1048576);
  } else {
    std::snprintf(text, sizeof text, "%.3f ms", Median(samples.seconds) * 1e3);
  }
  return text;
}

void PrintRatios(const std::map<std::string, Samples>& results) {
  static constexpr const char kOurs[] = "/ours";
  std::printf("\n%-26s %16s %16s %8s %10s  %s\n", "pair", "ours", "reference", "ratio", "cpu ratio",
              "target");
  for (const auto& [name, ours] : results) {
    if (name.size() < sizeof kOurs) continue;
    const size_t cut = name.size() - (sizeof kOurs - 1);
    if (name.compare(cut, std::string::npos, kOurs) != 0) continue;
    const std::string pair = name.substr(0, cut);
    const auto reference = results.find(pair + "/reference");
    if (reference == results.end()) continue;

    const auto known = Targets().find(pair);
    const Measure measure = known != Targets().end() ? known->second.measure : Measure::kTime;
    const bool by_throughput = measure == Measure::kThroughput;
    const double ratio =
        by_throughput ? Ratio(ours.bytes_per_second, reference->second.bytes_per_second)
        : measure == Measure::kMemory ? Ratio(ours.max_rss, reference->second.max_rss)
                                      : Ratio(ours.seconds, reference->second.seconds);
    std::string target = "-";
    if (known != Targets().end()) {
      const bool met = by_throughput ? ratio >= known->second.ratio : ratio <= known->second.ratio;
      const char* what = by_throughput                 ? "throughput ours/ref"
                         : measure == Measure::kMemory ? "memory ours/ref"
                                                       : "time ours/ref";
      char text[64];
      std::snprintf(text, sizeof text, "%s %s %.2f: %s", what,
                    by_throughput ? ">=" : "<=", known->second.ratio, met ? "met" : "MISSED");
      target = text;
    }
    std::printf("%-26s %16s %16s %8.3f %10.3f  %s\n", pair.c_str(), Describe(ours, measure).c_str(),
                Describe(reference->second, measure).c_str(), ratio,
                by_throughput ? Ratio(reference->second.cpu_seconds, ours.cpu_seconds)
                              : Ratio(ours.cpu_seconds, reference->second.cpu_seconds),
                target.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  PrintRatios(reporter.samples());
  // Before the kept directories are removed, which can take a while.
  std::fflush(stdout);
  return 0;
}
