#ifndef TLY_GUI_QUIT_SIGNALS_H_
#define TLY_GUI_QUIT_SIGNALS_H_

#include <QWidget>

namespace tly {

// Makes SIGINT, SIGTERM and SIGHUP close `window` the way its Exit button
// does, so that a logout, a `kill` or Ctrl-C in the starting terminal still
// writes the day file and the settings instead of dropping the latest counts.
// The signal only wakes the event loop (through a socket pair); the close
// itself runs there. Call once, before the event loop runs.
void CloseOnQuitSignals(QWidget& window);

}  // namespace tly

#endif  // TLY_GUI_QUIT_SIGNALS_H_
