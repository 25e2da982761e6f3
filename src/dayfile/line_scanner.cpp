#include "dayfile/line_scanner.h"

namespace tly {

bool LineScanner::Next(ScannedLine& line) {
  if (rest_.empty()) return false;
  const size_t lf = rest_.find('\n');
  const bool ended = lf != std::string_view::npos;
  line.whole = rest_.substr(0, ended ? lf + 1 : rest_.size());
  line.text = rest_.substr(0, ended ? lf : rest_.size());
  rest_.remove_prefix(line.whole.size());
  const bool cr = !line.text.empty() && line.text.back() == '\r';
  if (cr) line.text.remove_suffix(1);
  if (ended) {
    line.end = cr ? LineEnd::kCrLf : LineEnd::kLf;
  } else {
    line.end = cr ? LineEnd::kCrAtEnd : LineEnd::kNone;
  }
  return true;
}

}  // namespace tly
