#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "cli/command_failure.h"
#include "cli/command_style.h"
#include "cli/deliver_command.h"
#include "cli/exit_codes.h"
#include "cli/run_command.h"
#include "cli/save_reporter.h"
#include "cli/stop_signals.h"
#include "dayfile/day_file_name.h"
#include "delivery/live_delivery.h"
#include "live/live_scenario.h"
#include "live/truth_follower.h"
#include "scenario/named_years.h"
#include "scenario/scenario_file.h"
#include "support/directory_lock.h"

namespace tly {
namespace {

constexpr int64_t kTickSeconds = 2;

// "YYYY-MM-DDTHH:MM" as seconds since 1970, UTC.
int64_t ParseMomentOption(std::string_view option, std::string_view text) {
  const std::string given = std::string(option) + " " + std::string(text);
  bool shaped = text.size() == 16 && text[10] == 'T' && text[13] == ':';
  for (const size_t i : {11u, 12u, 14u, 15u}) {
    shaped = shaped && text[i] >= '0' && text[i] <= '9';
  }
  if (!shaped) throw UsageError(given + " is not a moment written YYYY-MM-DDTHH:MM (UTC)");
  const CivilDate date = ParseDateOption(option, text.substr(0, 10));
  const int hour = (text[11] - '0') * 10 + (text[12] - '0');
  const int minute = (text[14] - '0') * 10 + (text[15] - '0');
  TDateTime day = 0;
  if (!TryEncodeDate(date.Year, date.Month, date.Day, day)) {
    throw UsageError(given + ": that day does not exist");
  }
  if (hour > 23) {
    throw UsageError(given + ": the hour " + std::string(text.substr(11, 2)) + " is not 00 to 23");
  }
  if (minute > 59) {
    throw UsageError(given + ": the minute " + std::string(text.substr(14, 2)) +
                     " is not 00 to 59");
  }
  // Day 25569 is 1 January 1970.
  return (static_cast<int64_t>(day) - 25569) * 86400 + int64_t{hour} * 3600 + int64_t{minute} * 60;
}

// Refuses a moment at which a site counts a day whose file name would stand
// for another century.
void CheckNamedYearsAt(const Scenario& scenario, int64_t unix_seconds, const std::string& given) {
  if (const SiteSettings* site = SiteOutsideNamedYears(scenario, unix_seconds)) {
    throw UsageError(given + ": the local day of site " + site->name + " is outside the years " +
                     std::to_string(kFirstNamedYear) + " to " + std::to_string(kLastNamedYear) +
                     " that a yymmdd file name can tell apart");
  }
}

// The value of --speed: decimal digits with at most one '.' among them, a
// number above 0 and at most 1000000.
double ParseSpeedOption(std::string_view text) {
  const size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  const auto digits = [](std::string_view part) {
    return part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  double speed = 0;
  if (!whole.empty() && digits(whole) && digits(fraction) &&
      (dot == std::string_view::npos || !fraction.empty())) {
    speed = std::strtod(std::string(text).c_str(), nullptr);
  }
  if (!(speed > 0 && speed <= 1000000)) {
    throw UsageError("--speed " + std::string(text) +
                     " is not a number above 0 and up to 1000000 (such as 60 or 0.5)");
  }
  return speed;
}

std::string FormatMoment(int64_t unix_seconds) {
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S UTC", &utc);
  return text;
}

// What `run --scenario` is asked to do.
struct ScenarioRun {
  Scenario scenario;
  uint32_t seed = 0;
  double speed = 1;
  int64_t start = 0;  // simulated, seconds since 1970 (UTC)
  int64_t end = std::numeric_limits<int64_t>::max();
};

// Reads the scenario file and the options of `run --scenario`; --seconds
// becomes the simulated end it makes. Throws std::invalid_argument (bad
// options, a bad scenario file) and UsageError.
ScenarioRun ParseScenarioRun(const RunOptions& options) {
  ScenarioRun run;
  run.scenario = LoadScenario(options.scenario);
  run.seed = ParseSeedOption(options.seed, run.scenario.seed);
  if (!options.speed.empty()) run.speed = ParseSpeedOption(options.speed);
  run.start = options.start.empty() ? std::chrono::duration_cast<std::chrono::seconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count()
                                    : ParseMomentOption("--start", options.start);
  CheckNamedYearsAt(run.scenario, run.start,
                    options.start.empty() ? "now" : "--start " + options.start);
  if (options.end.empty()) {
    // The run stops by itself before a day it could not name.
    run.end = EndOfNamedYears(run.scenario) - 1;
  } else {
    run.end = ParseMomentOption("--end", options.end);
    CheckNamedYearsAt(run.scenario, run.end, "--end " + options.end);
  }
  if (run.end <= run.start) throw UsageError("--end " + options.end + " is not after the start");
  if (!options.seconds.empty()) {
    const auto seconds = static_cast<int64_t>(
        ParseDecimalOption("--seconds", options.seconds, 0, std::numeric_limits<int32_t>::max()));
    // --seconds ends the run at the simulated moment it makes, so that the
    // tick due at that very moment still comes.
    run.end = std::min(run.end,
                       run.start + static_cast<int64_t>(static_cast<double>(seconds) * run.speed));
  }
  if (options.out_dir.empty()) throw UsageError("--scenario needs --out DIR");
  RequireOutputDirectory(options.out_dir);
  return run;
}

// "NAME" of the path `file`.
std::string BaseName(const std::string& file) {
  return file.substr(file.find_last_of('/') + 1);
}

// Moves `live` (and `delivery`, when there is one) on a tick every 2
// simulated seconds, as fast as `run.speed` lets the real clock, until
// `run.end` or a signal. Returns the simulated moment reached.
int64_t AdvanceUntilStopped(const ScenarioRun& run, LiveScenario& live, LiveDelivery* delivery,
                            StopSignals& stop_signals, TruthFollower& truth,
                            CommandOutput& output) {
  using Clock = StopSignals::Clock;
  const Clock::time_point real_start = Clock::now();
  // The real moment a simulated one comes.
  const auto real_of = [&](int64_t simulated) {
    return real_start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                            static_cast<double>(simulated - run.start) / run.speed));
  };
  SaveReporter saves(output);
  int64_t now = run.start;
  while (now < run.end) {
    int64_t next = std::min(now + kTickSeconds, run.end);
    if (stop_signals.WaitUntil(real_of(next))) break;
    // Behind the real clock (a slow machine, a high speed): catch up at once.
    // What is revealed depends on the simulated moment alone, so nothing is
    // lost by skipping ticks.
    const double behind = std::chrono::duration<double>(Clock::now() - real_of(next)).count();
    if (behind > 0) {
      next = std::min(
          run.end, next + static_cast<int64_t>(behind * run.speed) / kTickSeconds * kTickSeconds);
    }
    now = next;
    live.AdvanceTo(now, [&](const LiveScenario::DayChange& change) {
      output.Line(change.site + ": day " + BaseName(change.finished_file) + " finished, now " +
                  BaseName(change.next_file));
    });
    if (delivery) delivery->AdvanceTo(now);
    saves.Look(live.SaveCount(), live.SavesOk(), live.LastSaveError());
    const bool truth_was_ok = truth.Ok();
    if (!truth.Follow() && truth_was_ok) {
      output.Error("cannot write the truth of the faults: " + truth.Error());
    }
  }
  return now;
}

}  // namespace

