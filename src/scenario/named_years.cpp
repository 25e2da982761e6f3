#include "scenario/named_years.h"

#include <algorithm>
#include <limits>

#include "dayfile/day_file_name.h"
#include "scenario/site_day.h"

namespace tly {
namespace {

// The instant the local day 1 January `year` of `site` begins.
int64_t StartOfSiteYear(const SiteSettings& site, int year) {
  return ClockOfSiteDay(site, EncodeDate(year, 1, 1)).start_unix;
}

}  // namespace

const SiteSettings* SiteOutsideNamedYears(const Scenario& scenario, int64_t unix_seconds) {
  for (const SiteSettings& site : scenario.sites) {
    if (unix_seconds < StartOfSiteYear(site, kFirstNamedYear) ||
        unix_seconds >= StartOfSiteYear(site, kLastNamedYear + 1)) {
      return &site;
    }
  }
  return nullptr;
}

int64_t EndOfNamedYears(const Scenario& scenario) {
  int64_t end = std::numeric_limits<int64_t>::max();
  for (const SiteSettings& site : scenario.sites) {
    end = std::min(end, StartOfSiteYear(site, kLastNamedYear + 1));
  }
  return end;
}

}  // namespace tly
