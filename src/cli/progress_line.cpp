#include "cli/progress_line.h"

#include <unistd.h>

namespace tly {

ProgressLine::ProgressLine(CommandOutput& output)
    : output_(output), terminal_(::isatty(STDOUT_FILENO) == 1) {}

void ProgressLine::Show(std::string_view text, bool throttled) {
  if (!terminal_) return;
  const double now = Seconds();
  if (throttled && shown_at_ >= 0 && now - shown_at_ < 0.2) return;
  shown_at_ = now;
  output_.Partial(text);
}

void ProgressLine::Break() {
  if (shown_at_ >= 0) output_.Line("");
  shown_at_ = -1;
}

void ProgressLine::Summary(const std::string& summary) {
  output_.Line((terminal_ ? "\n" : "") + summary);
}

}  // namespace tly
