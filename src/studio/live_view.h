#ifndef TLY_GUI_LIVE_VIEW_H_
#define TLY_GUI_LIVE_VIEW_H_

#include <QWidget>
#include <cstdint>

class QDateTimeEdit;
class QDoubleSpinBox;
class QLabel;
class QPlainTextEdit;
class QSpinBox;

namespace tly {

// The live page: where the simulated clock starts, how fast it runs and for
// how long, and what the run has done (the moment reached, the saves, the
// days finished).
class LiveView : public QWidget {
  Q_OBJECT

 public:
  explicit LiveView(QWidget* parent = nullptr);

  // The start as seconds since 1970 (UTC), the speed, and the end (0: until
  // stopped).
  int64_t Start() const;
  double Speed() const;
  int64_t End() const;

  QDateTimeEdit* StartEdit() const { return start_; }
  QDoubleSpinBox* SpeedEdit() const { return speed_; }
  QSpinBox* HoursEdit() const { return hours_; }
  QLabel* Status() const { return status_; }

  void ShowRunning(bool running);
  void ShowProgress(qint64 simulated, quint64 saves, const QString& error);
  void Log(const QString& line);

 private:
  QDateTimeEdit* start_;
  QDoubleSpinBox* speed_;
  QSpinBox* hours_;
  QLabel* status_;
  QPlainTextEdit* log_;
};

}  // namespace tly

#endif  // TLY_GUI_LIVE_VIEW_H_
