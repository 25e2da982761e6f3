#ifndef TLY_GUI_GENERATION_QTIMER_H_
#define TLY_GUI_GENERATION_QTIMER_H_

#include <QTimer>

#include "live/generation_timer.h"

namespace tly {

// The window's generation timer: a QTimer of the event loop whose running
// state is the generation state of the cycle. Starts stopped.
class GenerationQTimer final : public QTimer, public GenerationTimer {
 public:
  GenerationQTimer(int interval_ms, QObject* parent) : QTimer(parent) {
    setInterval(interval_ms);
    setTimerType(Qt::PreciseTimer);
  }

  bool IsEnabled() const override { return isActive(); }
  void SetEnabled(bool enabled) override {
    if (enabled)
      start();
    else
      stop();
  }
};

}  // namespace tly

#endif  // TLY_GUI_GENERATION_QTIMER_H_
