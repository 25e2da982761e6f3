#include "dayfile/header_layout.h"

#include "dayfile/day_file_lines.h"

namespace tly {

namespace {

constexpr int32_t kMaxNumber = 9999;

// Takes the decimal number at the front of `rest` (1..kMaxNumber) and
// advances past it; false when there is none or it is out of range.
bool TakeNumber(std::string_view& rest, int32_t& number) {
  size_t digits = 0;
  int32_t value = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
    value = value * 10 + (rest[digits] - '0');
    if (value > kMaxNumber) return false;
    ++digits;
  }
  if (digits == 0 || value == 0) return false;
  number = value;
  rest.remove_prefix(digits);
  return true;
}

// "#D<number><kind><name>"; empty `why` when it was read.
HeaderDoor ReadDoorLine(std::string_view rest, std::string& why) {
  HeaderDoor door;
  if (!TakeNumber(rest, door.number)) {
    why = "no door number from 1 to 9999";
  } else if (rest.empty()) {
    why = "no door kind after the number";
  } else {
    door.kind = rest.front();
    door.name = rest.substr(1);
  }
  return door;
}

// "#C<number><Y|I><kind letter><door>[ <name>]"; empty `why` when it was read.
HeaderChannel ReadChannelLine(std::string_view rest, std::string& why) {
  HeaderChannel channel;
  if (!TakeNumber(rest, channel.number)) {
    why = "no channel number from 1 to 9999";
    return channel;
  }
  if (rest.empty() || (rest.front() != 'Y' && rest.front() != 'I')) {
    why = "the state letter is not Y or I";
    return channel;
  }
  channel.active = rest.front() == 'Y';
  rest.remove_prefix(1);
  const std::string_view entries = "ACE";
  const std::string_view exits = "BDX";
  if (rest.empty() || (entries.find(rest.front()) == std::string_view::npos &&
                       exits.find(rest.front()) == std::string_view::npos)) {
    why = "the kind letter is none of A, B, C, D, E, X";
    return channel;
  }
  channel.kind_letter = rest.front();
  channel.out = exits.find(rest.front()) != std::string_view::npos;
  rest.remove_prefix(1);
  if (!TakeNumber(rest, channel.door)) {
    why = "no door number from 1 to 9999";
    return channel;
  }
  if (!rest.empty()) {
    if (rest.front() != ' ') {
      why = "the door number is followed by neither the end nor a blank";
      return channel;
    }
    channel.name = rest.substr(1);
  }
  return channel;
}

}  // namespace

HeaderLayout ParseHeaderLayout(std::string_view text) {
  HeaderLayout layout;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!IsTagLine(line)) break;
    if (IsSealLine(line)) break;

    std::string why;
    if (line.substr(0, kShopNameTag.size()) == kShopNameTag) {
      layout.shop_name = line.substr(kShopNameTag.size());
    } else if (line[1] == 'T') {
      layout.device_type = line.substr(2);
    } else if (line[1] == 'D') {
      HeaderDoor door = ReadDoorLine(line.substr(2), why);
      if (why.empty()) layout.doors.push_back(std::move(door));
    } else if (line[1] == 'C') {
      HeaderChannel channel = ReadChannelLine(line.substr(2), why);
      if (why.empty()) layout.channels.push_back(std::move(channel));
    }
    if (!why.empty()) layout.problems.push_back(std::string(line) + ": " + why);
  }
  return layout;
}

}  // namespace tly
