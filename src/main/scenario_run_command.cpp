#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>

#include "command_style.h"
#include "deliver_command.h"
#include "delivery/live_delivery.h"
#include "exit_codes.h"
#include "generator/fault_truth_file.h"
#include "generator/live_scenario.h"
#include "generator/scenario_file.h"
#include "run_command.h"
#include "save_reporter.h"
#include "stop_signals.h"
#include "support/directory_lock.h"

namespace tly {
namespace {

constexpr int64_t kTickSeconds = 2;

// "YYYY-MM-DDTHH:MM" as seconds since 1970, UTC.
int64_t ParseMomentOption(std::string_view option, std::string_view text) {
  const std::string_view time = text.size() == 16 && text[10] == 'T' ? text.substr(11) : "";
  if (time.size() != 5 || time[2] != ':') {
    throw UsageError(std::string(option) + " " + std::string(text) +
                     " is not a moment written YYYY-MM-DDTHH:MM (UTC)");
  }
  const CivilDate date = ParseDateOption(option, text.substr(0, 10));
  const int hour = static_cast<int>(ParseDecimalOption(option, time.substr(0, 2), 0, 23));
  const int minute = static_cast<int>(ParseDecimalOption(option, time.substr(3, 2), 0, 59));
  TDateTime day = 0;
  if (!TryEncodeDate(date.Year, date.Month, date.Day, day)) {
    throw UsageError(std::string(option) + " " + std::string(text) + ": that day does not exist");
  }
  // Day 25569 is 1 January 1970.
  return (static_cast<int64_t>(day) - 25569) * 86400 + hour * 3600 + minute * 60;
}

std::string FormatMoment(int64_t unix_seconds) {
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S UTC", &utc);
  return text;
}

}  // namespace

int RunScenarioLive(const RunOptions& options, CommandOutput& output) {
  Scenario scenario;
  uint32_t seed = 0;
  int64_t speed = 1;
  int64_t start = 0;
  int64_t end = std::numeric_limits<int64_t>::max();
  int64_t seconds = -1;
  try {
    scenario = LoadScenario(options.scenario);
    seed = options.seed.empty()
               ? scenario.seed
               : static_cast<uint32_t>(ParseDecimalOption("--seed", options.seed, 0,
                                                          std::numeric_limits<uint32_t>::max()));
    if (!options.speed.empty()) {
      speed = static_cast<int64_t>(ParseDecimalOption("--speed", options.speed, 1, 1000000));
    }
    start = options.start.empty()
                ? std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count()
                : ParseMomentOption("--start", options.start);
    if (!options.end.empty()) end = ParseMomentOption("--end", options.end);
    if (end <= start) throw UsageError("--end " + options.end + " is not after the start");
    if (!options.seconds.empty()) {
      seconds = static_cast<int64_t>(ParseDecimalOption("--seconds", options.seconds, 0,
                                                        std::numeric_limits<int32_t>::max()));
    }
    if (options.out_dir.empty()) throw UsageError("--scenario needs --out DIR");
    std::error_code error;
    if (!std::filesystem::is_directory(options.out_dir, error)) {
      throw UsageError("the output directory " + options.out_dir +
                       " does not exist or is not a directory");
    }
  } catch (const std::invalid_argument& problem) {
    // Bad options or a bad scenario file.
    output.Error(problem.what());
    return kExitUsage;
  }

  StopSignals stop_signals;
  LiveScenario live(scenario, options.out_dir, seed);
  live.SetExistingNoticed([&output](const std::string& file, const std::string& problem) {
    output.Error("continuing " + file + ", which is not sound: " + problem);
  });
  try {
    live.Start(start);
  } catch (const DirectoryBusy& busy) {
    output.Error(busy.what());
    return kExitUsage;
  } catch (const std::system_error& failure) {
    output.Error(failure.what());
    return kExitFailed;
  }
  bool delivery_failed = false;
  const std::unique_ptr<LiveDelivery> delivery =
      StartLiveDelivery(scenario, options.out_dir, start, output, delivery_failed);
  if (delivery_failed) return kExitUsage;
  output.Line("Generating " + CountOf(scenario.sites.size(), "site", "sites") + " of " +
              options.scenario + " into " + options.out_dir + " from " + FormatMoment(start) +
              " at " + std::to_string(speed) +
              "x (a tick every 2 simulated seconds; Ctrl-C or SIGTERM stops)");

  using Clock = StopSignals::Clock;
  const Clock::time_point real_start = Clock::now();
  const Clock::time_point real_end = seconds >= 0
                                         ? real_start + std::chrono::seconds(seconds)
                                         : Clock::time_point::max();
  // The real moment a simulated one comes.
  const auto real_of = [&](int64_t simulated) {
    return real_start + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(
                                static_cast<double>(simulated - start) / static_cast<double>(speed)));
  };
  SaveReporter saves(output);
  // The truth of each finished day goes to OUT/faults.jsonl as soon as it is
  // known, added to what earlier runs put there.
  size_t truth_written = 0;
  bool truth_ok = true;
  const auto add_to_truth = [&] {
    const std::vector<FaultRecord>& truth = live.Truth();
    if (truth.size() == truth_written) return;
    try {
      AddToFaultTruth(options.out_dir + "/" + FaultTruthFileName(1, 1),
                      std::vector<FaultRecord>(
                          truth.begin() + static_cast<std::ptrdiff_t>(truth_written), truth.end()));
      truth_written = truth.size();
    } catch (const std::system_error& failure) {
      if (truth_ok) {
        output.Error(std::string("cannot write the truth of the faults: ") + failure.what());
      }
      truth_ok = false;
    }
  };
  uint64_t ticks = 0;
  int64_t now = start;
  while (now < end) {
    int64_t next = std::min(now + kTickSeconds, end);
    if (stop_signals.WaitUntil(std::min(real_of(next), real_end))) break;
    if (Clock::now() >= real_end) break;
    // Behind the real clock (a slow machine, a high speed): catch up at once.
    // What is revealed depends on the simulated moment alone, so nothing is
    // lost by skipping ticks.
    const double behind = std::chrono::duration<double>(Clock::now() - real_of(next)).count();
    if (behind > 0) {
      next = std::min(end, next + static_cast<int64_t>(behind * static_cast<double>(speed)) /
                                      kTickSeconds * kTickSeconds);
    }
    now = next;
    live.AdvanceTo(now, [&](const LiveScenario::DayChange& change) {
      output.Line(change.site + ": day " +
                  change.finished_file.substr(change.finished_file.find_last_of('/') + 1) +
                  " finished, now " + change.next_file.substr(change.next_file.find_last_of('/') + 1));
    });
    if (delivery) delivery->AdvanceTo(now);
    ++ticks;
    saves.Look(live.SaveCount(), live.SavesOk(), live.LastSaveError());
    add_to_truth();
  }

  if (!truth_ok) {
    live.SaveAll();
    return output.Finish(kExitFailed);
  }
  if (!live.SaveAll()) {
    output.Error("stopped at " + FormatMoment(now) + "; could not save: " + live.LastSaveError());
    return output.Finish(kExitFailed);
  }
  output.Line("Stopped at " + FormatMoment(now) + " (simulated) after " +
              CountOf(ticks, "tick", "ticks") + "; saved " +
              CountOf(scenario.sites.size(), "site", "sites"));
  if (delivery && !FinishLiveDelivery(*delivery, options.out_dir, now, output)) {
    return output.Finish(kExitFailed);
  }
  return output.Finish(kExitOk);
}

}  // namespace tly
