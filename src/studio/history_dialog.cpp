#include "studio/history_dialog.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>
#include <QtConcurrent>
#include <chrono>
#include <stdexcept>
#include <system_error>

#include "backfill/backfill.h"
#include "backfill/scenario_backfill.h"

namespace tly {
namespace {

constexpr std::chrono::milliseconds kProgressEvery{50};

// Thrown from the progress report to stop the backfill between files.
struct BackfillCancelled {};

// The choices of the existing-files box, in its order.
constexpr ExistingDayFiles kExisting[] = {ExistingDayFiles::kRefuse, ExistingDayFiles::kSkip,
                                          ExistingDayFiles::kContinue, ExistingDayFiles::kReplace};

CivilDate CivilOf(const QDate& date) {
  return {date.year(), date.month(), date.day()};
}

}  // namespace

HistoryDialog::HistoryDialog(std::shared_ptr<const Scenario> scenario, QString out_dir,
                             QWidget* parent)
    : QDialog(parent),
      scenario_(std::move(scenario)),
      out_dir_(std::move(out_dir)),
      from_(new QDateEdit(QDate::currentDate().addDays(-7))),
      to_(new QDateEdit(QDate::currentDate().addDays(-1))),
      jobs_(new QSpinBox),
      shard_index_(new QSpinBox),
      shard_count_(new QSpinBox),
      existing_(new QComboBox),
      progress_(new QProgressBar),
      status_(new QLabel),
      start_(new QPushButton(tr("&Start"))),
      cancel_button_(new QPushButton(tr("&Cancel"))) {
  setWindowTitle(tr("History: backfill into %1").arg(out_dir_));
  for (QDateEdit* date : {from_, to_}) {
    date->setCalendarPopup(true);
    date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  }
  jobs_->setRange(1, kMaxBackfillJobs);
  jobs_->setValue(std::max(1, QThread::idealThreadCount()));
  shard_index_->setRange(1, 1000000);
  shard_count_->setRange(1, 1000000);
  existing_->addItems({tr("refuse when files exist"), tr("skip existing files (resume)"),
                       tr("continue existing files"), tr("replace existing files")});
  status_->setWordWrap(true);
  cancel_button_->setEnabled(false);

  auto* shard = new QHBoxLayout;
  shard->addWidget(shard_index_);
  shard->addWidget(new QLabel(tr("of")));
  shard->addWidget(shard_count_);
  auto* form = new QFormLayout;
  form->addRow(tr("From:"), from_);
  form->addRow(tr("To:"), to_);
  form->addRow(tr("Threads:"), jobs_);
  form->addRow(tr("Share:"), shard);
  form->addRow(tr("Existing files:"), existing_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  buttons->addButton(start_, QDialogButtonBox::ActionRole);
  buttons->addButton(cancel_button_, QDialogButtonBox::ActionRole);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(progress_);
  layout->addWidget(status_);
  layout->addWidget(buttons);

  connect(start_, &QPushButton::clicked, this, &HistoryDialog::Start);
  connect(cancel_button_, &QPushButton::clicked, this, &HistoryDialog::Cancel);
  connect(buttons, &QDialogButtonBox::rejected, this, [this] {
    if (!Running()) reject();
  });
  connect(this, &HistoryDialog::Advanced, this, &HistoryDialog::ShowProgress, Qt::QueuedConnection);
  connect(&watcher_, &QFutureWatcher<QString>::finished, this, [this] {
    outcome_ = watcher_.result();
    status_->setText(outcome_);
    start_->setEnabled(true);
    cancel_button_->setEnabled(false);
    emit Finished(outcome_);
  });
}

HistoryDialog::~HistoryDialog() {
  cancel_ = true;
  watcher_.waitForFinished();
}

void HistoryDialog::Start() {
  if (Running() || !scenario_) return;
  ScenarioBackfillRequest request;
  request.scenario = scenario_.get();
  request.out_dir = out_dir_.toStdString();
  request.from = CivilOf(from_->date());
  request.to = CivilOf(to_->date());
  request.seed = scenario_->seed;
  request.existing = kExisting[existing_->currentIndex()];
  request.jobs = jobs_->value();
  request.shard = {shard_index_->value(), shard_count_->value()};
  try {
    CheckScenarioBackfillRequest(request);
  } catch (const std::invalid_argument& refused) {
    outcome_ = QString::fromUtf8(refused.what());
    status_->setText(outcome_);
    emit Finished(outcome_);
    return;
  }
  cancel_ = false;
  outcome_.clear();
  start_->setEnabled(false);
  cancel_button_->setEnabled(true);
  progress_->setValue(0);
  status_->setText(tr("Starting ..."));
  clock_.start();
  // The scenario is shared with the worker, so that it lives as long as the run.
  watcher_.setFuture(QtConcurrent::run([this, request, scenario = scenario_]() -> QString {
    ScenarioProgress last;
    auto shown = std::chrono::steady_clock::now() - kProgressEvery;
    try {
      ScenarioBackfill(request, [&](const ScenarioProgress& progress) {
        last = progress;
        // A few reports a second are all a person reads; one per file would
        // flood the window's queue on a fast machine.
        const auto now = std::chrono::steady_clock::now();
        if (now - shown >= kProgressEvery || progress.files_done == progress.files_total) {
          shown = now;
          emit Advanced(progress.files_done, progress.files_total);
        }
        if (cancel_) throw BackfillCancelled{};
      });
    } catch (const BackfillCancelled&) {
      return tr("Cancelled after %1 of %2 files; every file written is whole.")
          .arg(last.files_done)
          .arg(last.files_total);
    } catch (const std::exception& failure) {
      // Refused existing files, another writer, a file that cannot be written.
      return QString::fromUtf8(failure.what());
    }
    return tr("Done: %1 files (%2 kept, %3 left out by faults), %4 faults planted.")
        .arg(last.files_done)
        .arg(last.files_skipped)
        .arg(last.files_missing)
        .arg(last.faults);
  }));
}

void HistoryDialog::Cancel() {
  cancel_ = true;
  status_->setText(tr("Cancelling after the files being written ..."));
}

void HistoryDialog::ShowProgress(quint64 done, quint64 total) {
  if (!Running() || cancel_) return;
  progress_->setMaximum(static_cast<int>(std::min<quint64>(total, INT32_MAX)));
  progress_->setValue(static_cast<int>(std::min<quint64>(done, INT32_MAX)));
  const double seconds = static_cast<double>(std::max<qint64>(1, clock_.elapsed())) / 1000.0;
  const double rate = static_cast<double>(done) / seconds;
  status_->setText(tr("%1 of %2 files, %3 files/s, %4 s left")
                       .arg(done)
                       .arg(total)
                       .arg(rate, 0, 'f', 1)
                       .arg(rate > 0 ? static_cast<double>(total - done) / rate : 0.0, 0, 'f', 0));
}

}  // namespace tly
