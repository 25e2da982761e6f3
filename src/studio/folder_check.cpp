#include "studio/folder_check.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "cli/command_style.h"
#include "faults/fault_truth_file.h"

namespace tly {

FolderCheck CheckFolder(const std::string& folder, const std::atomic<bool>& cancel) {
  namespace fs = std::filesystem;
  FolderCheck result;
  std::vector<std::string> paths;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().extension() == ".tly") paths.push_back(it->path().string());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<CheckedFile> checked;
  for (const std::string& path : paths) {
    if (cancel) return result;
    FolderFileCheck file{path, true, "", {}};
    const std::optional<std::string> bytes = ReadGivenFile(path, file.problem);
    if (bytes) {
      file.verified = CheckReadDayFile(path, *bytes);
      checked.push_back(file.verified.checked);
    } else {
      file.readable = false;
    }
    result.files.push_back(std::move(file));
  }
  const std::string truth = (fs::path(folder) / FaultTruthFileName(1, 1)).string();
  if (fs::exists(truth, error)) {
    result.truth_path = truth;
    try {
      result.truth_lines = TruthScoreLines(truth, ScoreTruthFile(truth, checked));
    } catch (const std::invalid_argument& refused) {
      result.truth_lines = {refused.what()};
    }
  }
  return result;
}

}  // namespace tly
