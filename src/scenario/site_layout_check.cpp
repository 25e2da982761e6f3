#include "scenario/site_layout_check.h"

#include <memory>
#include <tuple>

#include "counting/day_counts.h"
#include "dayfile/header_layout.h"
#include "scenario/site_day.h"

namespace tly {
namespace {

bool SameDoors(const HeaderLayout& a, const HeaderLayout& b) {
  if (a.doors.size() != b.doors.size()) return false;
  for (size_t i = 0; i < a.doors.size(); ++i) {
    if (std::tie(a.doors[i].number, a.doors[i].kind) !=
        std::tie(b.doors[i].number, b.doors[i].kind)) {
      return false;
    }
  }
  return true;
}

bool SameChannels(const HeaderLayout& a, const HeaderLayout& b) {
  if (a.channels.size() != b.channels.size()) return false;
  for (size_t i = 0; i < a.channels.size(); ++i) {
    const HeaderChannel& x = a.channels[i];
    const HeaderChannel& y = b.channels[i];
    if (std::tie(x.number, x.active, x.out, x.kind_letter, x.door) !=
        std::tie(y.number, y.active, y.out, y.kind_letter, y.door)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> LayoutDifference(const SiteSettings& site, std::string_view existing) {
  const HeaderLayout found = ParseHeaderLayout(existing);
  if (found.device_type.empty() && found.doors.empty() && found.channels.empty()) {
    return std::nullopt;
  }
  // The site's header as its saves write it; an empty day has no rows.
  const auto no_rows = std::make_unique<DayCounts>();
  const HeaderLayout wanted = ParseHeaderLayout(SiteDayImage(site, *no_rows, 0));
  if (found.device_type != wanted.device_type) {
    return "its device type is \"" + found.device_type + "\", the site's \"" + wanted.device_type +
           "\"";
  }
  if (!SameDoors(found, wanted)) return std::string("its doors (#D lines) are not the site's");
  if (!SameChannels(found, wanted)) {
    return std::string("its channels (#C lines) are not the site's");
  }
  return std::nullopt;
}

OtherLayout::OtherLayout(const std::string& file, const SiteSettings& site,
                         const std::string& difference, std::string_view remedy)
    : std::invalid_argument(file + " has another layout than the site " + site.name +
                            " of the scenario (" + difference + "), so it cannot be continued; " +
                            std::string(remedy)) {}

}  // namespace tly
