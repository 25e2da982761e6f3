#include "studio/day_view.h"

#include <QColor>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QStringList>
#include <QTableWidget>
#include <QVBoxLayout>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/command_style.h"
#include "dayfile/day_file_name.h"
#include "faults/fault_truth_file.h"
#include "faults/fault_truth_reader.h"
#include "plot/plot_data.h"
#include "scenario/site_day.h"
#include "studio/traffic_chart_widget.h"
#include "support/date_time.h"

namespace tly {

DayView::DayView(QWidget* parent)
    : QWidget(parent),
      status_(new QLabel),
      chart_(new TrafficChartWidget),
      rows_(new QTableWidget) {
  status_->setWordWrap(true);
  rows_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  rows_->verticalHeader()->hide();
  auto* splitter = new QSplitter;
  splitter->addWidget(chart_);
  splitter->addWidget(rows_);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status_);
  layout->addWidget(splitter, 1);
}

void DayView::ShowDay(std::shared_ptr<const Scenario> scenario, int site, const QDate& day,
                      const QString& out_dir) {
  scenario_ = std::move(scenario);
  site_ = site;
  path_.clear();
  TDateTime date = kNoDate;
  if (scenario_ && site >= 0 && site < static_cast<int>(scenario_->sites.size()) &&
      !out_dir.isEmpty() && TryEncodeDate(day.year(), day.month(), day.day(), date)) {
    const SiteSettings& settings = scenario_->sites[static_cast<size_t>(site)];
    const std::string base = DayFileBaseName(date);
    path_ = QString::fromStdString(SiteDirectory(out_dir.toStdString(), settings) + "/" + base);
    file_in_truth_ = QString::fromStdString(settings.name + "/" + base);
    truth_path_ = out_dir + "/" + QString::fromStdString(FaultTruthFileName(1, 1));
  }
  Reload();
}

void DayView::Reload() {
  PlotData plot;
  std::vector<TruthEntry> faults;
  if (path_.isEmpty()) {
    status_->setText(tr("Open a scenario, choose the output folder, a site and a day."));
    chart_->SetDay({}, {});
    FillRows();
    return;
  }
  std::string problem;
  const std::optional<std::string> bytes = ReadGivenFile(path_.toStdString(), problem);
  if (!bytes) {
    status_->setText(tr("%1: %2").arg(path_, QString::fromStdString(problem)));
    chart_->SetDay({}, {});
    FillRows();
    return;
  }
  const std::vector<std::string> unread = AddPlotDay(plot, path_.toStdString(), *bytes);
  QString status = path_;
  if (!unread.empty()) status += tr(" (%1)").arg(QString::fromStdString(unread.front()));
  std::error_code missing;
  if (std::filesystem::exists(truth_path_.toStdString(), missing)) {
    const std::optional<std::string> truth =
        ReadGivenFile(truth_path_.toStdString(), problem, kMaxFaultTruthBytes);
    try {
      if (!truth) throw std::invalid_argument(problem);
      for (TruthEntry& entry : ParseFaultTruth(*truth, truth_path_.toStdString())) {
        if (entry.file == file_in_truth_.toStdString()) faults.push_back(std::move(entry));
      }
      status += tr(" \u00b7 %n fault(s) planted", nullptr, static_cast<int>(faults.size()));
    } catch (const std::invalid_argument& unreadable) {
      status += tr(" \u00b7 the truth file cannot be read: %1").arg(unreadable.what());
    }
  }
  status_->setText(status);
  chart_->SetDay(std::move(plot), std::move(faults));
  FillRows();
}

void DayView::FillRows() {
  const PlotData& plot = chart_->Data();
  QStringList columns{tr("Time")};
  for (const PlotDoor& door : plot.doors) {
    columns << tr("%1 in").arg(QString::fromStdString(door.name))
            << tr("%1 out").arg(QString::fromStdString(door.name));
  }
  columns << tr("Occupancy");
  rows_->clear();
  rows_->setColumnCount(static_cast<int>(columns.size()));
  rows_->setHorizontalHeaderLabels(columns);
  const PlotDay* day = plot.days.empty() ? nullptr : &plot.days.front();
  rows_->setRowCount(day ? day->last_slot + 1 : 0);
  for (int slot = 0; slot < rows_->rowCount(); ++slot) {
    QStringList cells{QStringLiteral("%1:%2")
                          .arg(slot / 4, 2, 10, QLatin1Char('0'))
                          .arg(slot % 4 * 15, 2, 10, QLatin1Char('0'))};
    for (size_t door = 0; door < plot.doors.size(); ++door) {
      cells << QString::number(day->entries[door][static_cast<size_t>(slot)])
            << QString::number(day->exits[door][static_cast<size_t>(slot)]);
    }
    cells << QString::number(day->occupancy[static_cast<size_t>(slot)]);
    const QString faults = chart_->FaultsAt(slot);
    for (int column = 0; column < cells.size(); ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      if (!faults.isEmpty()) {
        item->setBackground(QColor(0xff, 0xe0, 0xe0));
        item->setToolTip(faults);
      }
      rows_->setItem(slot, column, item);
    }
  }
  rows_->resizeColumnsToContents();
}

}  // namespace tly
