#ifndef TLY_CLI_PROGRESS_LINE_H_
#define TLY_CLI_PROGRESS_LINE_H_

#include <chrono>
#include <string>
#include <string_view>

#include "cli/command_style.h"

namespace tly {

// The progress of a long command on stdout: on a terminal, one line
// rewritten in place; otherwise nothing until the summary, the one line a
// script reads.
class ProgressLine {
 public:
  explicit ProgressLine(CommandOutput& output);

  // Seconds since the line was made, never 0.
  double Seconds() const { return SecondsSince(start_); }
  // Shows `text` in place of what the line showed, on a terminal; with
  // `throttled`, only when it showed nothing for a fifth of a second.
  void Show(std::string_view text, bool throttled = false);
  // Ends the line shown, if any, so that a message starts on a line of its
  // own.
  void Break();
  // Writes `summary` as the command's last line, below the line shown.
  void Summary(const std::string& summary);

 private:
  CommandOutput& output_;
  const bool terminal_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  double shown_at_ = -1;  // seconds, -1: nothing shown
};

}  // namespace tly

#endif  // TLY_CLI_PROGRESS_LINE_H_
