#include "cli/run_command.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <limits>

#include "cli/command_failure.h"
#include "cli/command_style.h"
#include "cli/exit_codes.h"
#include "cli/save_reporter.h"
#include "cli/stop_signals.h"
#include "gui/settings_file.h"
#include "live/generation_cycle.h"
#include "live/generation_timer.h"
#include "support/directory_lock.h"
#include "support/safe_file.h"

namespace tly {

namespace {

using SteadyClock = std::chrono::steady_clock;

int CountUsedSlots(const DayCounts& day) {
  int used = 0;
  for (int slot = 0; slot < kSlotsPerDay; ++slot) used += day.SlotUsed[slot] ? 1 : 0;
  return used;
}

std::string BaseName(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

}  // namespace

CLI::App* AddRunCommand(CLI::App& app, RunOptions& options) {
  CLI::App* run = app.add_subcommand(
      "run", "Generate without a window until Ctrl-C, SIGTERM or the end of --seconds");
  AddValueOption(*run, "--out", options.out_dir, "DIR",
                 "Existing output directory of the day files, used as given (default: OutDir "
                 "of the settings file)")
      ->each([&options](const std::string&) { options.out_given = true; });
  AddValueOption(*run, "--seconds", options.seconds, "N",
                 "Stop after N seconds, 0 to 2147483647 (default: run until a signal)");
  AddValueOption(*run, "--seed", options.seed, "N",
                 "Initial state of the random source, 0 to 4294967295 (default: 0, or the "
                 "scenario's seed)");
  AddValueOption(*run, "--scenario", options.scenario, "FILE",
                 "Generate the sites of this scenario file live, each into DIR/<site name>/, "
                 "instead of the program's own site");
  AddValueOption(*run, "--speed", options.speed, "X",
                 "With --scenario: simulated seconds per real second, above 0 and up to 1000000, "
                 "decimals allowed (default: 1); 60 makes an hour pass in a minute");
  AddValueOption(*run, "--start", options.start, "YYYY-MM-DDTHH:MM",
                 "With --scenario: the simulated moment to start at, in UTC (default: now)");
  AddValueOption(*run, "--end", options.end, "YYYY-MM-DDTHH:MM",
                 "With --scenario: the simulated moment to stop at, in UTC (default: run until "
                 "a signal or --seconds)");
  return run;
}

namespace {

// What `run` without --scenario is asked to do.
struct FlatRun {
  std::string out_dir;
  int64_t seconds = -1;  // -1: until a signal
  uint32_t seed = 0;
};

// Reads the options of `run` without --scenario; the output directory comes
// from the settings file unless --out gives it. Throws UsageError.
FlatRun ParseFlatRun(const RunOptions& options) {
  for (const auto& [given, name] :
       {std::pair{&options.speed, "--speed"}, std::pair{&options.start, "--start"},
        std::pair{&options.end, "--end"}}) {
    if (!given->empty()) throw UsageError(std::string(name) + " needs --scenario");
  }
  FlatRun run;
  if (!options.seconds.empty()) {
    run.seconds = static_cast<int64_t>(
        ParseDecimalOption("--seconds", options.seconds, 0, std::numeric_limits<int32_t>::max()));
  }
  run.seed = ParseSeedOption(options.seed, 0);
  run.out_dir = options.out_dir;
  std::string source = "--out";
  if (!options.out_given) {
    const std::string ini = SettingsFileName();
    run.out_dir = ReadOutDirSetting(ini);
    source = "OutDir in [General] of " + ini;
    if (run.out_dir.empty()) {
      throw UsageError("no output directory: give --out DIR or set " + source);
    }
  }
  RequireOutputDirectory(run.out_dir, source);
  return run;
}

// Ticks `cycle` every 2 seconds of the steady clock until a signal (one of
// `stop_signals`, installed before the run said it started) or the end
// of `seconds` (-1: none), telling each change of day and of the saves'
// fortune. Returns the number of ticks.
uint64_t TickUntilStopped(GenerationCycle& cycle, StopSignals& stop_signals, int64_t seconds,
                          CommandOutput& output) {
  const auto tick = std::chrono::seconds(GenerationCycle::kTickSeconds);
  const auto start = SteadyClock::now();
  const auto end =
      seconds >= 0 ? start + std::chrono::seconds(seconds) : SteadyClock::time_point::max();
  auto next_tick = start + tick;
  uint64_t ticks = 0;
  SaveReporter saves(output);
  for (;;) {
    if (stop_signals.WaitUntil(std::min(next_tick, end))) break;
    const auto now = SteadyClock::now();
    // A tick that falls due at the very end still runs: --seconds 2 is one.
    if (now >= next_tick) {
      const std::string day_file = cycle.DayFileName();
      cycle.Tick();
      ++ticks;
      if (cycle.DayFileName() != day_file) {
        output.Line("day " + BaseName(day_file) + " finished, now " +
                    BaseName(cycle.DayFileName()));
      }
      saves.Look(cycle.SaveCount(), cycle.LastSaveOk(),
                 "cannot save " + cycle.DayFileName() + ": " + cycle.LastSaveError());
      // After a stall (a suspended process) the missed ticks are dropped.
      while (next_tick <= SteadyClock::now()) next_tick += tick;
    }
    if (now >= end) break;
  }
  return ticks;
}

}  // namespace

int RunGeneration(const RunOptions& options) {
  CommandOutput output("run");
  if (options.out_given && options.out_dir.empty()) {
    // Used as given: an empty word names no directory, not the settings'.
    output.Error("--out is empty: give the output directory");
    return kExitUsage;
  }
  if (!options.scenario.empty()) return RunScenarioLive(options, output);
  FlatRun run;
  try {
    run = ParseFlatRun(options);
  } catch (const UsageError&) {
    return ReportCommandFailure(output);
  }

  StopSignals stop_signals;
  FlagTimer timer;
  GenerationCycle cycle(
      timer, [&run] { return run.out_dir; }, {}, run.seed, "tly-generator run");
  cycle.SetExistingNoticed(UnsoundFileNotice(output));
  // A failed save leaves nothing behind: the next save tries again anyway.
  cycle.SetDayFileReplacer(
      [](const std::string& file, std::string_view image) { ReplaceFileWith(file, image); });
  try {
    cycle.StartGeneration();
  } catch (const DirectoryBusy&) {
    return ReportCommandFailure(output);
  }
  output.Line("Generating into " + cycle.DayFileName() +
              " (a tick every 2 s; Ctrl-C or SIGTERM stops)");
  const uint64_t ticks = TickUntilStopped(cycle, stop_signals, run.seconds, output);
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
