#include "live/truth_follower.h"

#include <system_error>
#include <vector>

#include "faults/fault_truth_file.h"

namespace tly {

TruthFollower::TruthFollower(const LiveScenario& live, const std::string& out_dir)
    : live_(live), file_(out_dir + "/" + FaultTruthFileName(1, 1)) {}

bool TruthFollower::Follow() {
  const std::vector<DayTruth>& truth = live_.Truth();
  if (truth.size() == written_) return true;
  try {
    UpdateFaultTruth(
        file_,
        std::vector<DayTruth>(truth.begin() + static_cast<std::ptrdiff_t>(written_), truth.end()));
    written_ = truth.size();
    return true;
  } catch (const std::system_error& failure) {
    error_ = failure.what();
    return false;
  }
}

}  // namespace tly
