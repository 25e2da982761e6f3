// A backfill against the bare writing of the files it writes: the file system
// is the limit of a backfill, and generating the days should hide behind it.
// The reference writes the same bytes, held in memory, through the same
// temporary name and rename, one file after the other.
//
// Every run writes into a directory of its own, removed only when the program
// ends (KeptBenchDir). The dirty pages of the runs before are written out
// (untimed) before each run starts, so that no run pays for another's
// write-back.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "backfill/backfill.h"
#include "bench_rounds.h"
#include "bench_temp_dir.h"
#include "support/file_read.h"

namespace {

using tly::bench::KeptBenchDir;

struct DayFile {
  std::string name;  // "yymmdd.tly"
  std::string bytes;
};

// The files a backfill of `from` to `to` (seed 0) writes, in day order, read
// back into memory; made once per range.
const std::vector<DayFile>& FilesOf(tly::CivilDate from, tly::CivilDate to) {
  static std::map<std::pair<int, int>, std::vector<DayFile>> made;
  std::vector<DayFile>& files = made[{from.Year, to.Year}];
  if (!files.empty()) return files;
  tly::BackfillRequest request;
  request.out_dir = KeptBenchDir();
  request.from = from;
  request.to = to;
  tly::Backfill(request);
  for (int year = from.Year; year <= to.Year; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 31; ++day) {
        char name[16];
        std::snprintf(name, sizeof name, "%02d%02d%02d.tly", year % 100, month, day);
        std::optional<std::string> bytes = tly::ReadWholeFile(request.out_dir + "/" + name);
        if (bytes) files.push_back({name, std::move(*bytes)});
      }
    }
  }
  return files;
}

// Backfills the whole years `first`..`last` into a fresh directory.
void Ours(benchmark::State& state, int first, int last) {
  for (auto _ : state) {
    state.PauseTiming();
    tly::BackfillRequest request;
    request.out_dir = KeptBenchDir();
    request.from = {first, 1, 1};
    request.to = {last, 12, 31};
    ::sync();
    state.ResumeTiming();

    tly::Backfill(request);
  }
}

// Writes `files` into a fresh directory as plainly as it can be done: each
// through its temporary name, renamed over its own name when written.
void Reference(benchmark::State& state, int first, int last) {
  const std::vector<DayFile>& files = FilesOf({first, 1, 1}, {last, 12, 31});
  for (auto _ : state) {
    state.PauseTiming();
    const std::string dir = KeptBenchDir();
    ::sync();
    state.ResumeTiming();

    for (const DayFile& file : files) {
      const std::string path = dir + "/" + file.name;
      const std::string temporary = dir + "/" + file.name.substr(0, 6) + ".tmp";
      const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0 ||
          ::write(fd, file.bytes.data(), file.bytes.size()) !=
              static_cast<ssize_t>(file.bytes.size()) ||
          ::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        state.SkipWithError("cannot write a day file");
        return;
      }
    }
  }
}

void YearOurs(benchmark::State& state) {
  Ours(state, 2026, 2026);
}
void YearReference(benchmark::State& state) {
  Reference(state, 2026, 2026);
}
void CenturyOurs(benchmark::State& state) {
  Ours(state, 1991, 2090);
}
void CenturyReference(benchmark::State& state) {
  Reference(state, 1991, 2090);
}

const bool registered = [] {
  // A year takes some 30 ms, and a round's ratio swings by a fifth either
  // way with the kernel's work on the files: the median of many rounds.
  tly::bench::RegisterInRounds(15,
                               {{"backfill_files_365_days/ours", YearOurs},
                                {"backfill_files_365_days/reference", YearReference}},
                               [](benchmark::internal::Benchmark* b) {
                                 b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
                               });
  tly::bench::RegisterInRounds(3,
                               {{"backfill_files_100_years/ours", CenturyOurs},
                                {"backfill_files_100_years/reference", CenturyReference}},
                               [](benchmark::internal::Benchmark* b) {
                                 b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
                               });
  return true;
}();

}  // namespace
