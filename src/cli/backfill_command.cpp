#include "cli/backfill_command.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "backfill/backfill.h"
#include "cli/command_failure.h"
#include "cli/command_style.h"
#include "cli/exit_codes.h"
#include "cli/progress_line.h"

namespace tly {

ExistingDayFiles ParseExisting(std::string_view text) {
  if (text.empty()) return ExistingDayFiles::kRefuse;
  if (text == "continue") return ExistingDayFiles::kContinue;
  if (text == "replace") return ExistingDayFiles::kReplace;
  if (text == "skip") return ExistingDayFiles::kSkip;
  throw UsageError("--existing " + std::string(text) + " is not continue, replace or skip");
}

namespace {

BackfillRequest ParseRequest(const BackfillOptions& options) {
  if (!options.shard.empty()) throw UsageError("--shard needs --scenario");
  if (options.deliver) throw UsageError("--deliver needs --scenario");
  BackfillRequest request;
  request.out_dir = options.out_dir;
  request.from = ParseDateOption("--from", options.from);
  request.to = ParseDateOption("--to", options.to);
  request.seed = ParseSeedOption(options.seed, 0);
  request.existing = ParseExisting(options.existing);
  request.jobs = ParseJobsOption(options.jobs);
  try {
    CheckBackfillRequest(request);
  } catch (const std::invalid_argument& problem) {
    throw UsageError(problem.what());
  }
  return request;
}

// The last line of a backfill that wrote `done` in `seconds`.
std::string Summary(const BackfillProgress& done, const std::string& out_dir, double seconds) {
  char timing[96];
  std::snprintf(timing, sizeof timing, " in %.2f s (%.3g ticks/s)", seconds,
                static_cast<double>(done.ticks_done) / seconds);
  std::string summary =
      CountOf(static_cast<uint64_t>(done.days_done - done.days_skipped), "day", "days") + ", " +
      CountOf(done.ticks_done, "tick", "ticks") + " written to " + out_dir + timing;
  if (done.days_skipped > 0) {
    summary += "; " + CountOf(static_cast<uint64_t>(done.days_skipped), "day", "days") +
               " kept as they were";
  }
  return summary;
}

}  // namespace

std::string FormatIsoDate(TDateTime date) {
  const CivilDate civil = DecodeDate(date);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", civil.Year, civil.Month, civil.Day);
  return text;
}

CLI::App* AddBackfillCommand(CLI::App& app, BackfillOptions& options) {
  CLI::App* backfill = app.add_subcommand(
      "backfill",
      "Write the day files the generator would have written running without a pause from FROM "
      "00:00:00 to TO 23:59:58 (a tick every 2 seconds)");
  AddValueOption(*backfill, "--out", options.out_dir, "DIR",
                 "Existing output directory, used as given")
      ->required();
  AddValueOption(*backfill, "--from", options.from, "YYYY-MM-DD",
                 "First day, in the years 1991 to 2090")
      ->required();
  AddValueOption(*backfill, "--to", options.to, "YYYY-MM-DD", "Last day, not before FROM")
      ->required();
  AddValueOption(*backfill, "--seed", options.seed, "N",
                 "Initial state of the random source, 0 to 4294967295 (default: 0, or the "
                 "scenario's seed)");
  AddValueOption(*backfill, "--existing", options.existing, "WHAT",
                 "What to do with day files of the range that exist already: continue (add "
                 "this run's counts to them), replace, or skip (keep them; resumes an "
                 "interrupted backfill) (default: write nothing and say which exist)");
  AddValueOption(*backfill, "--scenario", options.scenario, "FILE",
                 "Write the sites of this scenario file, each into DIR/<site name>/, instead "
                 "of the program's own site");
  AddValueOption(*backfill, "--jobs", options.jobs, "N",
                 "Threads that generate days (or a scenario's site-days), 1 to 256; the files "
                 "are the same for any N (default: all cores)");
  AddValueOption(*backfill, "--shard", options.shard, "K/N",
                 "Write only share K of N of a scenario's site-days; the N shares together "
                 "are the whole (default: 1/1)");
  backfill->add_flag("--deliver", options.deliver,
                     "With --scenario: then deliver each site's files to its server, in day "
                     "order (see 'tly-generator help deliver')");
  return backfill;
}

int RunBackfillCommand(const BackfillOptions& options) {
  CommandOutput output("backfill");
  if (!options.scenario.empty()) return RunScenarioBackfill(options, output);
  BackfillRequest request;
  try {
    request = ParseRequest(options);
    request.existing_noticed = UnsoundFileNotice(output);
  } catch (const UsageError&) {
    return ReportCommandFailure(output);
  }

  ProgressLine line(output);
  BackfillProgress last;
  last.days_total =
      static_cast<int>(EncodeDate(request.to.Year, request.to.Month, request.to.Day) -
                       EncodeDate(request.from.Year, request.from.Month, request.from.Day)) +
      1;
  try {
    Backfill(request, [&](const BackfillProgress& progress) {
      last = progress;
      char text[128];
      std::snprintf(text, sizeof text, "\rday %d of %d, %.3g ticks/s ", progress.days_done,
                    progress.days_total, static_cast<double>(progress.ticks_done) / line.Seconds());
      line.Show(text);
    });
  } catch (const DayNotWritten& failure) {
    line.Break();
    return ReportCommandFailure(
        output, " (stopped at " + FormatIsoDate(failure.day()) + "; " +
                    CountOf(static_cast<uint64_t>(last.days_done), "day", "days") + " of " +
                    std::to_string(last.days_total) + " done)");
  } catch (...) {
    // Files that exist, an entry of the range that is no day file, another
    // writer: nothing was written.
    line.Break();
    return ReportCommandFailure(output);
  }
  line.Summary(Summary(last, request.out_dir, line.Seconds()));
  return output.Finish(kExitOk);
}

}  // namespace tly
