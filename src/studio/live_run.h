#ifndef TLY_GUI_LIVE_RUN_H_
#define TLY_GUI_LIVE_RUN_H_

#include <QString>
#include <QThread>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "scenario/scenario.h"

namespace tly {

class LiveDelivery;
class LiveScenario;
class TruthFollower;

// A scenario running live on a thread of its own, the engine of
// `run --scenario` (LiveScenario): the simulated clock runs `speed` times as
// fast as the real one from `start` (seconds since 1970, UTC) and stops by
// itself at `end` (0: only when asked). The window's event loop is never held
// up by it; what it does arrives as signals. Sites with a delivery push their
// files on their schedules as `run --scenario` does. Stopping saves every
// site and delivers its last file (a bounded wait).
class LiveRun : public QThread {
  Q_OBJECT

 public:
  LiveRun(std::shared_ptr<const Scenario> scenario, QString out_dir, double speed, int64_t start,
          int64_t end, QObject* parent = nullptr);
  // Stops and waits for the final save.
  ~LiveRun() override;

  // Asks the run to stop; Stopped() follows once every site is saved.
  void RequestStop();

 signals:
  // The simulated moment reached and the day files saved so far; `error` is
  // the last save's failure, "" while saves work.
  void Progressed(qint64 simulated, quint64 saves, const QString& error);
  void DayFinished(const QString& site, const QString& finished_file);
  // A server that failed or recovered, said once each.
  void DeliveryNotice(const QString& text);
  void Stopped(const QString& outcome);

 protected:
  void run() override;

 private:
  // Waits until the real moment `until` or a stop; true when stopped.
  bool WaitUntil(std::chrono::steady_clock::time_point until);

  // Moves `live` and `delivery` (null when no site delivers) along with the
  // simulated clock until `end_` or a stop, saying each step by signals;
  // returns the simulated moment reached.
  int64_t Simulate(LiveScenario& live, LiveDelivery* delivery, TruthFollower& truth);

  // Saves every site at `now`, sends what is still to be sent (a bounded
  // wait) and says how the run ended, the first failure first.
  void Finish(LiveScenario& live, LiveDelivery* delivery, int64_t now, TruthFollower& truth);

  std::shared_ptr<const Scenario> scenario_;
  QString out_dir_;
  double speed_;
  int64_t start_;
  int64_t end_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
};

}  // namespace tly

#endif  // TLY_GUI_LIVE_RUN_H_
