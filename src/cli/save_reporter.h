#ifndef TLY_CLI_SAVE_REPORTER_H_
#define TLY_CLI_SAVE_REPORTER_H_

#include <cstdint>
#include <string>

#include "cli/command_style.h"

namespace tly {

// Tells once, on stderr, when the saves of a headless run start to fail,
// with the reason, and once when they work again; the run generates on in
// memory in between.
class SaveReporter {
 public:
  explicit SaveReporter(CommandOutput& output) : output_(output) {}

  // Looks at the saves made so far (`saves`), whether the last ones worked
  // and what failed (`what_failed`, said as it is: "cannot ..."), and says
  // what changed since the last look.
  void Look(uint64_t saves, bool ok, const std::string& what_failed) {
    if (saves == seen_saves_) return;
    seen_saves_ = saves;
    if (!ok && !failing_) {
      output_.Error(what_failed + "; generating on in memory, every save tries again");
      failing_ = true;
    } else if (ok && failing_) {
      output_.Error("saving works again");
      failing_ = false;
    }
  }

 private:
  CommandOutput& output_;
  uint64_t seen_saves_ = 0;
  bool failing_ = false;
};

}  // namespace tly

#endif  // TLY_CLI_SAVE_REPORTER_H_
