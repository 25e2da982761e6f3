#include "studio/deliveries_view.h"

#include <QColor>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QStringList>
#include <QTableWidget>
#include <QVBoxLayout>
#include <filesystem>
#include <optional>
#include <string>

#include "cli/command_style.h"
#include "studio/deliveries_log.h"

namespace tly {
namespace {

// The largest delivery log read: months of many sites' attempts.
constexpr std::size_t kMaxDeliveryLogBytes = std::size_t{256} << 20;

QTableWidget* NewTable(const QStringList& columns) {
  auto* table = new QTableWidget(0, static_cast<int>(columns.size()));
  table->setHorizontalHeaderLabels(columns);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->horizontalHeader()->setStretchLastSection(true);
  table->verticalHeader()->hide();
  return table;
}

void SetRow(QTableWidget* table, int row, const QStringList& cells, bool failed) {
  for (int column = 0; column < cells.size(); ++column) {
    auto* item = new QTableWidgetItem(cells[column]);
    if (failed) item->setForeground(QColor(0xb0, 0x00, 0x20));
    table->setItem(row, column, item);
  }
}

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

DeliveriesView::DeliveriesView(QWidget* parent)
    : QWidget(parent),
      status_(new QLabel),
      sites_(NewTable({tr("Site"), tr("Attempts"), tr("Failures"), tr("Last push"),
                       tr("Last file pushed"), tr("Spooled")})),
      attempts_(NewTable({tr("Site"), tr("File"), tr("Remote"), tr("Due"), tr("Made"), tr("Bytes"),
                          tr("Outcome"), tr("Error"), tr("Fault")})) {
  status_->setWordWrap(true);
  auto* splitter = new QSplitter(Qt::Vertical);
  splitter->addWidget(sites_);
  splitter->addWidget(attempts_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status_);
  layout->addWidget(splitter, 1);
}

void DeliveriesView::Reload(const QString& out_dir) {
  const std::string path = (out_dir + QStringLiteral("/deliveries.jsonl")).toStdString();
  DeliveryLog log;
  std::error_code error;
  if (out_dir.isEmpty() || !std::filesystem::exists(path, error)) {
    status_->setText(tr("No delivery log (deliveries.jsonl) in the output folder."));
  } else {
    std::string problem;
    const std::optional<std::string> text = ReadGivenFile(path, problem, kMaxDeliveryLogBytes);
    if (text) {
      log = ParseDeliveryLog(*text);
      status_->setText(
          tr("%1: %n attempt(s)", nullptr, static_cast<int>(log.attempts.size())).arg(Text(path)) +
          (log.unreadable_lines > 0
               ? tr(", %n line(s) that are no attempt", nullptr, log.unreadable_lines)
               : QString()));
    } else {
      status_->setText(Text(path) + ": " + Text(problem));
    }
  }
  const std::vector<SiteDeliveries> sites = SummarizeDeliveries(log);
  sites_->setRowCount(static_cast<int>(sites.size()));
  for (int row = 0; row < sites_->rowCount(); ++row) {
    const SiteDeliveries& site = sites[static_cast<size_t>(row)];
    QStringList spooled;
    for (const std::string& file : site.spooled) spooled << Text(file);
    SetRow(sites_, row,
           {Text(site.site), QString::number(site.attempts), QString::number(site.failures),
            site.last_push.empty() ? tr("never") : Text(site.last_push), Text(site.last_file),
            spooled.isEmpty() ? tr("nothing") : spooled.join(", ")},
           !site.spooled.empty());
  }
  attempts_->setRowCount(static_cast<int>(log.attempts.size()));
  for (int row = 0; row < attempts_->rowCount(); ++row) {
    const LoggedAttempt& attempt = log.attempts[static_cast<size_t>(row)];
    SetRow(attempts_, row,
           {Text(attempt.site), Text(attempt.file), Text(attempt.remote), Text(attempt.due),
            Text(attempt.made), QString::number(attempt.bytes), Text(attempt.outcome),
            Text(attempt.error), Text(attempt.fault)},
           attempt.outcome != "ok");
  }
  sites_->resizeColumnsToContents();
  attempts_->resizeColumnsToContents();
}

}  // namespace tly
