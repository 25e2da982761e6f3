#ifndef TLY_MAIN_DISPLAY_CHECK_H_
#define TLY_MAIN_DISPLAY_CHECK_H_

#include <string>

namespace tly {

// Whether the window can be shown: a platform chosen in QT_QPA_PLATFORM
// (offscreen, vnc, ...) is taken as it is; otherwise a Wayland compositor at
// WAYLAND_DISPLAY or an X server at DISPLAY must accept a connection. Asked
// before the toolkit starts, because the toolkit aborts the process when it
// finds no display. `why_not` gets what is missing when false is returned.
bool DisplayUsable(std::string& why_not);

}  // namespace tly

#endif  // TLY_MAIN_DISPLAY_CHECK_H_