int RunScenarioLive(const RunOptions& options, CommandOutput& output) {
  ScenarioRun run;
  try {
    run = ParseScenarioRun(options);
  } catch (const std::invalid_argument&) {
    // Bad options or a bad scenario file.
    return ReportCommandFailure(output);
  }
  StopSignals stop_signals;
  LiveScenario live(run.scenario, options.out_dir, run.seed);
  live.SetExistingNoticed(UnsoundFileNotice(output));
  try {
    live.Start(run.start);
  } catch (...) {
    // Another writer, a day file of another layout: nothing was written.
    return ReportCommandFailure(output);
  }
  bool delivery_failed = false;
  const std::unique_ptr<LiveDelivery> delivery = StartLiveDelivery(
      run.scenario, options.out_dir, run.start, output, delivery_failed, run.seed);
  if (delivery_failed) return kExitUsage;
  output.Line("Generating " + CountOf(run.scenario.sites.size(), "site", "sites") + " of " +
              options.scenario + " into " + options.out_dir + " from " + FormatMoment(run.start) +
              " at " + (options.speed.empty() ? std::string("1") : options.speed) +
              "x (a tick every 2 simulated seconds; Ctrl-C or SIGTERM stops)");
  TruthFollower truth(live, options.out_dir);
  const int64_t now = AdvanceUntilStopped(run, live, delivery.get(), stop_signals, truth, output);
  if (!truth.Ok()) {
    live.SaveAll();
    return output.Finish(kExitFailed);
  }
  if (!live.SaveAll()) {
    output.Error("stopped at " + FormatMoment(now) + "; " + live.LastSaveError());
    return output.Finish(kExitFailed);
  }
  // The ticks of simulated time, whether the real clock let each one be
  // waited for or they were caught up together.
  const auto ticks = static_cast<uint64_t>((now - run.start) / kTickSeconds);
  output.Line("Stopped at " + FormatMoment(now) + " (simulated) after " +
              CountOf(ticks, "tick", "ticks") + "; saved " +
              CountOf(run.scenario.sites.size(), "site", "sites"));
  if (delivery && !FinishLiveDelivery(*delivery, options.out_dir, now, output)) {
    return output.Finish(kExitFailed);
  }
  return output.Finish(kExitOk);
}

}  // namespace tly
