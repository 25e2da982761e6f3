// The save of a full day (96 quarter hours, 64 channels) as the generation
// cycle does it (the sealed file built in memory, then one replacement of the
// day file) against only writing the same bytes once through a temporary
// file: what the save costs on top of its one replacement.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench_rounds.h"
#include "bench_temp_dir.h"
#include "config/day_file_replace.h"
#include "config/tly_config.h"
#include "counting/day_counts.h"
#include "flat/day_file_image.h"
#include "flat/default_layout.h"
#include "support/date_time.h"
#include "support/safe_file.h"

namespace {

const tly::DayCounts& FullDay() {
  static const tly::DayCounts day = [] {
    tly::DayCounts full{};
    tly::InitDayCounts(full, 2026, 12, 7);
    const tly::TDateTime date = full.Date;
    for (int slot = 0; slot < tly::kSlotsPerDay; ++slot) {
      const tly::TDateTime moment = date + (slot * 15 + 7) / (24.0 * 60);
      for (int32_t channel = 0; channel < tly::kMaxChannels; channel += 2) {
        tly::AddCounts(full, channel, slot * 37 + channel, moment, channel + 1,
                       (slot * 11 + channel) % 200, -1, 0, -1, 0);
      }
    }
    return full;
  }();
  return day;
}

void SaveDayOurs(benchmark::State& state) {
  tly::bench::BenchTempDir dir;
  const std::string file = dir.path() + "/261207.tly";
  tly::TTlyConfig config;
  tly::ApplyDefaultLayout(config);
  const tly::DayCounts& day = FullDay();
  for (auto _ : state) {
    tly::ReplaceDayFile(file, tly::BuildDayFileImage(day, config, tly::SystemNow()));
  }
}

void SaveDayReference(benchmark::State& state) {
  tly::bench::BenchTempDir dir;
  const std::string file = dir.path() + "/261207.tly";
  tly::TTlyConfig config;
  tly::ApplyDefaultLayout(config);
  const std::string bytes = tly::BuildDayFileImage(FullDay(), config, tly::SystemNow());
  for (auto _ : state) tly::ReplaceFileWith(file, bytes);
}

const bool registered = [] {
  tly::bench::RegisterInRounds(
      5, {{"save_day_full/ours", SaveDayOurs}, {"save_day_full/reference", SaveDayReference}},
      [](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(0.3);
      });
  return true;
}();

}  // namespace
