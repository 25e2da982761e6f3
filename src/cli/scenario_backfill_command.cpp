#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <system_error>

#include "backfill/scenario_backfill.h"
#include "cli/backfill_command.h"
#include "cli/command_failure.h"
#include "cli/command_style.h"
#include "cli/deliver_command.h"
#include "cli/exit_codes.h"
#include "faults/fault_truth_file.h"
#include "scenario/scenario_file.h"
#include "support/directory_lock.h"

namespace tly {
namespace {

// "K/N" with 1 <= K <= N <= 1000000.
Shard ParseShard(std::string_view text) {
  Shard shard;
  if (text.empty()) return shard;
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos) {
    throw UsageError("--shard " + std::string(text) + " is not K/N (such as 3/8)");
  }
  shard.count =
      static_cast<int>(ParseDecimalOption("--shard's N", text.substr(slash + 1), 1, 1000000));
  shard.index = static_cast<int>(ParseDecimalOption("--shard's K", text.substr(0, slash), 1,
                                                    static_cast<uint64_t>(shard.count)));
  return shard;
}

}  // namespace

int RunScenarioBackfill(const BackfillOptions& options, CommandOutput& output) {
  Scenario scenario;
  ScenarioBackfillRequest request;
  try {
    scenario = LoadScenario(options.scenario);
    request.scenario = &scenario;
    request.out_dir = options.out_dir;
    request.from = ParseDateOption("--from", options.from);
    request.to = ParseDateOption("--to", options.to);
    request.seed = ParseSeedOption(options.seed, scenario.seed);
    request.existing = ParseExisting(options.existing);
    request.jobs = ParseJobsOption(options.jobs);
    request.shard = ParseShard(options.shard);
    request.existing_noticed = UnsoundFileNotice(output);
    // Dates that do not exist must be refused before the days are counted.
    CheckScenarioBackfillRequest(request);
  } catch (const std::invalid_argument&) {
    // Bad options, a bad scenario file or a request that cannot run.
    return ReportCommandFailure(output);
  }

  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  const auto start = std::chrono::steady_clock::now();
  const long long days =
      static_cast<long long>(EncodeDate(request.to.Year, request.to.Month, request.to.Day) -
                             EncodeDate(request.from.Year, request.from.Month, request.from.Day)) +
      1;
  ScenarioProgress last;
  double shown = -1;
  try {
    ScenarioBackfill(request, [&](const ScenarioProgress& progress) {
      last = progress;
      if (!terminal) return;
      const double seconds = SecondsSince(start);
      if (seconds - shown < 0.2 && progress.files_done != progress.files_total) return;
      shown = seconds;
      const double rate = static_cast<double>(progress.files_done) / seconds;
      char text[160];
      std::snprintf(
          text, sizeof text,
          "\r%zu sites x %lld days: %llu of %llu files, %.0f files/s, %.0f s left ",
          scenario.sites.size(), days, static_cast<unsigned long long>(progress.files_done),
          static_cast<unsigned long long>(progress.files_total), rate,
          static_cast<double>(progress.files_total - progress.files_done) / (rate > 0 ? rate : 1));
      output.Partial(text);
    });
  } catch (...) {
    // Dates, directories or a shard that cannot be; files that exist while
    // --existing is not given; another writer: nothing was written. Or a
    // file that could not be written: the files before it are whole.
    if (terminal && last.files_done > 0) output.Line("");
    return ReportCommandFailure(
        output, last.files_done == 0
                    ? " (no site-day was written)"
                    : " (" + CountOf(last.files_done, "site-day", "site-days") + " of " +
                          std::to_string(last.files_total) + " done; those files are whole)");
  }
  const double seconds = SecondsSince(start);
  char timing[96];
  std::snprintf(timing, sizeof timing, " in %.2f s (%.0f files/s)", seconds,
                static_cast<double>(last.files_done) / seconds);
  std::string summary =
      CountOf(last.files_done - last.files_skipped - last.files_missing, "file", "files") + " of " +
      CountOf(scenario.sites.size(), "site", "sites") + " written to " + request.out_dir + timing;
  if (request.shard.count > 1) {
    summary += "; shard " + std::to_string(request.shard.index) + "/" +
               std::to_string(request.shard.count);
  }
  if (scenario.HasFaults()) {
    // The truth's lines count the days' missed passages too.
    const bool misses =
        std::any_of(scenario.sites.begin(), scenario.sites.end(),
                    [](const SiteSettings& site) { return site.realism.Miscounts(); });
    summary += "; " +
               CountOf(last.faults, misses ? "truth line" : "fault",
                       misses ? "truth lines (faults and missed passages)" : "faults") +
               (misses ? "" : " planted");
    if (last.files_missing > 0) {
      summary += " (" + CountOf(last.files_missing, "day file", "day files") + " left out)";
    }
    summary += ", listed in " + request.out_dir + "/" +
               FaultTruthFileName(request.shard.index, request.shard.count);
  }
  if (last.files_skipped > 0) {
    summary += "; " + CountOf(last.files_skipped, "file", "files") + " kept as they were";
  }
  output.Line((terminal ? "\n" : "") + summary);
  if (options.deliver) {
    return DeliverBackfill(scenario, request.seed, request.out_dir, request.from, request.to,
                           request.shard, output);
  }
  return output.Finish(kExitOk);
}

}  // namespace tly
