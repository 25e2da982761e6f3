#include "studio/scenario_view.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QStringList>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>
#include <cstdlib>

#include "delivery/delivery_url.h"
#include "scenario/scenario_file.h"
#include "studio/file_text_view.h"
#include "support/date_time.h"

namespace tly {
namespace {

const QStringList kColumns = {"Name",   "Shop code",         "Profile", "Time zone",
                              "Layout", "Expected visitors", "Faults",  "Delivery"};

QString LayoutText(const SiteSettings& site) {
  if (site.default_layout) return QStringLiteral("4 doors and a passage (the program's)");
  return QStringLiteral("%1 access points, %2 channels, %3")
      .arg(site.doors.size())
      .arg(site.ChannelCount())
      .arg(QString::fromStdString(site.device_type));
}

QString FaultsText(const FaultRates& faults) {
  QStringList kinds;
  for (size_t kind = 0; kind < kFaultKindCount; ++kind) {
    if (faults.rate[kind] > 0) {
      kinds << QString::fromStdString(std::string(FaultKindName(static_cast<FaultKind>(kind))));
    }
  }
  return kinds.isEmpty() ? QStringLiteral("none") : kinds.join(", ");
}

// Where the site's files go and how often: its url as the site's device
// uses it, with any user info redacted and without a query (which may carry
// a token), or "none" when the site keeps its files.
QString DeliveryText(const SiteSettings& site) {
  if (!site.delivery) return QStringLiteral("none");
  const DeliverySettings& delivery = *site.delivery;
  std::string url = RedactUrl(ExpandUrl(delivery.url, site.name, site.shop_code));
  url = url.substr(0, url.find_first_of("?#"));
  const QString every = delivery.every_minutes == 1
                            ? QStringLiteral("every minute")
                            : QStringLiteral("every %1 minutes").arg(delivery.every_minutes);
  return QStringLiteral("%1, %2").arg(QString::fromStdString(url), every);
}

// The line a scenario error names: its message reads "<source>:<line>: ...".
int ErrorLine(const std::string& message, const std::string& source) {
  if (message.compare(0, source.size() + 1, source + ":") != 0) return 0;
  return std::atoi(message.c_str() + source.size() + 1);
}

}  // namespace

ScenarioView::ScenarioView(QWidget* parent)
    : QWidget(parent),
      day_(new QDateEdit(QDate::currentDate())),
      sites_(new QTableWidget(0, static_cast<int>(kColumns.size()))),
      error_(new QLabel),
      text_(new FileTextView) {
  day_->setCalendarPopup(true);
  day_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  sites_->setHorizontalHeaderLabels(kColumns);
  sites_->setSelectionBehavior(QAbstractItemView::SelectRows);
  sites_->setSelectionMode(QAbstractItemView::SingleSelection);
  sites_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sites_->horizontalHeader()->setStretchLastSection(true);
  error_->setWordWrap(true);
  error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  error_->setStyleSheet(QStringLiteral("color: #b00020"));
  error_->hide();

  auto* left = new QWidget;
  auto* left_layout = new QVBoxLayout(left);
  left_layout->setContentsMargins(0, 0, 0, 0);
  auto* day_row = new QHBoxLayout;
  day_row->addWidget(new QLabel(tr("Day:")));
  day_row->addWidget(day_);
  day_row->addStretch();
  left_layout->addLayout(day_row);
  left_layout->addWidget(sites_);
  left_layout->addWidget(error_);
  auto* splitter = new QSplitter;
  splitter->addWidget(left);
  splitter->addWidget(text_);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(splitter);

  connect(sites_, &QTableWidget::itemSelectionChanged, this,
          [this] { emit SiteChosen(SelectedSite()); });
  connect(day_, &QDateEdit::dateChanged, this, [this](const QDate& day) {
    FillSites();
    emit DayChosen(day);
  });
}

std::shared_ptr<const Scenario> ScenarioView::Show(const std::string& text,
                                                   const std::string& source) {
  try {
    scenario_ = std::make_shared<const Scenario>(ParseScenario(text, source));
    error_->hide();
    text_->ShowFile(text);
  } catch (const ScenarioError& error) {
    scenario_.reset();
    error_->setText(QString::fromStdString(error.what()));
    error_->show();
    text_->ShowFile(text, ErrorLine(error.what(), source));
  }
  FillSites();
  if (scenario_ && !scenario_->sites.empty()) SelectSite(0);
  return scenario_;
}

void ScenarioView::FillSites() {
  const int selected = SelectedSite();
  const QSignalBlocker quiet(sites_);
  sites_->setRowCount(0);
  if (!scenario_) return;
  TDateTime day = kNoDate;
  TryEncodeDate(day_->date().year(), day_->date().month(), day_->date().day(), day);
  sites_->setRowCount(static_cast<int>(scenario_->sites.size()));
  for (int row = 0; row < sites_->rowCount(); ++row) {
    const SiteSettings& site = scenario_->sites[static_cast<size_t>(row)];
    const QString expected = site.profile == TrafficProfile::kFlat
                                 ? QStringLiteral("-")
                                 : QString::number(std::lround(ExpectedVisitors(site, day)));
    const QStringList cells = {QString::fromStdString(site.name),
                               QString::fromStdString(site.shop_code),
                               ProfileName(site.profile),
                               QString::fromStdString(site.time_zone),
                               LayoutText(site),
                               expected,
                               FaultsText(site.faults),
                               DeliveryText(site)};
    for (int column = 0; column < cells.size(); ++column) {
      sites_->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
  }
  sites_->resizeColumnsToContents();
  if (selected >= 0 && selected < sites_->rowCount()) sites_->selectRow(selected);
}

QDate ScenarioView::Day() const {
  return day_->date();
}

void ScenarioView::SetDay(const QDate& day) {
  day_->setDate(day);
}

int ScenarioView::SelectedSite() const {
  const QList<QTableWidgetItem*> selected = sites_->selectedItems();
  return selected.isEmpty() ? -1 : selected.front()->row();
}

void ScenarioView::SelectSite(int row) {
  sites_->selectRow(row);
}

}  // namespace tly
