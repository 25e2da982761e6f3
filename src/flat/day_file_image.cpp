#include "flat/day_file_image.h"

#include "counting/day_file_loader.h"
#include "counting/day_file_writer.h"
#include "flat/default_layout.h"

namespace tly {

std::string BuildDayRows(const DayCounts& day) {
  return FormatDayRows(day, kGeneratorShopCode, kGeneratorFromTime, kGeneratorToTime,
                       kGeneratorChannelsPerRow);
}

std::string BuildDayFileImage(const DayCounts& day, TTlyConfig& config, TDateTime updated_at) {
  return config.BuildSealedFileText(BuildDayRows(day), updated_at);
}

bool ReloadDayFile(const std::string& file_name, DayCounts& day, TTlyConfig& config) {
  ApplyDefaultLayout(config);
  return LoadDayFile(file_name, day);
}

}  // namespace tly
