#ifndef TLY_SUPPORT_TEXT_TRIM_H_
#define TLY_SUPPORT_TEXT_TRIM_H_

#include <string_view>

namespace tly {

// True for blanks and control characters: every byte up to and including the
// space (0x00..0x20). Bytes from 0x80 on are text.
inline bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

// `text` without leading and trailing blanks and control characters; inner
// characters stay. The result views `text`.
std::string_view TrimBlanksAndControls(std::string_view text);

}  // namespace tly

#endif  // TLY_SUPPORT_TEXT_TRIM_H_
