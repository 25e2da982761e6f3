#include "generator/day_file_image.h"

#include <exception>

#include "cipher/cipher_fmt.h"
#include "cipher/cipher_hash.h"
#include "config/header_lines.h"
#include "counting/day_file_writer.h"
#include "support/clock.h"
#include "support/safe_file.h"

namespace tly {

std::string BuildDayRows(const DayCounts& day) {
  std::string rows;
  for (int32_t s = 0; s <= day.LastSlot && s < kSlotsPerDay; ++s) {
    if (!day.SlotUsed[s]) continue;
    rows += FormatSlotRow(kGeneratorShopCode, day.Slots[s], day.ChannelCount);
    rows += "\r\n";
  }
  return rows;
}

std::string BuildDayFileImage(const DayCounts& day, TTlyConfig& config, TDateTime updated_at) {
  const std::string rows = BuildDayRows(day);
  config.DataHash = rows.empty() ? std::string()
                                 : HashString(TCipherHashAlg2::Class(), rows, TFormat_HEX::Class());
  config.Seal = config.DataHash;

  const ManualClock clock(updated_at);
  const ScopedClock scoped(clock);
  std::string image = config.GetHeaderText();
  image += kTitleLine1;
  image += "\r\n";
  image += kTitleLine2;
  image += "\r\n";
  image += rows;
  return image;
}

void ReplaceFileWith(const std::string& path, std::string_view bytes) {
  const std::string temp = TempFileNameFor(path);
  try {
    NewFile file(temp);
    file.Write(bytes);
    file.Close();
    RenameOver(temp, path);
  } catch (...) {
    RemoveQuietly(temp);
    throw;
  }
}

}  // namespace tly
