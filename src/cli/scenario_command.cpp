#include "cli/scenario_command.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "backfill/backfill.h"
#include "cli/command_failure.h"
#include "cli/command_style.h"
#include "cli/deliver_command.h"
#include "cli/exit_codes.h"
#include "scenario/scenario_file.h"

namespace tly {
namespace {

constexpr const char* kWeekdays[kDaysPerWeek] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

std::string Rounded(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", std::round(value));
  return text;
}

std::string SiteLine(const SiteSettings& site) {
  char text[256];
  std::snprintf(text, sizeof text, "  %-20s shop %-10s %-8s %-20s %zu doors, %d channels (%s%s)",
                site.name.c_str(), site.shop_code.c_str(), ProfileName(site.profile),
                site.profile == TrafficProfile::kFlat ? "-" : site.time_zone.c_str(),
                site.doors.size(), site.ChannelCount(), site.device_type.c_str(),
                site.default_layout ? ", the program's layout" : "");
  return text;
}

// The days --from and --to name, checked as backfill checks them; the range
// is empty (`last` < `first`) when neither is given. Throws UsageError (an
// invalid_argument) for a bad or reversed pair.
struct DayRange {
  TDateTime first = 0;
  TDateTime last = -1;
};
DayRange CheckedDayRange(const ScenarioOptions& options) {
  DayRange range;
  if (options.from.empty() != options.to.empty()) {
    throw UsageError("give both --from and --to, or neither");
  }
  if (options.from.empty()) return range;
  const CivilDate from = ParseDateOption("--from", options.from);
  const CivilDate to = ParseDateOption("--to", options.to);
  CheckBackfillDate(from, "from");
  CheckBackfillDate(to, "to");
  range.first = EncodeDate(from.Year, from.Month, from.Day);
  range.last = EncodeDate(to.Year, to.Month, to.Day);
  if (range.last < range.first) {
    throw UsageError("--to " + options.to + " is before --from " + options.from);
  }
  return range;
}

// Tells each site's expected visitors of a typical week: the weekday factors
// at a month factor of 1.
void ReportTypicalWeek(CommandOutput& output, const Scenario& scenario) {
  output.Line("Expected visitors of a typical week (month factor 1):");
  for (const SiteSettings& site : scenario.sites) {
    std::string line = "  " + site.name + ":";
    if (site.profile == TrafficProfile::kFlat) {
      line += " a coin flip per channel every 2 seconds (about 21600 entries a day per door)";
    } else {
      for (int d = 0; d < kDaysPerWeek; ++d) {
        const bool open = !site.hours[d].empty();
        line += std::string(" ") + kWeekdays[d] + " " +
                (open ? Rounded(site.visitors * site.weekday[d]) : std::string("closed"));
      }
    }
    output.Line(line);
  }
}

// Tells the files and expected visitors of each site over `range` (not
// empty), then the totals.
void ReportDayRange(CommandOutput& output, const Scenario& scenario, const ScenarioOptions& options,
                    const DayRange& range) {
  const uint64_t days = static_cast<uint64_t>(range.last - range.first) + 1;
  double all = 0;
  for (const SiteSettings& site : scenario.sites) {
    double expected = 0;
    for (TDateTime date = range.first; date <= range.last; date += 1) {
      expected += ExpectedVisitors(site, date);
    }
    all += expected;
    output.Line("  " + site.name + ": " + CountOf(days, "file", "files") + ", " +
                (site.profile == TrafficProfile::kFlat ? std::string("the program's own traffic")
                                                       : Rounded(expected) + " expected visitors"));
  }
  output.Line(options.from + " to " + options.to + ": " + CountOf(days, "day", "days") + ", " +
              CountOf(days * scenario.sites.size(), "file", "files") + ", " + Rounded(all) +
              " expected visitors in all");
}

}  // namespace

CLI::App* AddScenarioCommand(CLI::App& app, ScenarioOptions& options) {
  CLI::App* scenario = app.add_subcommand(
      "scenario",
      "Print a commented example scenario file, or check one and tell what it would generate");
  scenario->add_flag("--example", options.example, "Print a commented example scenario file");
  AddValueOption(*scenario, "--check", options.check, "FILE",
                 "Check this scenario file: its sites, and the files and expected visitors");
  AddValueOption(*scenario, "--from", options.from, "YYYY-MM-DD",
                 "With --check: the first day to count (default: a typical week)");
  AddValueOption(*scenario, "--to", options.to, "YYYY-MM-DD",
                 "With --check: the last day to count");
  return scenario;
}

int RunScenarioCommand(const ScenarioOptions& options) {
  CommandOutput output("scenario");
  if (options.example == !options.check.empty()) {
    output.Error("give either --example or --check FILE");
    return kExitUsage;
  }
  if (options.example) {
    output.Partial(ExampleScenario());
    return output.Finish(kExitOk);
  }
  Scenario scenario;
  DayRange range;
  try {
    scenario = LoadScenario(options.check);
    range = CheckedDayRange(options);
  } catch (const std::invalid_argument&) {
    // Bad options or a bad scenario file.
    return ReportCommandFailure(output);
  }
  output.Line(options.check + ": " + CountOf(scenario.sites.size(), "site", "sites") + ", seed " +
              std::to_string(scenario.seed) + "; OK");
  for (const SiteSettings& site : scenario.sites) output.Line(SiteLine(site));
  for (const std::string& line : DeliverySummary(scenario)) output.Line(line);
  if (range.last < range.first) {
    ReportTypicalWeek(output, scenario);
  } else {
    ReportDayRange(output, scenario, options, range);
  }
  return output.Finish(kExitOk);
}

}  // namespace tly
