#include "cli/deliver_command.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "backfill/scenario_backfill.h"
#include "cli/command_failure.h"
#include "cli/command_style.h"
#include "cli/exit_codes.h"
#include "dayfile/day_file_name.h"
#include "delivery/delivery_log.h"
#include "delivery/delivery_spool.h"
#include "delivery/delivery_url.h"
#include "delivery/history_delivery.h"
#include "delivery/live_delivery.h"
#include "scenario/scenario_file.h"
#include "support/directory_lock.h"

namespace tly {
namespace {

constexpr int kDefaultConnections = 4;
constexpr size_t kSpooledNamed = 10;  // files named one by one before "and N more"

void NameSpooled(const std::vector<SpooledFile>& spooled, const std::string& spool,
                 CommandOutput& output) {
  for (size_t i = 0; i < spooled.size() && i < kSpooledNamed; ++i) {
    output.Error(spooled[i].site + "/" + spooled[i].file_name + " was not delivered; it waits in " +
                 spool + " for the next run");
  }
  if (spooled.size() > kSpooledNamed) {
    output.Error("and " + CountOf(spooled.size() - kSpooledNamed, "file", "files") +
                 " more wait there");
  }
}

// The sites of `scenario` that deliver, with the pushes `pushes_of` gives.
template <typename PushesOf>
HistoryDeliveryRequest RequestOf(const Scenario& scenario, const std::string& out_dir,
                                 PushesOf pushes_of) {
  HistoryDeliveryRequest request;
  request.out_dir = out_dir;
  request.seed = scenario.seed;
  for (const SiteSettings& site : scenario.sites) {
    if (!site.delivery) continue;
    request.sites.push_back({site.name, site.shop_code, *site.delivery, site.delivery_faults});
    request.pushes.push_back(pushes_of(site));
  }
  if (request.sites.empty()) {
    throw UsageError(scenario.source + " gives no site a delivery ([delivery] or [site.delivery])");
  }
  return request;
}

// Delivers `request`, reporting as every delivering command does.
int Deliver(HistoryDeliveryRequest& request, CommandOutput& output) {
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  const auto start = std::chrono::steady_clock::now();
  double shown = -1;
  request.notice = [&](const std::string& text) {
    if (terminal && shown >= 0) output.Line("");
    output.Error(text);
  };
  request.progress = [&](uint64_t done, uint64_t total) {
    const double seconds = SecondsSince(start);
    if (!terminal || (seconds - shown < 0.2 && done != total)) return;
    shown = seconds;
    char text[96];
    std::snprintf(text, sizeof text, "\rdelivered %llu of %llu files ",
                  static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
    output.Partial(text);
  };
  HistoryDeliveryResult result;
  try {
    DirectoryLock lock(request.out_dir, "tly-generator deliver",
                       request.shard_count > 1 ? DirectoryLock::Mode::kSharedWithShards
                                               : DirectoryLock::Mode::kExclusive);
    result = DeliverHistory(request);
  } catch (...) {
    // A refused request or another writer: exit 2; a failed write: exit 1.
    return ReportCommandFailure(output);
  }
  if (terminal && shown >= 0) output.Line("");
  const std::string log =
      request.out_dir + "/" + DeliveryLogFileName(request.shard_index, request.shard_count);
  char timing[64];
  std::snprintf(timing, sizeof timing, " in %.2f s", SecondsSince(start));
  output.Line(CountOf(result.delivered, "file", "files") + " of " +
              CountOf(request.sites.size(), "site", "sites") + " delivered" + timing + " (" +
              CountOf(result.attempts, "attempt", "attempts") + ", listed in " + log + ")");
  if (result.spooled.empty()) return output.Finish(kExitOk);
  const std::string spool =
      request.out_dir + "/" + SpoolFileName(request.shard_index, request.shard_count);
  NameSpooled(result.spooled, spool, output);
  return output.Finish(kExitFailed);
}

std::optional<TDateTime> DayOption(std::string_view option, const std::string& text) {
  if (text.empty()) return std::nullopt;
  const CivilDate date = ParseDateOption(option, text);
  TDateTime day = 0;
  if (!TryEncodeDate(date.Year, date.Month, date.Day, day)) {
    throw UsageError(std::string(option) + " " + text + " is not a day of the calendar");
  }
  return day;
}

}  // namespace

CLI::App* AddDeliverCommand(CLI::App& app, DeliverOptions& options) {
  CLI::App* deliver = app.add_subcommand(
      "deliver",
      "Deliver the day files in DIR to the servers the scenario's sites deliver to, as their "
      "devices would: in day order, after what waits in DIR/deliveries.spool");
  AddValueOption(*deliver, "--scenario", options.scenario, "FILE",
                 "The scenario file whose [delivery] tables say where each site's files go")
      ->required();
  AddValueOption(*deliver, "--out", options.out_dir, "DIR",
                 "The output directory that holds DIR/<site>/yymmdd.tly")
      ->required();
  AddValueOption(*deliver, "--from", options.from, "YYYY-MM-DD",
                 "First day to deliver (default: the first file)");
  AddValueOption(*deliver, "--to", options.to, "YYYY-MM-DD",
                 "Last day to deliver (default: the last file)");
  AddValueOption(*deliver, "--connections", options.connections, "N",
                 "Sites that deliver at once, each on one connection, 1 to 256 (default: 4)");
  return deliver;
}

int RunDeliverCommand(const DeliverOptions& options) {
  CommandOutput output("deliver");
  HistoryDeliveryRequest request;
  try {
    const std::optional<TDateTime> from = DayOption("--from", options.from);
    const std::optional<TDateTime> to = DayOption("--to", options.to);
    if (from && to && *to < *from) throw UsageError("--to " + options.to + " is before --from");
    const Scenario scenario = LoadScenario(options.scenario);
    request = RequestOf(scenario, options.out_dir, [&](const SiteSettings& site) {
      return FinalDayFilePushes(options.out_dir + "/" + site.name, from, to);
    });
    request.connections =
        options.connections.empty()
            ? kDefaultConnections
            : static_cast<int>(ParseDecimalOption("--connections", options.connections, 1, 256));
  } catch (const std::invalid_argument& problem) {
    output.Error(problem.what());
    return kExitUsage;
  } catch (const std::system_error& failure) {
    output.Error(failure.what());
    return kExitUsage;
  }
  return Deliver(request, output);
}

int DeliverBackfill(const Scenario& scenario, uint32_t seed, const std::string& out_dir,
                    const CivilDate& from, const CivilDate& to, const Shard& shard,
                    CommandOutput& output) {
  const TDateTime first = EncodeDate(from.Year, from.Month, from.Day);
  const TDateTime last = EncodeDate(to.Year, to.Month, to.Day);
  HistoryDeliveryRequest request;
  try {
    request = RequestOf(scenario, out_dir, [&](const SiteSettings& site) {
      // Every day of the range is a push; a share sends the files of its
      // own days, so that its shares of the log make the log of a whole run.
      std::vector<DeliveryPush> pushes;
      const std::string site_dir = out_dir + "/" + site.name + "/";
      for (TDateTime day = first; day <= last; ++day) {
        const std::string name = DayFileBaseName(day);
        const bool own = InShard(shard, site.name, static_cast<int64_t>(day)) &&
                         ::access((site_dir + name).c_str(), F_OK) == 0;
        pushes.push_back({name, day + 1, own});
      }
      return pushes;
    });
  } catch (const std::invalid_argument& problem) {
    output.Error(problem.what());
    return kExitUsage;
  } catch (const std::system_error& failure) {
    output.Error(failure.what());
    return output.Finish(kExitFailed);
  }
  request.connections = kDefaultConnections;
  request.seed = seed;
  request.shard_index = shard.index;
  request.shard_count = shard.count;
  return Deliver(request, output);
}

namespace {

// How `settings` sends, in words: "every 15 minutes, PUT, user u, ...".
std::string HowItSends(const DeliverySettings& settings) {
  std::string text = "every " + CountOf(settings.every_minutes, "minute", "minutes");
  if (IsHttp(settings.protocol)) {
    text += settings.method == HttpMethod::kPost ? ", POST as a form" : ", PUT";
  } else {
    text += settings.temp_name ? ", as NAME.part then renamed" : ", under its own name";
  }
  if (!settings.user.empty()) text += ", user " + settings.user;
  if (!settings.password_env.empty()) text += ", password in $" + settings.password_env;
  if (!settings.key_file.empty()) text += ", key " + settings.key_file;
  if (!settings.known_hosts.empty()) text += ", known hosts " + settings.known_hosts;
  if (!settings.ca_file.empty()) text += ", trusting " + settings.ca_file;
  if (settings.insecure) text += ", any certificate or host key trusted";
  return text + ", retried for " + CountOf(settings.retry_minutes, "minute", "minutes");
}

}  // namespace

std::vector<std::string> DeliverySummary(const Scenario& scenario) {
  std::vector<std::string> lines;
  uint64_t delivering = 0;
  for (const SiteSettings& site : scenario.sites) {
    if (!site.delivery) continue;
    ++delivering;
    const DeliverySettings& settings = *site.delivery;
    lines.push_back("  " + site.name + ": " +
                    RedactUrl(ExpandUrl(settings.url, site.name, site.shop_code)) + " " +
                    HowItSends(settings));
    std::string faults;
    for (size_t i = 0; i < kDeliveryFaultCount; ++i) {
      const double rate = site.delivery_faults.rate[i];
      if (rate <= 0) continue;
      char text[64];
      std::snprintf(text, sizeof text, "%s %s %g", faults.empty() ? "" : ",",
                    DeliveryFaultName(static_cast<DeliveryFault>(i)), rate);
      faults += text;
    }
    if (!faults.empty()) lines.push_back("    delivery faults:" + faults);
  }
  if (!lines.empty()) {
    lines.insert(lines.begin(), "Delivery of " + CountOf(delivering, "site", "sites") + ":");
  }
  return lines;
}

std::unique_ptr<LiveDelivery> StartSitesDelivery(const Scenario& scenario,
                                                 const std::string& out_dir, int64_t unix_seconds,
                                                 std::function<void(const std::string&)> notice,
                                                 std::optional<uint32_t> seed) {
  std::vector<LiveDelivery::Site> sites;
  for (const SiteSettings& site : scenario.sites) {
    if (site.delivery) {
      sites.push_back(
          {{site.name, site.shop_code, *site.delivery, site.delivery_faults}, site.time_zone});
    }
  }
  if (sites.empty()) return nullptr;
  auto delivery = std::make_unique<LiveDelivery>(out_dir, std::move(sites), kDefaultConnections,
                                                 std::move(notice), seed.value_or(scenario.seed));
  delivery->Start(unix_seconds);
  return delivery;
}

std::unique_ptr<LiveDelivery> StartLiveDelivery(const Scenario& scenario,
                                                const std::string& out_dir, int64_t unix_seconds,
                                                CommandOutput& output, bool& failed,
                                                std::optional<uint32_t> seed) {
  failed = false;
  try {
    return StartSitesDelivery(
        scenario, out_dir, unix_seconds, [&output](const std::string& text) { output.Error(text); },
        seed);
  } catch (const std::exception& problem) {
    output.Error(problem.what());
    failed = true;
    return nullptr;
  }
}

bool FinishLiveDelivery(LiveDelivery& delivery, const std::string& out_dir, int64_t unix_seconds,
                        CommandOutput& output) {
  try {
    const std::vector<SpooledFile> left = delivery.Finish(unix_seconds, kFinalDeliveryWait);
    NameSpooled(left, out_dir + "/" + SpoolFileName(1, 1), output);
    return left.empty();
  } catch (const std::system_error& failure) {
    output.Error(failure.what());
    return false;
  }
}

}  // namespace tly
