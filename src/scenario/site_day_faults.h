#ifndef TLY_SCENARIO_SITE_DAY_FAULTS_H_
#define TLY_SCENARIO_SITE_DAY_FAULTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "counting/day_counts.h"
#include "faults/fault_record.h"
#include "scenario/scenario.h"
#include "support/date_time.h"

// A site-day's file as a real site sends it: broken the ways the site's fault
// rates draw, with the ground truth of every fault. Each kind has a stream of
// its own (keyed by seed, site, day and a quarter number below any traffic
// draw's), so whether and how one kind happens depends on nothing else, and
// the draws of the traffic are never touched.

namespace tly {

// What became of one site-day.
struct FaultedSiteDay {
  bool written = true;  // false: the day's file is missing (no other fault is planted then)
  std::string image;    // the bytes of the file when written
  // In the order of FaultKind, then the passages the counter missed (when it
  // missed any and the file is written).
  std::vector<FaultRecord> records;
};

// The day file of `site` for `date` holding the counts of `day` (SiteDayImage
// of site_day.h, saved at `updated_at`), with the faults that the site's rates
// draw from `seed` planted in it. Without a fault the image is SiteDayImage's,
// byte for byte.
//
// Every kind draws its place on the clean day alone, so its draws are the
// same whatever the other rates. The kinds take their places in the order of
// FaultKind, each claiming what it may change (counts of quarter hours, the
// file's end, a seal still sound); a fault whose claim meets one taken
// before, or that finds no place in the day (no rows, no count), is left
// out. So no two faults change the same count, and each record is exactly
// its fault's own effect on the file. The file is then made in steps: the
// counts, the rows' stamps and number, the seal, the sealed lines, the bytes.
FaultedSiteDay PlantSiteDayFaults(const SiteSettings& site, uint32_t seed, TDateTime date,
                                  const DayCounts& day, TDateTime updated_at);

}  // namespace tly

#endif  // TLY_SCENARIO_SITE_DAY_FAULTS_H_
