#ifndef TLY_LIVE_GENERATION_TIMER_H_
#define TLY_LIVE_GENERATION_TIMER_H_

namespace tly {

// The periodic timer that drives generation. Whether generation runs is
// nothing but the timer's enabled state, so the cycle asks and switches it
// here: the window's is a QTimer, the headless run's a loop, a test's a flag.
class GenerationTimer {
 public:
  virtual ~GenerationTimer() = default;

  // True while the timer delivers ticks.
  virtual bool IsEnabled() const = 0;
  // Starts or stops the ticks. Must not fail.
  virtual void SetEnabled(bool enabled) = 0;
};

// A timer that is only a flag: its owner delivers the ticks itself (the
// headless loop, a simulated day, a test).
class FlagTimer final : public GenerationTimer {
 public:
  bool IsEnabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }

 private:
  bool enabled_ = false;
};

}  // namespace tly

#endif  // TLY_LIVE_GENERATION_TIMER_H_
