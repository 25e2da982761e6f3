// The save of a full day (96 quarter hours, 64 channels) as the generation
// cycle does it, in two steps (rows, then the sealed header), against writing
// the same final bytes once through a temporary file.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench_rounds.h"
#include "bench_temp_dir.h"
#include "config/tly_config.h"
#include "counting/day_counts.h"
#include "counting/day_file_writer.h"
#include "generator/day_file_image.h"
#include "generator/default_layout.h"
#include "support/date_time.h"

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
    tly::WriteDayRows(day, file, tly::kGeneratorShopCode, tly::EncodeTime(1, 0, 0, 0),
                      tly::EncodeTime(0, 0, 0, 0), 0);
    config.SetHeaderToFile(file);
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

// The two steps of the save on their own, to see where its time goes.
void SaveDayRowsStep(benchmark::State& state) {
  tly::bench::BenchTempDir dir;
  const std::string file = dir.path() + "/261207.tly";
  for (auto _ : state) {
    tly::WriteDayRows(FullDay(), file, tly::kGeneratorShopCode, tly::EncodeTime(1, 0, 0, 0),
                      tly::EncodeTime(0, 0, 0, 0), 0);
  }
}

void SaveDayHeaderStep(benchmark::State& state) {
  tly::bench::BenchTempDir dir;
  const std::string file = dir.path() + "/261207.tly";
  tly::WriteDayRows(FullDay(), file, tly::kGeneratorShopCode, tly::EncodeTime(1, 0, 0, 0),
                    tly::EncodeTime(0, 0, 0, 0), 0);
  tly::TTlyConfig config;
  tly::ApplyDefaultLayout(config);
  // Rewriting a sealed file reads the same rows and writes the same bytes as
  // rewriting the rows alone.
  for (auto _ : state) config.SetHeaderToFile(file);
}

const bool registered = [] {
  tly::bench::RegisterInRounds(5,
                               {{"save_day_full/ours", SaveDayOurs},
                                {"save_day_full/reference", SaveDayReference},
                                {"save_day_full_steps/rows", SaveDayRowsStep},
                                {"save_day_full_steps/header", SaveDayHeaderStep}},
                               [](benchmark::internal::Benchmark* b) {
                                 b->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(0.3);
                               });
  return true;
}();

}  // namespace
