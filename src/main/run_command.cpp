#include "run_command.h"

#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <limits>

#include "command_style.h"
#include "exit_codes.h"
#include "generator/generation_cycle.h"
#include "generator/generation_timer.h"
#include "settings_file.h"
#include "support/directory_lock.h"

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

std::string BaseName(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

// Tells once when the saves start to fail, with the reason, and once when
// they work again; a run that cannot save keeps generating in memory.
class SaveReporter {
 public:
  explicit SaveReporter(CommandOutput& output) : output_(output) {}

  void Look(const GenerationCycle& cycle) {
    if (cycle.SaveCount() == seen_saves_) return;
    seen_saves_ = cycle.SaveCount();
    if (!cycle.LastSaveOk() && !failing_) {
      output_.Error("cannot save " + cycle.DayFileName() + ": " + cycle.LastSaveError() +
                    "; generating on in memory, every save tries again");
      failing_ = true;
    } else if (cycle.LastSaveOk() && failing_) {
      output_.Error("saving works again: " + cycle.DayFileName());
      failing_ = false;
    }
  }

 private:
  CommandOutput& output_;
  uint64_t seen_saves_ = 0;
  bool failing_ = false;
};

}  // namespace

CLI::App* AddRunCommand(CLI::App& app, RunOptions& options) {
  CLI::App* run = app.add_subcommand(
      "run", "Generate without a window until Ctrl-C, SIGTERM or the end of --seconds");
  AddValueOption(*run, "--out", options.out_dir, "DIR",
                 "Existing output directory of the day files, used as given (default: OutDir "
                 "of the settings file)");
  AddValueOption(*run, "--seconds", options.seconds, "N",
                 "Stop after N seconds, 0 to 2147483647 (default: run until a signal)");
  AddValueOption(*run, "--seed", options.seed, "N",
                 "Initial state of the random source, 0 to 4294967295 (default: 0)");
  return run;
}

int RunGeneration(const RunOptions& options) {
  CommandOutput output("run");
  int64_t seconds = -1;
  uint32_t seed = 0;
  try {
    if (!options.seconds.empty()) {
      seconds = static_cast<int64_t>(ParseDecimalOption("--seconds", options.seconds, 0,
                                                        std::numeric_limits<int32_t>::max()));
    }
    seed = static_cast<uint32_t>(
        ParseDecimalOption("--seed", options.seed, 0, std::numeric_limits<uint32_t>::max()));
  } catch (const UsageError& problem) {
    output.Error(problem.what());
    return kExitUsage;
  }

  std::string out_dir = options.out_dir;
  std::string source = "--out";
  if (out_dir.empty()) {
    const std::string ini = SettingsFileName();
    out_dir = ReadOutDirSetting(ini);
    source = "OutDir in [General] of " + ini;
    if (out_dir.empty()) {
      output.Error("no output directory: give --out DIR or set " + source);
      return kExitUsage;
    }
  }
  std::error_code error;
  if (!std::filesystem::is_directory(out_dir, error)) {
    output.Error("the output directory " + out_dir + " (from " + source +
                 ") does not exist or is not a directory");
    return kExitUsage;
  }

  StopSignals signals;
  FlagTimer timer;
  GenerationCycle cycle(
      timer, [&out_dir] { return out_dir; }, {}, seed, "tly-generator run");
  try {
    cycle.StartGeneration();
  } catch (const DirectoryBusy& busy) {
    output.Error(busy.what());
    return kExitUsage;
  }
  output.Line("Generating into " + cycle.DayFileName() +
              " (a tick every 2 s; Ctrl-C or SIGTERM stops)");

  const auto tick = std::chrono::seconds(GenerationCycle::kTickSeconds);
  const auto start = SteadyClock::now();
  const auto end = seconds >= 0 ? start + std::chrono::seconds(seconds)
                                : SteadyClock::time_point::max();
  auto next_tick = start + tick;
  uint64_t ticks = 0;
  SaveReporter saves(output);
  for (;;) {
    if (signals.WaitUntil(std::min(next_tick, end))) break;
    const auto now = SteadyClock::now();
    if (now >= end) break;
    if (now < next_tick) continue;
    const std::string day_file = cycle.DayFileName();
    cycle.Tick();
    ++ticks;
    if (cycle.DayFileName() != day_file) {
      output.Line("day " + BaseName(day_file) + " finished, now " +
                  BaseName(cycle.DayFileName()));
    }
    saves.Look(cycle);
    // After a stall (a suspended process) the missed ticks are dropped.
    while (next_tick <= SteadyClock::now()) next_tick += tick;
  }

  cycle.StopGeneration();
  if (!cycle.LastSaveOk()) {
    output.Error("stopped after " + CountOf(ticks, "tick", "ticks") + "; could not save " +
                 cycle.DayFileName() + ": " + cycle.LastSaveError());
    return output.Finish(kExitFailed);
  }
  output.Line("Stopped after " + CountOf(ticks, "tick", "ticks") + "; saved " +
              CountOf(static_cast<uint64_t>(CountUsedSlots(cycle.DayData())), "quarter-hour row",
                      "quarter-hour rows") +
              " to " + cycle.DayFileName());
  return output.Finish(kExitOk);
}

}  // namespace tly
