#ifndef TLY_SCENARIO_SITE_LAYOUT_CHECK_H_
#define TLY_SCENARIO_SITE_LAYOUT_CHECK_H_

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "scenario/scenario.h"

// Whether an existing day file may be continued as a day of a scenario site.
// Its rows are read back by position, and a continued file gets the site's
// header: a file of another layout (a site whose doors or device type were
// changed since) would come out with rows that its new header does not
// describe.

namespace tly {

// Why the day file text `existing` does not describe the layout of `site`:
// another device type ("#T"), other doors ("#D": number and kind) or other
// channels ("#C": number, state, kind, direction and door). Names are not
// compared: a renamed door counts the same. std::nullopt when the layouts
// agree, or when the file's header describes none (no "#T", "#D" or "#C"
// line). Never throws (beyond std::bad_alloc).
std::optional<std::string> LayoutDifference(const SiteSettings& site, std::string_view existing);

// Refuses to continue the existing day file `file` of `site` (the text
// `existing`) when LayoutDifference finds one: the message names the file,
// the site and the difference. `remedy` is said at its end.
class OtherLayout : public std::invalid_argument {
 public:
  OtherLayout(const std::string& file, const SiteSettings& site, const std::string& difference,
              std::string_view remedy);
};

}  // namespace tly

#endif  // TLY_SCENARIO_SITE_LAYOUT_CHECK_H_
