#ifndef TLY_GENERATOR_DAY_FILE_NAME_H_
#define TLY_GENERATOR_DAY_FILE_NAME_H_

#include <string>

#include "support/date_time.h"

namespace tly {

// The day file of `date` in `out_dir`: the directory with a '/' added when it
// has none, then "yymmdd.tly" of the date part. An empty directory gives the
// bare "/yymmdd.tly".
std::string DayFileNameFor(const std::string& out_dir, TDateTime date);

}  // namespace tly

#endif  // TLY_GENERATOR_DAY_FILE_NAME_H_
