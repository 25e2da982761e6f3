// Scenario backfills against the file system they write to: a year of a
// hundred retail sites, plain and with every knob of realistic traffic on,
// against a bare loop writing the same files' bytes with the same atomic
// replacement; two threads against one; and the peak memory of a thousand
// sites against a hundred.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backfill/scenario_backfill.h"
#include "bench_rounds.h"
#include "bench_temp_dir.h"
#include "dayfile/day_file_name.h"
#include "scenario/scenario_file.h"
#include "scenario/site_day.h"
#include "support/safe_file.h"

namespace {

constexpr tly::CivilDate kYearFrom{2027, 1, 1};
constexpr tly::CivilDate kYearTo{2027, 12, 31};

// VmHWM of process `pid` in bytes, 0 when it cannot be read.
double HighWaterMark(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) * 1024;
  }
  return 0;
}

// The text of the scenario of `sites` sites.
std::string SitesText(int sites) {
  std::string text =
      "seed = 1\n[defaults]\nprofile = \"retail\"\nvisitors = 2400\n"
      "time_zone = \"Europe/Paris\"\n";
  for (int i = 0; i < sites; ++i) {
    text += "[[site]]\nname = \"s" + std::to_string(i) + "\"\nshop_code = \"" + std::to_string(i) +
            "\"\n";
  }
  return text;
}

// A hundred retail sites of the program's own layout, in one time zone.
const tly::Scenario& HundredSites() {
  static const tly::Scenario scenario = tly::ParseScenario(SitesText(100), "bench.toml");
  return scenario;
}

// The same hundred sites with every knob of realistic traffic on.
const tly::Scenario& HundredRealisticSites() {
  static const tly::Scenario scenario = tly::ParseScenario(
      "seed = 1\n[defaults]\nsmooth = true\ndispersion = 4\ngroup_size_mean = 1.8\n"
      "closing_taper_minutes = 45\ndwell_spread = 0.7\nwalk_through_share = 0.2\n"
      "staff_per_day = 12\n"
      "staff_hours = \"07:00-22:00\"\ncount_error_percent = 2\nocclusion = 0.05\n"
      "weather_correlation = 0.7\nholidays = [\"2027-05-13\", \"2027-08-15\"]\n"
      "events = [{ from = \"2027-11-26\", to = \"2027-11-28\", factor = 1.8 }]\n" +
          SitesText(100).replace(0, std::string("seed = 1\n[defaults]\n").size(), ""),
      "bench.toml");
  return scenario;
}

tly::ScenarioBackfillRequest Request(const tly::Scenario& scenario, const std::string& out,
                                     int jobs) {
  tly::ScenarioBackfillRequest request;
  request.scenario = &scenario;
  request.out_dir = out;
  request.from = kYearFrom;
  request.to = kYearTo;
  request.seed = scenario.seed;
  request.jobs = jobs;
  return request;
}

void BackfillYear(benchmark::State& state, int jobs,
                  const tly::Scenario& scenario = HundredSites()) {
  for (auto _ : state) {
    state.PauseTiming();
    auto dir = std::make_unique<tly::bench::BenchTempDir>();
    state.ResumeTiming();
    tly::ScenarioBackfill(Request(scenario, dir->path(), jobs));
    state.PauseTiming();
    dir.reset();
    state.ResumeTiming();
  }
}

void ScenarioYearOurs(benchmark::State& state) {
  BackfillYear(state, 1);
}

// The files of a year of `scenario`'s sites, by name under the output folder.
std::vector<std::pair<std::string, std::string>> YearFiles(const tly::Scenario& scenario) {
  std::vector<std::pair<std::string, std::string>> made;
  const tly::TDateTime first = tly::EncodeDate(kYearFrom.Year, kYearFrom.Month, kYearFrom.Day);
  const tly::TDateTime last = tly::EncodeDate(kYearTo.Year, kYearTo.Month, kYearTo.Day);
  for (const tly::SiteSettings& site : scenario.sites) {
    for (tly::TDateTime date = first; date <= last; date += 1) {
      auto day = std::make_unique<tly::DayCounts>();
      tly::InitDayCountsFor(*day, date);
      made.emplace_back(
          site.name + "/" + tly::DayFileBaseName(date),
          tly::SiteDayFile(site, scenario.seed, date, *day, date + tly::EncodeTime(23, 59, 58, 0)));
    }
  }
  return made;
}

