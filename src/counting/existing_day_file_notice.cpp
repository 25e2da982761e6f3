#include "counting/existing_day_file_notice.h"

#include <system_error>

#include "dayfile/day_file_findings.h"

namespace tly {

void NoticeExistingDayFile(const std::string& file, const ExistingNoticedFn& notice) {
  if (!notice) return;
  std::string problem;
  try {
    problem = FirstProblemOfDayFile(file);
  } catch (const std::system_error&) {
    return;
  }
  if (!problem.empty()) notice(file, problem);
}

}  // namespace tly
