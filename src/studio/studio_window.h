#ifndef TLY_GUI_STUDIO_WINDOW_H_
#define TLY_GUI_STUDIO_WINDOW_H_

#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>

#include "scenario/scenario.h"

namespace Ui {
class StudioWindow;
}

namespace tly {

class ChecksView;
class DayView;
class DeliveriesView;
class HistoryDialog;
class LiveRun;
class LiveView;
class ScenarioView;

// The studio: a scenario's sites, a site's day as a chart with its faults,
// a live run, history, the checks of verify and the deliveries, in one
// window over the library. Its size, layout, scenario and output folder are
// kept in the user's configuration folder.
class StudioWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit StudioWindow(QWidget* parent = nullptr);
  ~StudioWindow() override;

  // Opens the scenario file `path`; its error, when it has one, is shown.
  void OpenScenarioFile(const QString& path);
  void OpenExample();
  void SetOutDir(const QString& out_dir);
  const QString& OutDir() const { return out_dir_; }
  std::shared_ptr<const Scenario> CurrentScenario() const { return scenario_; }

  // The file and folder dialogs, replaceable so that tests need no person.
  std::function<QString(const QString& title, const QString& start)> ChooseFile;
  std::function<QString(const QString& title, const QString& start)> ChooseFolder;

  Ui::StudioWindow& Form() const { return *ui_; }
  ScenarioView* Scenarios() const { return scenario_view_; }
  DayView* Day() const { return day_view_; }
  LiveView* Live() const { return live_view_; }
  ChecksView* Checks() const { return checks_view_; }
  DeliveriesView* Deliveries() const { return deliveries_view_; }
  // The history dialog while it is open, else nullptr.
  HistoryDialog* History() const { return history_; }
  bool LiveRunning() const { return live_run_ != nullptr; }

 signals:
  void LiveStopped(const QString& outcome);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowScenarioText(const std::string& text, const QString& source);
  void ShowSelectedDay();
  void ShowHistory();
  void StartLive();
  void StopLive();
  void UpdateActions();

  std::unique_ptr<Ui::StudioWindow> ui_;
  ScenarioView* scenario_view_;
  DayView* day_view_;
  LiveView* live_view_;
  ChecksView* checks_view_;
  DeliveriesView* deliveries_view_;
  HistoryDialog* history_ = nullptr;
  LiveRun* live_run_ = nullptr;
  std::shared_ptr<const Scenario> scenario_;
  QString scenario_path_;  // "" for the example
  QString out_dir_;
};

}  // namespace tly

#endif  // TLY_GUI_STUDIO_WINDOW_H_
