#ifndef TLY_MAIN_DELIVER_COMMAND_H_
#define TLY_MAIN_DELIVER_COMMAND_H_

#include <string>

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
// that the backfill has just written into `out_dir`. The exit codes of
// RunDeliverCommand.
int DeliverBackfill(const Scenario& scenario, const std::string& out_dir, const CivilDate& from,
                    const CivilDate& to, const Shard& shard, CommandOutput& output);

}  // namespace tly

#endif  // TLY_MAIN_DELIVER_COMMAND_H_
