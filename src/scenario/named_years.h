#ifndef TLY_SCENARIO_NAMED_YEARS_H_
#define TLY_SCENARIO_NAMED_YEARS_H_

#include <cstdint>

#include "scenario/scenario.h"

// The instants at which every site of a scenario counts a local day of the
// years a day file's name tells apart (kFirstNamedYear..kLastNamedYear of
// dayfile/day_file_name.h). A live run must stay within them: a day outside
// would be written into the file of the same day of another century.

namespace tly {

// The first site of `scenario` whose local day at the instant `unix_seconds`
// (UTC) lies outside those years, or nullptr when there is none.
const SiteSettings* SiteOutsideNamedYears(const Scenario& scenario, int64_t unix_seconds);

// The first instant at which some site of `scenario` begins a local day
// after the last of those years.
int64_t EndOfNamedYears(const Scenario& scenario);

}  // namespace tly

#endif  // TLY_SCENARIO_NAMED_YEARS_H_
