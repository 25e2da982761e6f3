#include "backfill_command.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "exit_codes.h"
#include "generator/backfill.h"

namespace tly {

namespace {

// Reads a date written YYYY-MM-DD (exactly four, two and two digits). Whether
// the date exists is checked later, with the other limits of the request.
bool ParseIsoDate(std::string_view text, CivilDate& date) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  std::from_chars(text.data(), text.data() + 4, date.Year);
  std::from_chars(text.data() + 5, text.data() + 7, date.Month);
  std::from_chars(text.data() + 8, text.data() + 10, date.Day);
  return true;
}

// Reads a seed: decimal digits only, 0..4294967295.
bool ParseSeed(std::string_view text, uint32_t& seed) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), seed);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tly-generator backfill: %s\n", message.c_str());
  return kExitUsage;
}

// Seconds since `start`, never 0, so that a rate can be taken at once.
double SecondsSince(std::chrono::steady_clock::time_point start) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return seconds > 1e-9 ? seconds : 1e-9;
}

}  // namespace

CLI::App* AddBackfillCommand(CLI::App& app, BackfillOptions& arguments) {
  CLI::App* backfill = app.add_subcommand(
      "backfill",
      "Write the day files the generator would have written running without a pause from FROM "
      "00:00:00 to TO 23:59:58 (a tick every 2 seconds); an existing day file is continued");
  backfill->add_option("--out", arguments.out_dir, "Existing output directory")
      ->type_name("DIR")
      ->required();
  backfill->add_option("--from", arguments.from, "First day (years 1991 to 2090)")
      ->type_name("YYYY-MM-DD")
      ->required();
  backfill->add_option("--to", arguments.to, "Last day, not before FROM")
      ->type_name("YYYY-MM-DD")
      ->required();
  backfill
      ->add_option("--seed", arguments.seed,
                   "Initial state of the random source, 0..4294967295 (default 0)")
      ->type_name("N");
  return backfill;
}

int RunBackfillCommand(const BackfillOptions& arguments) {
  BackfillRequest request;
  request.out_dir = arguments.out_dir;
  if (!ParseIsoDate(arguments.from, request.from)) {
    return UsageError("--from " + arguments.from + " is not a date written YYYY-MM-DD");
  }
  if (!ParseIsoDate(arguments.to, request.to)) {
    return UsageError("--to " + arguments.to + " is not a date written YYYY-MM-DD");
  }
  if (!ParseSeed(arguments.seed, request.seed)) {
    return UsageError("--seed " + arguments.seed + " is not a number from 0 to 4294967295");
  }
  try {
    CheckBackfillRequest(request);
  } catch (const std::invalid_argument& problem) {
    return UsageError(problem.what());
  }

  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  const auto start = std::chrono::steady_clock::now();
  BackfillProgress last;
  try {
    Backfill(request, [&](const BackfillProgress& progress) {
      last = progress;
      if (!terminal) return;
      std::printf("\rday %d of %d, %.3g ticks/s ", progress.days_done, progress.days_total,
                  static_cast<double>(progress.ticks_done) / SecondsSince(start));
      std::fflush(stdout);
    });
  } catch (const std::system_error& e) {
    if (terminal && last.days_done > 0) std::printf("\n");
    std::fflush(stdout);
    std::fprintf(stderr, "tly-generator backfill: %s (after %d of %d days)\n", e.what(),
                 last.days_done, last.days_total);
    return kExitFailed;
  }
  const double seconds = SecondsSince(start);
  std::printf("%s%d days, %llu ticks written to %s in %.2f s (%.3g ticks/s)\n",
              terminal ? "\n" : "", last.days_done,
              static_cast<unsigned long long>(last.ticks_done), request.out_dir.c_str(), seconds,
              static_cast<double>(last.ticks_done) / seconds);
  return kExitOk;
}

}  // namespace tly