// The reference writes the backfill's own files, made before its clock runs:
// what is left to measure is the file system.
void WriteYear(benchmark::State& state, const tly::Scenario& scenario,
               const std::vector<std::pair<std::string, std::string>>& files) {
  for (auto _ : state) {
    state.PauseTiming();
    auto dir = std::make_unique<tly::bench::BenchTempDir>();
    for (const tly::SiteSettings& site : scenario.sites) {
      std::filesystem::create_directory(dir->path() + "/" + site.name);
    }
    state.ResumeTiming();
    for (const auto& [name, bytes] : files) tly::ReplaceFileWith(dir->path() + "/" + name, bytes);
    state.PauseTiming();
    dir.reset();
    state.ResumeTiming();
  }
}

void ScenarioYearReference(benchmark::State& state) {
  static const auto files = YearFiles(HundredSites());
  WriteYear(state, HundredSites(), files);
}

void RealismYearOurs(benchmark::State& state) {
  BackfillYear(state, 1, HundredRealisticSites());
}

void RealismYearReference(benchmark::State& state) {
  static const auto files = YearFiles(HundredRealisticSites());
  WriteYear(state, HundredRealisticSites(), files);
}

void ScenarioJobsOurs(benchmark::State& state) {
  BackfillYear(state, 2);
}
void ScenarioJobsReference(benchmark::State& state) {
  BackfillYear(state, 1);
}

// The peak resident memory of the program reading a scenario of `sites`
// sites and writing 30 days of it on two threads: VmHWM of its own image,
// read when it is about to exit (traced, it stops there), so that nothing of
// the benchmark's own memory counts as it would in the child's rusage.
void PeakMemory(benchmark::State& state, int sites) {
  for (auto _ : state) {
    tly::bench::BenchTempDir dir;
    const std::string scenario = dir.path() + "/sites.toml";
    tly::ReplaceFileWith(scenario, SitesText(sites));
    std::filesystem::create_directory(dir.path() + "/out");
    std::vector<std::string> args = {TLY_GENERATOR_PROGRAM,
                                     "backfill",
                                     "--scenario",
                                     scenario,
                                     "--out",
                                     dir.path() + "/out",
                                     "--from",
                                     "2027-01-01",
                                     "--to",
                                     "2027-01-30",
                                     "--jobs",
                                     "2"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
      ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
      if (std::freopen("/dev/null", "w", stdout) == nullptr) ::_exit(126);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    double peak = 0;
    int status = 0;
    // Stopped at the exec; from then on, stopped again when it exits.
    ::waitpid(child, &status, 0);
    ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT);
    ::ptrace(PTRACE_CONT, child, nullptr, nullptr);
    while (::waitpid(child, &status, 0) == child && WIFSTOPPED(status)) {
      int passed_on = 0;
      if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
        peak = HighWaterMark(child);
      } else {
        passed_on = WSTOPSIG(status);
      }
      ::ptrace(PTRACE_CONT, child, nullptr,
               reinterpret_cast<void*>(static_cast<intptr_t>(passed_on)));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || peak == 0) {
      state.SkipWithError("the backfill failed");
      return;
    }
    state.counters["max_rss"] = peak;
  }
}

void PeakMemoryOurs(benchmark::State& state) {
  PeakMemory(state, 1000);
}
void PeakMemoryReference(benchmark::State& state) {
  PeakMemory(state, 100);
}

const bool registered = [] {
  const auto once = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
  };
  tly::bench::RegisterInRounds(3,
                               {{"scenario_100x365/ours", ScenarioYearOurs},
                                {"scenario_100x365/reference", ScenarioYearReference}},
                               once);
  tly::bench::RegisterInRounds(3,
                               {{"scenario_realism_100x365/ours", RealismYearOurs},
                                {"scenario_realism_100x365/reference", RealismYearReference}},
                               once);
  tly::bench::RegisterInRounds(2,
                               {{"scenario_jobs2_vs_1/ours", ScenarioJobsOurs},
                                {"scenario_jobs2_vs_1/reference", ScenarioJobsReference}},
                               once);
  tly::bench::RegisterInRounds(3,
                               {{"scenario_rss_1000_vs_100/ours", PeakMemoryOurs},
                                {"scenario_rss_1000_vs_100/reference", PeakMemoryReference}},
                               once);
  return true;
}();

}  // namespace
