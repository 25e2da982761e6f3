#include "cli/command_failure.h"

#include <stdexcept>
#include <string>
#include <system_error>

#include "backfill/backfill.h"
#include "cli/exit_codes.h"
#include "support/directory_lock.h"

namespace tly {

int ReportCommandFailure(CommandOutput& output, std::string_view done) {
  try {
    throw;
  } catch (const DayFilesExist& existing) {
    output.Error(std::string(existing.what()) + " with --existing continue, replace or skip");
    return kExitUsage;
  } catch (const std::invalid_argument& refused) {
    output.Error(refused.what());
    return kExitUsage;
  } catch (const DirectoryBusy& busy) {
    // Before the other system errors: another writer is a refusal, not a
    // failure of ours.
    output.Error(busy.what());
    return kExitUsage;
  } catch (const std::system_error& failure) {
    output.Error(std::string(failure.what()) + std::string(done));
    return output.Finish(kExitFailed);
  }
}

}  // namespace tly
