#ifndef TLY_CONFIG_CONFIG_TABLES_H_
#define TLY_CONFIG_CONFIG_TABLES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "config/fixed_text.h"

namespace tly {

// One access point (door or passage) of the counting site.
struct DoorEntry {
  bool Active = false;
  FixedText<32> Name;
  char Kind = '\0';     // 'D' door, 'C' passage, 'P'
  bool HasOut = false;  // an active outgoing channel counts this access point
  std::int16_t Reserved = 0;

  friend bool operator==(const DoorEntry&, const DoorEntry&) = default;
};

// One counting channel: one direction of one access point.
struct ChannelEntry {
  bool Active = false;
  bool IsOut = false;          // counts the outgoing direction; false: incoming
  std::int32_t DoorIndex = 0;  // number (1..32) of the door the channel belongs to
  std::int32_t Kind = 0;       // 1 and 2 select their own header letters, anything else the default
  FixedText<64> Name;

  friend bool operator==(const ChannelEntry&, const ChannelEntry&) = default;
};

// A table of `Count` entries addressed by their numbers 1..Count, as doors and
// channels are numbered everywhere in the day file. A number outside that range
// throws std::out_of_range instead of touching memory outside the table.
template <typename Entry, int Count>
class NumberedTable {
 public:
  static constexpr int kCount = Count;

  Entry& operator[](int number) { return entries_[Offset(number)]; }
  const Entry& operator[](int number) const { return entries_[Offset(number)]; }

  // True when `number` addresses an entry of this table.
  static constexpr bool Contains(std::int64_t number) { return number >= 1 && number <= Count; }

  // Iteration runs from entry 1 to entry Count.
  auto begin() { return entries_.begin(); }
  auto end() { return entries_.end(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

  friend bool operator==(const NumberedTable&, const NumberedTable&) = default;

 private:
  static std::size_t Offset(int number) {
    if (!Contains(number)) throw std::out_of_range("table entry number out of range");
    return static_cast<std::size_t>(number - 1);
  }

  std::array<Entry, Count> entries_{};
};

inline constexpr int kDoorCount = 32;
inline constexpr int kChannelCount = 64;

using DoorTable = NumberedTable<DoorEntry, kDoorCount>;
using ChannelTable = NumberedTable<ChannelEntry, kChannelCount>;

}  // namespace tly

#endif  // TLY_CONFIG_CONFIG_TABLES_H_
