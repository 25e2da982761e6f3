#include "studio/traffic_chart_widget.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStringList>
#include <QToolTip>
#include <algorithm>

#include "plot/plot_chart.h"

namespace tly {
namespace {

// The quarter hours a fault spans; a fault of the whole file spans the day.
std::pair<int, int> SpanOf(const TruthEntry& fault) {
  if (!fault.first_quarter) return {0, kPlotSlots - 1};
  return {*fault.first_quarter, std::max(*fault.first_quarter, fault.last_quarter.value_or(0))};
}

QString QuarterText(int quarter) {
  return QStringLiteral("%1:%2")
      .arg(quarter / 4, 2, 10, QLatin1Char('0'))
      .arg(quarter % 4 * 15, 2, 10, QLatin1Char('0'));
}

}  // namespace

TrafficChartWidget::TrafficChartWidget(QWidget* parent) : QWidget(parent) {
  setMinimumSize(320, 240);
  setMouseTracking(true);
}

void TrafficChartWidget::SetDay(PlotData day, std::vector<TruthEntry> faults) {
  data_ = std::move(day);
  faults_ = std::move(faults);
  update();
}

QString TrafficChartWidget::FaultsAt(int quarter) const {
  QStringList lines;
  for (const TruthEntry& fault : faults_) {
    const auto [first, last] = SpanOf(fault);
    if (quarter < first || quarter > last) continue;
    lines << QStringLiteral("%1 (%2 to %3)")
                 .arg(QString::fromStdString(std::string(FaultKindName(fault.kind))),
                      QuarterText(first), QuarterText(last));
    for (const FaultValue& value : fault.values) {
      if (value.quarter != quarter) continue;
      lines << QStringLiteral("  %1 ch%2: true %3, written %4")
                   .arg(QuarterText(value.quarter))
                   .arg(value.channel)
                   .arg(value.true_value)
                   .arg(value.written ? QString::number(*value.written)
                                      : QStringLiteral("(no row)"));
    }
  }
  return lines.join('\n');
}

void TrafficChartWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QSize canvas(std::max(width(), 320), std::max(height(), 240));
  plot_ = PaintTrafficChart(painter, canvas, data_);
  if (plot_.isEmpty()) return;
  const double slot = plot_.width() / kPlotSlots;
  painter.setPen(QColor(0xb0, 0x00, 0x20));
  for (const TruthEntry& fault : faults_) {
    const auto [first, last] = SpanOf(fault);
    const QRectF band(plot_.left() + first * slot, plot_.top(), (last - first + 1) * slot,
                      plot_.height());
    painter.fillRect(band, QColor(0xb0, 0x00, 0x20, 40));
    painter.drawText(band.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                     QString::fromStdString(std::string(FaultKindName(fault.kind))));
  }
}

bool TrafficChartWidget::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const QString text = plot_.contains(help->pos())
                           ? FaultsAt(static_cast<int>((help->pos().x() - plot_.left()) /
                                                       plot_.width() * kPlotSlots))
                           : QString();
  if (text.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), text, this);
  }
  return true;
}

}  // namespace tly
