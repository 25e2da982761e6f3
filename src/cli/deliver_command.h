#ifndef TLY_MAIN_DELIVER_COMMAND_H_
#define TLY_MAIN_DELIVER_COMMAND_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tly {

// The options of `deliver` as given on the command line.
struct DeliverOptions {
  std::string scenario;
  std::string out_dir;
  std::string from;
  std::string to;
  std::string connections;  // empty: 4
};

// Registers `deliver --scenario FILE --out DIR [--from D --to D]
// [--connections N]` on `app`; parsing fills `options`, which must outlive
// `app`.
CLI::App* AddDeliverCommand(CLI::App& app, DeliverOptions& options);

// (Re)delivers the day files in DIR/<site>/ of every site of the scenario
// that has a delivery, in day order, after what waits in the spool. Returns
// 0 when every file arrived; 1 when some wait in the spool (named on stderr)
// or the log cannot be written; 2 for bad options, a bad scenario, a
// scenario without delivery or a password variable that is not set.
int RunDeliverCommand(const DeliverOptions& options);

class CommandOutput;
struct Scenario;
struct Shard;
struct CivilDate;

// `backfill --deliver`: delivers the site-days of `shard` from `from` to `to`
// that the backfill has just written into `out_dir`, its delivery faults
// drawn from `seed`. The exit codes of RunDeliverCommand.
int DeliverBackfill(const Scenario& scenario, uint32_t seed, const std::string& out_dir,
                    const CivilDate& from, const CivilDate& to, const Shard& shard,
                    CommandOutput& output);

// The lines `scenario --check` shows of the sites that deliver: where each
// one's files go (the url expanded, any user info in it hidden), how often
// and how, the variable that holds its password (never the password) and its
// delivery faults; none when no site delivers.
std::vector<std::string> DeliverySummary(const Scenario& scenario);

class LiveDelivery;

// How long a live run waits at its end for its last files to arrive.
inline constexpr std::chrono::seconds kFinalDeliveryWait{30};

// The live delivery of the sites of `scenario` that deliver, started at the
// simulated `unix_seconds`, telling `notice` of a server that fails and
// recovers, its delivery faults drawn from `seed` (none: the scenario's);
// none when no site delivers. Throws what LiveDelivery's
// constructor throws (a password variable not set, a zone, the spool).
std::unique_ptr<LiveDelivery> StartSitesDelivery(const Scenario& scenario,
                                                 const std::string& out_dir, int64_t unix_seconds,
                                                 std::function<void(const std::string&)> notice,
                                                 std::optional<uint32_t> seed = std::nullopt);

// `run --scenario`: the live delivery of the sites that deliver, started at
// the simulated `unix_seconds`, its faults drawn from `seed`; none when no
// site delivers or when it cannot start (said through `output`, with
// `failed` set).
std::unique_ptr<LiveDelivery> StartLiveDelivery(const Scenario& scenario,
                                                const std::string& out_dir, int64_t unix_seconds,
                                                CommandOutput& output, bool& failed,
                                                std::optional<uint32_t> seed = std::nullopt);

// The end of a live run at `unix_seconds`: every site's last file delivered,
// with a bounded wait; names what could not be, which stays in the spool.
// Returns whether everything arrived.
bool FinishLiveDelivery(LiveDelivery& delivery, const std::string& out_dir, int64_t unix_seconds,
                        CommandOutput& output);

}  // namespace tly

#endif  // TLY_MAIN_DELIVER_COMMAND_H_
