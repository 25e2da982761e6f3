#ifndef TLY_LIVE_TRUTH_FOLLOWER_H_
#define TLY_LIVE_TRUTH_FOLLOWER_H_

#include <cstddef>
#include <string>

#include "live/live_scenario.h"

namespace tly {

// The truth of the days a live scenario finishes, written to the run's truth
// file (OUT/faults.jsonl) as soon as each is known, in place of what earlier
// runs said of that day's file. Not thread-safe; the thread that drives the
// scenario calls it.
class TruthFollower {
 public:
  // `live` must outlive the follower; nothing is written yet.
  TruthFollower(const LiveScenario& live, const std::string& out_dir);

  // Writes the days finished since the last write that worked. Returns false
  // when it failed (the next call tries those days again); Error() says why.
  bool Follow();
  // Whether no write has failed so far.
  bool Ok() const { return error_.empty(); }
  // The text of the last failure; empty while none.
  const std::string& Error() const { return error_; }

 private:
  const LiveScenario& live_;
  std::string file_;
  size_t written_ = 0;
  std::string error_;
};

}  // namespace tly

#endif  // TLY_LIVE_TRUTH_FOLLOWER_H_
