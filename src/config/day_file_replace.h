#ifndef TLY_CONFIG_DAY_FILE_REPLACE_H_
#define TLY_CONFIG_DAY_FILE_REPLACE_H_

#include <string>
#include <string_view>

namespace tly {

// Replaces the day file `file_name` with the complete file `image` in one
// atomic step: the bytes go to its temporary ".tmp" file, which is then
// renamed over it, so a reader sees the old file or the new one, never less.
// A refused rename is tried once more after 100 ms; when that fails too, the
// line "SetHeaderToFile: CopyFile 2nd attempt failed: <system text>" goes to
// the debug log, the complete temporary file is kept and RenameRefused
// (support/safe_file.h) is thrown. Any other failure throws
// std::system_error and leaves the day file and no temporary file behind.
void ReplaceDayFile(const std::string& file_name, std::string_view image);

class TTlyConfig;

// TTlyConfig::SetHeaderToFile, except that a replacement refused twice is
// thrown (RenameRefused, after the debug log line; the temporary file is
// kept), for a caller that must not report it as done.
void SealDayFile(TTlyConfig& config, const std::string& file_name);

}  // namespace tly

#endif  // TLY_CONFIG_DAY_FILE_REPLACE_H_
