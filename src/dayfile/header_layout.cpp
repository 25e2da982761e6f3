#include "dayfile/header_layout.h"

#include <charconv>
#include <cstdlib>
#include <string>

#include "dayfile/day_file_lines.h"
#include "dayfile/line_scanner.h"

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

// The value of a "#R", "#K" or "#F" line into `layout` when it follows its
// pattern.
void ReadValueLine(std::string_view line, HeaderLayout& layout) {
  const std::string_view value = line.substr(2);
  if (line[1] == 'R' && value.size() == 16 &&
      value.find_first_not_of("12") == std::string_view::npos) {
    std::array<bool, 16> marks{};
    for (size_t k = 0; k < marks.size(); ++k) marks[k] = value[k] == '2';
    layout.marks = marks;
  } else if (line[1] == 'K') {
    const size_t first = value.find_first_not_of(' ');
    const std::string number(value.substr(first == std::string_view::npos ? value.size() : first));
    char* parsed_end = nullptr;
    const double k = std::strtod(number.c_str(), &parsed_end);
    if (!number.empty() && parsed_end == number.c_str() + number.size()) layout.k_value = k;
  } else if (line[1] == 'F') {
    int32_t f = 0;
    const auto [ptr, error] = std::from_chars(value.data(), value.data() + value.size(), f);
    if (error == std::errc() && ptr == value.data() + value.size()) layout.f_value = f;
  }
}

}  // namespace

HeaderLayout ParseHeaderLayout(std::string_view text) {
  HeaderLayout layout;
  LineScanner lines(text);
  for (ScannedLine scanned; lines.Next(scanned);) {
    const std::string_view line = scanned.text;
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
    } else {
      ReadValueLine(line, layout);
    }
    if (!why.empty()) layout.problems.push_back(std::string(line) + ": " + why);
  }
  return layout;
}

}  // namespace tly
