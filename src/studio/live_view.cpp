#include "studio/live_view.h"

#include <QDateTime>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTimeZone>
#include <QVBoxLayout>

namespace tly {

LiveView::LiveView(QWidget* parent)
    : QWidget(parent),
      start_(new QDateTimeEdit),
      speed_(new QDoubleSpinBox),
      hours_(new QSpinBox),
      status_(new QLabel(tr("Not running."))),
      log_(new QPlainTextEdit) {
  start_->setTimeSpec(Qt::UTC);
  start_->setDateTime(QDateTime::currentDateTimeUtc());
  start_->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
  start_->setCalendarPopup(true);
  speed_->setRange(0.1, 1000000);
  speed_->setDecimals(1);
  speed_->setValue(60);
  speed_->setSuffix(QStringLiteral(" x"));
  hours_->setRange(0, 24 * 366);
  hours_->setSpecialValueText(tr("until stopped"));
  hours_->setSuffix(tr(" simulated hours"));
  log_->setReadOnly(true);
  log_->setMaximumBlockCount(1000);
  auto* form = new QFormLayout;
  form->addRow(tr("Start (simulated):"), start_);
  form->addRow(tr("Speed:"), speed_);
  form->addRow(tr("Run for:"), hours_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(status_);
  layout->addWidget(log_, 1);
}

int64_t LiveView::Start() const {
  return start_->dateTime().toSecsSinceEpoch() / 60 * 60;
}

double LiveView::Speed() const {
  return speed_->value();
}

int64_t LiveView::End() const {
  return hours_->value() == 0 ? 0 : Start() + int64_t{3600} * hours_->value();
}

void LiveView::ShowRunning(bool running) {
  for (QWidget* edit : {static_cast<QWidget*>(start_), static_cast<QWidget*>(speed_),
                        static_cast<QWidget*>(hours_)}) {
    edit->setEnabled(!running);
  }
}

void LiveView::ShowProgress(qint64 simulated, quint64 saves, const QString& error) {
  QString text = tr("Simulated %1, %2 day files saved")
                     .arg(QDateTime::fromSecsSinceEpoch(simulated, QTimeZone::utc())
                              .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")))
                     .arg(saves);
  if (!error.isEmpty()) text += tr("; the last save failed: %1").arg(error);
  status_->setText(text);
}

void LiveView::Log(const QString& line) {
  log_->appendPlainText(line);
}

}  // namespace tly
