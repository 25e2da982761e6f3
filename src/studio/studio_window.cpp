#include "studio/studio_window.h"

#include <QCloseEvent>
#include <QDateEdit>
#include <QFileDialog>
#include <QLabel>
#include <QSettings>
#include <QStatusBar>
#include <optional>
#include <string>

#include "cli/command_style.h"
#include "scenario/scenario_file.h"
#include "studio/checks_view.h"
#include "studio/day_view.h"
#include "studio/deliveries_view.h"
#include "studio/history_dialog.h"
#include "studio/live_run.h"
#include "studio/live_view.h"
#include "studio/scenario_view.h"
#include "ui_studio_window.h"

namespace tly {
namespace {

// The largest scenario file opened; scenarios are hand-written text.
constexpr std::size_t kMaxScenarioBytes = std::size_t{16} << 20;

const char kExampleSource[] = "example.toml";

}  // namespace

StudioWindow::StudioWindow(QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::StudioWindow>()),
      scenario_view_(new ScenarioView),
      day_view_(new DayView),
      live_view_(new LiveView),
      checks_view_(new ChecksView),
      deliveries_view_(new DeliveriesView) {
  ui_->setupUi(this);
  ui_->tabs->addTab(scenario_view_, tr("Scenario"));
  ui_->tabs->addTab(day_view_, tr("Day"));
  ui_->tabs->addTab(live_view_, tr("Live"));
  ui_->tabs->addTab(checks_view_, tr("Checks"));
  ui_->tabs->addTab(deliveries_view_, tr("Deliveries"));

  ChooseFile = [this](const QString& title, const QString& start) {
    return QFileDialog::getOpenFileName(this, title, start,
                                        tr("Scenario files (*.toml);;All files (*)"));
  };
  ChooseFolder = [this](const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(this, title, start);
  };

  connect(ui_->actionOpenScenario, &QAction::triggered, this, [this] {
    const QString path = ChooseFile(tr("Open a scenario"), scenario_path_);
    if (!path.isEmpty()) OpenScenarioFile(path);
  });
  connect(ui_->actionOpenExample, &QAction::triggered, this, &StudioWindow::OpenExample);
  connect(ui_->actionChooseFolder, &QAction::triggered, this, [this] {
    const QString path = ChooseFolder(tr("Output folder"), out_dir_);
    if (!path.isEmpty()) SetOutDir(path);
  });
  connect(ui_->actionQuit, &QAction::triggered, this, &QWidget::close);
  connect(ui_->actionBackfill, &QAction::triggered, this, &StudioWindow::ShowHistory);
  connect(ui_->actionStartLive, &QAction::triggered, this, &StudioWindow::StartLive);
  connect(ui_->actionStopLive, &QAction::triggered, this, &StudioWindow::StopLive);
  connect(ui_->actionVerify, &QAction::triggered, this, [this] {
    ui_->tabs->setCurrentWidget(checks_view_);
    checks_view_->Verify(out_dir_);
  });
  connect(ui_->actionReloadDeliveries, &QAction::triggered, this, [this] {
    ui_->tabs->setCurrentWidget(deliveries_view_);
    deliveries_view_->Reload(out_dir_);
  });
  connect(scenario_view_, &ScenarioView::SiteChosen, this, &StudioWindow::ShowSelectedDay);
  connect(scenario_view_, &ScenarioView::DayChosen, this, &StudioWindow::ShowSelectedDay);
  connect(checks_view_, &ChecksView::Checked, this, &StudioWindow::UpdateActions);

  const QSettings settings;
  restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
  restoreState(settings.value(QStringLiteral("state")).toByteArray());
  SetOutDir(settings.value(QStringLiteral("outDir")).toString());
  const QString scenario = settings.value(QStringLiteral("scenario")).toString();
  if (scenario.isEmpty()) {
    OpenExample();
  } else {
    OpenScenarioFile(scenario);
  }
}

StudioWindow::~StudioWindow() {
  // Before the form goes: the dialog tells the window when it is gone.
  delete history_;
}

void StudioWindow::OpenScenarioFile(const QString& path) {
  std::string problem;
  const std::optional<std::string> text =
      ReadGivenFile(path.toStdString(), problem, kMaxScenarioBytes);
  scenario_path_ = path;
  ShowScenarioText(text ? *text : "", path);
  if (!text) statusBar()->showMessage(tr("Cannot read %1: %2").arg(path, problem.c_str()));
}

void StudioWindow::OpenExample() {
  scenario_path_.clear();
  ShowScenarioText(std::string(ExampleScenario()), QString::fromLatin1(kExampleSource));
}

void StudioWindow::ShowScenarioText(const std::string& text, const QString& source) {
  scenario_ = scenario_view_->Show(text, source.toStdString());
  setWindowTitle(tr("%1 \u2014 TLY Generator Studio").arg(source));
  ui_->tabs->setCurrentWidget(scenario_view_);
  ShowSelectedDay();
  UpdateActions();
}

void StudioWindow::SetOutDir(const QString& out_dir) {
  out_dir_ = out_dir;
  statusBar()->showMessage(out_dir.isEmpty() ? tr("Choose the output folder (File menu).")
                                             : tr("Output folder: %1").arg(out_dir));
  ShowSelectedDay();
  deliveries_view_->Reload(out_dir_);
  UpdateActions();
}

void StudioWindow::ShowSelectedDay() {
  day_view_->ShowDay(scenario_, scenario_view_->SelectedSite(), scenario_view_->Day(), out_dir_);
}

void StudioWindow::UpdateActions() {
  const bool can_write = scenario_ && !out_dir_.isEmpty() && !live_run_;
  ui_->actionBackfill->setEnabled(can_write && !history_);
  ui_->actionStartLive->setEnabled(can_write);
  ui_->actionStopLive->setEnabled(live_run_ != nullptr);
  ui_->actionVerify->setEnabled(!out_dir_.isEmpty());
  ui_->actionReloadDeliveries->setEnabled(!out_dir_.isEmpty());
  live_view_->ShowRunning(live_run_ != nullptr);
}

void StudioWindow::ShowHistory() {
  if (history_ || !scenario_ || out_dir_.isEmpty()) return;
  history_ = new HistoryDialog(scenario_, out_dir_, this);
  history_->setAttribute(Qt::WA_DeleteOnClose);
  const QDate day = scenario_view_->Day();
  history_->From()->setDate(day.addDays(-6));
  history_->To()->setDate(day);
  connect(history_, &HistoryDialog::Finished, this, [this] { day_view_->Reload(); });
  connect(history_, &QObject::destroyed, this, [this] {
    history_ = nullptr;
    UpdateActions();
  });
  UpdateActions();
  history_->show();
}

void StudioWindow::StartLive() {
  if (live_run_ || !scenario_ || out_dir_.isEmpty()) return;
  live_run_ = new LiveRun(scenario_, out_dir_, live_view_->Speed(), live_view_->Start(),
                          live_view_->End(), this);
  connect(live_run_, &LiveRun::Progressed, this,
          [this](qint64 simulated, quint64 saves, const QString& error) {
            live_view_->ShowProgress(simulated, saves, error);
            // The chart follows the files as they are saved, the deliveries
            // page the pushes.
            day_view_->Reload();
            deliveries_view_->Reload(out_dir_);
          });
  connect(live_run_, &LiveRun::DeliveryNotice, live_view_, &LiveView::Log);
  connect(live_run_, &LiveRun::DayFinished, this, [this](const QString& site, const QString& file) {
    live_view_->Log(tr("%1: finished %2").arg(site, file));
  });
  connect(live_run_, &LiveRun::Stopped, this, [this](const QString& outcome) {
    live_view_->Log(outcome);
    live_run_->wait();
    live_run_->deleteLater();
    live_run_ = nullptr;
    day_view_->Reload();
    deliveries_view_->Reload(out_dir_);
    UpdateActions();
    emit LiveStopped(outcome);
  });
  live_view_->Log(tr("Running %1 sites into %2 at %3x")
                      .arg(scenario_->sites.size())
                      .arg(out_dir_)
                      .arg(live_view_->Speed()));
  live_run_->start();
  ui_->tabs->setCurrentWidget(live_view_);
  UpdateActions();
}

void StudioWindow::StopLive() {
  if (live_run_) live_run_->RequestStop();
}

void StudioWindow::closeEvent(QCloseEvent* event) {
  // Closing stops a live run with its final save (the run's destructor waits
  // for it) and a backfill after the files being written.
  delete history_;
  if (live_run_) {
    live_run_->RequestStop();
    live_run_->wait();
  }
  QSettings settings;
  settings.setValue(QStringLiteral("geometry"), saveGeometry());
  settings.setValue(QStringLiteral("state"), saveState());
  settings.setValue(QStringLiteral("outDir"), out_dir_);
  settings.setValue(QStringLiteral("scenario"), scenario_path_);
  event->accept();
}

}  // namespace tly
