#include "run_command.h"

#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <limits>

#include "exit_codes.h"
#include "generator/generation_cycle.h"
#include "generator/generation_timer.h"
#include "settings_file.h"
#include "support/text_trim.h"

namespace tly {

namespace {

using SteadyClock = std::chrono::steady_clock;


// SIGINT, SIGTERM and SIGHUP (a closed terminal) are blocked for the run and
// taken synchronously with sigtimedwait, so a signal can never slip in between
// a check and a sleep.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
  }
  ~StopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Waits until `deadline` or a stop signal; true when a signal came.
  bool WaitUntil(SteadyClock::time_point deadline) {
    for (;;) {
      const auto remaining = deadline - SteadyClock::now();
      if (remaining <= SteadyClock::duration::zero()) return false;
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count();
      timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
      const int signal = sigtimedwait(&set_, nullptr, &timeout);
      if (signal > 0) return true;
      // EAGAIN: the time is up (checked again above); EINTR: another signal.
    }
  }

 private:
  sigset_t set_;
  sigset_t previous_;
};

int CountUsedSlots(const DayCounts& day) {
  int used = 0;
  for (int slot = 0; slot < kSlotsPerDay; ++slot) used += day.SlotUsed[slot] ? 1 : 0;
  return used;
}

std::string TicksText(uint64_t ticks) {
  return std::to_string(ticks) + (ticks == 1 ? " tick" : " ticks");
}

}  // namespace

CLI::App* AddRunCommand(CLI::App& app, RunOptions& options) {
  CLI::App* run = app.add_subcommand(
      "run", "Generate without a window until Ctrl-C, SIGTERM or the end of --seconds");
  run->add_option("--out", options.out_dir,
                  "Output directory of the day files (default: OutDir of the settings file)");
  run->add_option("--seconds", options.seconds, "Stop after this many seconds")
      ->check(CLI::Range(int64_t{0}, int64_t{std::numeric_limits<int32_t>::max()}));
  run->add_option("--seed", options.seed, "Initial state of the random source, 0..4294967295")
      ->capture_default_str();
  return run;
}

int RunGeneration(const RunOptions& options) {
  std::string out_dir(TrimBlanksAndControls(options.out_dir));
  std::string source = "--out";
  if (out_dir.empty()) {
    const std::string ini = SettingsFileName();
    out_dir = ReadOutDirSetting(ini);
    source = "OutDir in [General] of " + ini;
    if (out_dir.empty()) {
      std::cerr << "tly-generator run: no output directory: give --out DIR or set " << source
                << "\n";
      return kExitUsage;
    }
  }
  std::error_code error;
  if (!std::filesystem::is_directory(out_dir, error)) {
    std::cerr << "tly-generator run: the output directory " << out_dir << " (from " << source
              << ") does not exist or is not a directory\n";
    return kExitUsage;
  }

  StopSignals signals;
  FlagTimer timer;
  GenerationCycle cycle(
      timer, [&out_dir] { return out_dir; }, {}, options.seed);
  cycle.StartGeneration();
  std::cout << "Generating into " << cycle.DayFileName()
            << " (a tick every 2 s; Ctrl-C or SIGTERM stops)" << std::endl;

  const auto tick = std::chrono::seconds(GenerationCycle::kTickSeconds);
  const auto start = SteadyClock::now();
  const auto end = options.seconds >= 0 ? start + std::chrono::seconds(options.seconds)
                                        : SteadyClock::time_point::max();
  auto next_tick = start + tick;
  uint64_t ticks = 0;
  for (;;) {
    if (signals.WaitUntil(std::min(next_tick, end))) break;
    const auto now = SteadyClock::now();
    if (now >= end) break;
    if (now < next_tick) continue;
    cycle.Tick();
    ++ticks;
    // After a stall (a suspended process) the missed ticks are dropped.
    while (next_tick <= SteadyClock::now()) next_tick += tick;
  }

  cycle.StopGeneration();
  if (!cycle.LastSaveOk()) {
    std::cout.flush();
    std::cerr << "Stopped after " << TicksText(ticks) << "; could not save " << cycle.DayFileName() << ": " << cycle.LastSaveError()
              << std::endl;
    return kExitFailed;
  }
  const int rows = CountUsedSlots(cycle.DayData());
  std::cout << "Stopped after " << TicksText(ticks) << "; saved " << rows << (rows == 1 ? " quarter-hour row" : " quarter-hour rows")
            << " to " << cycle.DayFileName() << std::endl;
  return kExitOk;
}

}  // namespace tly
