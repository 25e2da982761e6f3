#ifndef TLY_COUNTING_EXISTING_DAY_FILE_NOTICE_H_
#define TLY_COUNTING_EXISTING_DAY_FILE_NOTICE_H_

#include <functional>
#include <string>

// Telling the user that a day file about to be continued is not sound. The
// loader reads such files leniently on purpose (counting/day_file_loader.h);
// the user should still know that what they continue was edited or broken.

namespace tly {

// Told of an existing day file that is continued although it holds a
// problem: the file and its first problem, in words.
using ExistingNoticedFn = std::function<void(const std::string& file, const std::string& problem)>;

// Calls `notice` (when set) with the first problem of the day file `file`
// (FirstProblemOfDayFile of dayfile/day_file_findings.h: a seal that does not
// match its rows, rows a strict reader calls bad); nothing when the file is
// sound, missing or cannot be read (the loader reports that).
void NoticeExistingDayFile(const std::string& file, const ExistingNoticedFn& notice);

}  // namespace tly

#endif  // TLY_COUNTING_EXISTING_DAY_FILE_NOTICE_H_
