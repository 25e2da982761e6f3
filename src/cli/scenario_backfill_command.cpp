#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include "backfill/scenario_backfill.h"
#include "cli/backfill_command.h"
#include "cli/command_failure.h"
#include "cli/command_style.h"
#include "cli/deliver_command.h"
#include "cli/exit_codes.h"
#include "cli/progress_line.h"
#include "faults/fault_truth_file.h"
#include "scenario/scenario_file.h"
#include "support/date_time.h"

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

// A scenario backfill as the command line asks for it.
struct ScenarioBackfillRun {
  Scenario scenario;
  ScenarioBackfillRequest request;
};

// Reads the scenario file and the options. Throws std::invalid_argument (bad
// options, a bad scenario file, a request that cannot run).
void ParseRun(const BackfillOptions& options, CommandOutput& output, ScenarioBackfillRun& run) {
  run.scenario = LoadScenario(options.scenario);
  ScenarioBackfillRequest& request = run.request;
  request.scenario = &run.scenario;
  request.out_dir = options.out_dir;
  request.from = ParseDateOption("--from", options.from);
  request.to = ParseDateOption("--to", options.to);
  request.seed = ParseSeedOption(options.seed, run.scenario.seed);
  request.existing = ParseExisting(options.existing);
  request.jobs = ParseJobsOption(options.jobs);
  request.shard = ParseShard(options.shard);
  request.existing_noticed = UnsoundFileNotice(output);
  // Dates that do not exist must be refused before the days are counted.
  CheckScenarioBackfillRequest(request);
}

long long DaysOf(const ScenarioBackfillRequest& request) {
  return static_cast<long long>(
             EncodeDate(request.to.Year, request.to.Month, request.to.Day) -
             EncodeDate(request.from.Year, request.from.Month, request.from.Day)) +
         1;
}

// The progress line of `progress`, `seconds` after the start.
std::string ProgressText(const ScenarioBackfillRun& run, const ScenarioProgress& progress,
                         double seconds) {
  const double rate = static_cast<double>(progress.files_done) / seconds;
  char text[160];
  std::snprintf(
      text, sizeof text, "\r%zu sites x %lld days: %llu of %llu files, %.0f files/s, %.0f s left ",
      run.scenario.sites.size(), DaysOf(run.request),
      static_cast<unsigned long long>(progress.files_done),
      static_cast<unsigned long long>(progress.files_total), rate,
      static_cast<double>(progress.files_total - progress.files_done) / (rate > 0 ? rate : 1));
  return text;
}

// What a run that stopped had done, for the message of what stopped it.
std::string DoneBeforeFailure(const ScenarioProgress& done) {
  try {
    throw;
  } catch (const DayNotWritten& failure) {
    return " (stopped at " + FormatIsoDate(failure.day()) + " of " +
           std::filesystem::path(failure.file()).parent_path().filename().string() + "; " +
           CountOf(done.files_done, "site-day", "site-days") + " of " +
           std::to_string(done.files_total) + " done)";
  } catch (...) {
    if (done.files_done == 0) return " (no site-day was written)";
    return " (" + CountOf(done.files_done, "site-day", "site-days") + " of " +
           std::to_string(done.files_total) + " done; those files are whole)";
  }
}

// The last line of a run that wrote `done` in `seconds`.
std::string Summary(const ScenarioBackfillRun& run, const ScenarioProgress& done, double seconds) {
  const ScenarioBackfillRequest& request = run.request;
  char timing[96];
  std::snprintf(timing, sizeof timing, " in %.2f s (%.0f files/s)", seconds,
                static_cast<double>(done.files_done) / seconds);
  std::string summary =
      CountOf(done.files_done - done.files_skipped - done.files_missing, "file", "files") + " of " +
      CountOf(run.scenario.sites.size(), "site", "sites") + " written to " + request.out_dir +
      timing;
  if (request.shard.count > 1) {
    summary += "; shard " + std::to_string(request.shard.index) + "/" +
               std::to_string(request.shard.count);
  }
  if (run.scenario.HasFaults()) {
    // The truth's lines count the days' missed passages too.
    const bool misses =
        std::any_of(run.scenario.sites.begin(), run.scenario.sites.end(),
                    [](const SiteSettings& site) { return site.realism.Miscounts(); });
    summary += "; " +
               CountOf(done.faults, misses ? "truth line" : "fault",
                       misses ? "truth lines (faults and missed passages)" : "faults") +
               (misses ? "" : " planted");
    if (done.files_missing > 0) {
      summary += " (" + CountOf(done.files_missing, "day file", "day files") + " left out)";
    }
    summary += ", listed in " + request.out_dir + "/" +
               FaultTruthFileName(request.shard.index, request.shard.count);
  }
  if (done.files_skipped > 0) {
    summary += "; " + CountOf(done.files_skipped, "file", "files") + " kept as they were";
  }
  return summary;
}

}  // namespace

int RunScenarioBackfill(const BackfillOptions& options, CommandOutput& output) {
  ScenarioBackfillRun run;
  try {
    ParseRun(options, output, run);
  } catch (const std::invalid_argument&) {
    return ReportCommandFailure(output);
  }
  const ScenarioBackfillRequest& request = run.request;
  ProgressLine line(output);
  ScenarioProgress last;
  try {
    ScenarioBackfill(request, [&](const ScenarioProgress& progress) {
      last = progress;
      line.Show(ProgressText(run, progress, line.Seconds()),
                progress.files_done != progress.files_total);
    });
  } catch (...) {
    // Dates, directories or a shard that cannot be; files that exist while
    // --existing is not given; another writer: nothing was written. Or a
    // site-day that could not be written: every one before it is whole.
    line.Break();
    return ReportCommandFailure(output, DoneBeforeFailure(last));
  }
  line.Summary(Summary(run, last, line.Seconds()));
  if (options.deliver) {
    return DeliverBackfill(run.scenario, request.seed, request.out_dir, request.from, request.to,
                           request.shard, output);
  }
  return output.Finish(kExitOk);
}

}  // namespace tly
