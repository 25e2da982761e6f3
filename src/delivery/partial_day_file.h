#ifndef TLY_DELIVERY_PARTIAL_DAY_FILE_H_
#define TLY_DELIVERY_PARTIAL_DAY_FILE_H_

#include <string>
#include <string_view>

#include "support/date_time.h"

// An earlier version of a day file, made from its final one: what a device
// that resends a stale version sends when it only has the day's final file
// (a backfill, or a live run that did not see that push).

namespace tly {

// The day file `final_bytes` of day `day` as it stood at `minute` of that
// day: the rows of the quarter hours over by then, sealed anew, its "last
// updated" line showing that moment. A file without a seal line cannot be
// told apart into rows and is returned as it is.
std::string PartialDayFile(std::string_view final_bytes, TDateTime day, int minute);

}  // namespace tly

#endif  // TLY_DELIVERY_PARTIAL_DAY_FILE_H_
