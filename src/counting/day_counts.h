#ifndef TLY_COUNTING_DAY_COUNTS_H_
#define TLY_COUNTING_DAY_COUNTS_H_

#include <cstdint>

#include "dayfile/row_text.h"
#include "support/date_time.h"

namespace tly {

inline constexpr int kSlotsPerDay = 96;
inline constexpr int kMaxChannels = kMaxRowCounts;  // one counter per count field

// One quarter hour of one day: its date and start time, stamped when the day
// is initialised and never changed afterwards, and one counter per channel.
struct SlotCounts {
  int32_t Year;
  int32_t Month;
  int32_t Day;
  int32_t Hour;    // slot index div 4
  int32_t Minute;  // (slot index mod 4) * 15
  int32_t Counts[kMaxChannels];
};

// One calendar day of counting data: a plain value of fixed size.
struct DayCounts {
  TDateTime Date;        // the day, without time of day
  int32_t ChannelCount;  // channels in use, 0..64; only grows until re-initialised
  int32_t FirstSlot;     // lowest used slot, 96 when none is used
  int32_t LastSlot;      // highest used slot, -1 when none is used
  SlotCounts Slots[kSlotsPerDay];
  uint8_t SlotUsed[kSlotsPerDay];  // 1 when the slot holds data
};

// Clears `day` and stamps it and each of its slots for the given date, which the
// caller has validated. FirstSlot becomes 96, LastSlot -1.
void InitDayCounts(DayCounts& day, uint16_t year, uint16_t month, uint16_t day_of_month);

// InitDayCounts for the calendar date of the date part of `date`.
void InitDayCountsFor(DayCounts& day, TDateTime date);

// Marks `slot` (0..95) as holding data and widens FirstSlot/LastSlot to it.
void MarkSlotUsed(DayCounts& day, int32_t slot);

// Adds counts to the slot of the time of day of `moment` (its date is ignored)
// and returns that slot. Channels of pairs A and B are clamped to 0..63 and
// always applied; pairs C and D only when their channel is 0 or more (limited
// to 63). Marks the slot used, widens FirstSlot/LastSlot and raises
// ChannelCount to the highest channel applied plus one. Counts wrap as 32-bit
// two's-complement integers.
int32_t AddCounts(DayCounts& day, int32_t channel_a, int32_t count_a, TDateTime moment,
                  int32_t channel_b, int32_t count_b, int32_t channel_c, int32_t count_c,
                  int32_t channel_d, int32_t count_d);

// Adds every used slot of `added` into the same slot of `day` (counts wrap as
// in AddCounts), marks those slots used, widens FirstSlot/LastSlot and raises
// ChannelCount to that of `added`. The dates and stamps of `day` stay.
void MergeDayCounts(DayCounts& day, const DayCounts& added);

}  // namespace tly

#endif  // TLY_COUNTING_DAY_COUNTS_H_
