#ifndef TLY_SUPPORT_DEBUG_LOG_H_
#define TLY_SUPPORT_DEBUG_LOG_H_

#include <string_view>

namespace tly {

// The diagnostic log: "debug.txt" in the current directory, one entry per
// line, appended and never truncated. Nothing here ever reports a failure: a
// log that cannot be opened or written (read-only file or directory, full
// disk, a symbolic link in place of the file) silently loses the entry.

// Appends "dd/mm/yyyy hh:nn:ss", a TAB and `message` as one entry. The time
// is CurrentClock().Now(), always written with '/' and ':' and a 24-hour
// clock, whatever the locale says.
void WriteDebugLog(std::string_view message) noexcept;

// Appends `text` as one line: every CR LF pair becomes one blank (a lone CR or
// LF stays), then CR LF is added. The file is created (mode 0644 less umask)
// when missing and opened anew for each line; it is never written through a
// symbolic link.
void AppendLogLine(std::string_view text) noexcept;

}  // namespace tly

#endif  // TLY_SUPPORT_DEBUG_LOG_H_
