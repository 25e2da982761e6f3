#ifndef TLY_GUI_FOLDER_CHECK_H_
#define TLY_GUI_FOLDER_CHECK_H_

#include <atomic>
#include <string>
#include <vector>

#include "cli/verify_command.h"

// Verify over a whole output folder, for the studio's checks page: every day
// file under it checked as `verify` checks it, and the truth file beside the
// site directories, when there is one, scored as `verify --truth` scores it.
// Toolkit-free; runs off the window's thread.

namespace tly {

struct FolderFileCheck {
  std::string path;
  bool readable = true;
  std::string problem;  // why it could not be read
  VerifiedFile verified;
};

struct FolderCheck {
  std::vector<FolderFileCheck> files;    // in the order of their paths
  std::string truth_path;                // "" when the folder has no truth file
  std::vector<std::string> truth_lines;  // the scores as verify prints them, or why not
};

// Checks every "*.tly" under `folder` (in site directories and the folder
// itself). Stops early, with what it has, when `cancel` becomes true.
FolderCheck CheckFolder(const std::string& folder, const std::atomic<bool>& cancel);

}  // namespace tly

#endif  // TLY_GUI_FOLDER_CHECK_H_
