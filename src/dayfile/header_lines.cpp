#include "dayfile/header_lines.h"

#include <charconv>
#include <system_error>

namespace tly {
namespace {

// `value` with three decimals and '.' as decimal mark, padded on the left
// with blanks to at least 5 characters.
std::string FormatKValue(double value) {
  // Wide enough for the largest double in fixed notation.
  char digits[400];
  const std::to_chars_result result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 3);
  std::string text(digits, result.ec == std::errc() ? result.ptr : digits);
  if (text.size() < 5) text.insert(0, 5 - text.size(), ' ');
  return text;
}

std::string ChannelLine(const HeaderChannel& channel) {
  std::string line = "#C" + std::to_string(channel.number) + (channel.active ? 'Y' : 'I') +
                     channel.kind_letter + std::to_string(channel.door);
  if (!channel.name.empty()) line += ' ' + channel.name;
  return line;
}

}  // namespace

std::vector<std::string> HeaderLines(const HeaderValues& values) {
  std::vector<std::string> lines;
  lines.reserve(values.doors.size() + values.channels.size() + 8);
  lines.push_back("#T" + values.device_type);
  if (!values.shop_name.empty()) lines.push_back(std::string(kShopNameTag) + values.shop_name);
  lines.push_back(std::string(kUpdatedLineStart) + values.updated);
  for (const HeaderDoor& door : values.doors) {
    lines.push_back("#D" + std::to_string(door.number) + door.kind + door.name);
  }
  for (const HeaderChannel& channel : values.channels) lines.push_back(ChannelLine(channel));
  std::string marks = "#R";
  for (const bool mark : values.marks) marks += mark ? '2' : '1';
  lines.push_back(std::move(marks));
  lines.push_back("#K" + FormatKValue(values.k_value));
  lines.push_back("#F" + std::to_string(values.f_value));
  lines.push_back("#S" + values.seal);
  return lines;
}

}  // namespace tly
