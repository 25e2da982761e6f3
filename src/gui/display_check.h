#ifndef TLY_GUI_DISPLAY_CHECK_H_
#define TLY_GUI_DISPLAY_CHECK_H_

#include <string>

namespace tly {

// Whether the window can be shown: a Wayland compositor at WAYLAND_DISPLAY or
// an X server at DISPLAY must accept a connection, or, when QT_QPA_PLATFORM
// names platforms, one of them must work: xcb and wayland with their display,
// the toolkit's platforms that need none (offscreen, vnc, ...) as they are;
// a name the toolkit does not know never. Asked before the toolkit starts,
// because the toolkit aborts the process when its platform cannot start.
// `why_not` gets what is missing when false is returned.
bool DisplayUsable(std::string& why_not);

}  // namespace tly

#endif  // TLY_GUI_DISPLAY_CHECK_H_
