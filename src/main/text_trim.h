#ifndef TLY_MAIN_TEXT_TRIM_H_
#define TLY_MAIN_TEXT_TRIM_H_

#include <string>
#include <string_view>

namespace tly {

// `text` without leading and trailing blanks and control characters (every
// byte up to and including the space, 0x00..0x20). Inner characters stay.
std::string TrimBlanksAndControls(std::string_view text);

}  // namespace tly

#endif  // TLY_MAIN_TEXT_TRIM_H_
