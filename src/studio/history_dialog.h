#ifndef TLY_GUI_HISTORY_DIALOG_H_
#define TLY_GUI_HISTORY_DIALOG_H_

#include <QDialog>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QString>
#include <atomic>
#include <memory>

#include "scenario/scenario.h"

class QComboBox;
class QDateEdit;
class QDialogButtonBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace tly {

// The history dialog: a scenario backfill of a range of days into the output
// folder, with the threads, the share of a sharded run and what to do with
// existing files, off the window's thread with its progress, its rate and
// the time left. Cancel stops it after the files being written: every file
// is whole, the truth file is not written, as after a killed backfill.
class HistoryDialog : public QDialog {
  Q_OBJECT

 public:
  HistoryDialog(std::shared_ptr<const Scenario> scenario, QString out_dir,
                QWidget* parent = nullptr);
  ~HistoryDialog() override;

  QDateEdit* From() const { return from_; }
  QDateEdit* To() const { return to_; }
  QSpinBox* Jobs() const { return jobs_; }
  QComboBox* Existing() const { return existing_; }
  QProgressBar* Progress() const { return progress_; }
  QLabel* Status() const { return status_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* CancelButton() const { return cancel_button_; }
  bool Running() const { return watcher_.isRunning(); }

  // What the last run ended with: "" while none has ended.
  const QString& Outcome() const { return outcome_; }

  void Start();
  void Cancel();

 signals:
  // After each site-day, queued from the worker.
  void Advanced(quint64 done, quint64 total);
  void Finished(const QString& outcome);

 private:
  void ShowProgress(quint64 done, quint64 total);

  std::shared_ptr<const Scenario> scenario_;
  QString out_dir_;
  std::atomic<bool> cancel_{false};
  QFutureWatcher<QString> watcher_;
  QElapsedTimer clock_;
  QString outcome_;
  QDateEdit* from_;
  QDateEdit* to_;
  QSpinBox* jobs_;
  QSpinBox* shard_index_;
  QSpinBox* shard_count_;
  QComboBox* existing_;
  QProgressBar* progress_;
  QLabel* status_;
  QPushButton* start_;
  QPushButton* cancel_button_;
};

}  // namespace tly

#endif  // TLY_GUI_HISTORY_DIALOG_H_
