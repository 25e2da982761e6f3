#include "generator/day_file_image.h"

#include "counting/day_file_writer.h"
#include "support/clock.h"

namespace tly {

std::string BuildDayRows(const DayCounts& day) {
  return FormatDayRows(day, kGeneratorShopCode, kGeneratorFromTime, kGeneratorToTime,
                       kGeneratorChannelsPerRow);
}

std::string BuildDayFileImage(const DayCounts& day, TTlyConfig& config, TDateTime updated_at) {
  const ManualClock clock(updated_at);
  const ScopedClock scoped(clock);
  return config.BuildSealedFileText(BuildDayRows(day));
}

}  // namespace tly
