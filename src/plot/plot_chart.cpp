#include "plot/plot_chart.h"

#include <QDate>
#include <QFont>
#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace tly {

namespace {

// Told apart also by readers with a colour-vision deficiency.
constexpr QRgb kPalette[] = {0x0072B2, 0xE69F00, 0x009E73, 0xD55E00, 0xCC79A7, 0x56B4E9, 0x8C6D1F};
constexpr size_t kPaletteSize = sizeof kPalette / sizeof kPalette[0];
constexpr double kExitLightening = 0.5;  // share of white mixed into a door's colour

const QColor kFrameColor(0x88, 0x88, 0x88);
const QColor kGridColor(0xe2, 0xe2, 0xe2);
const QColor kShadeColor(0xf5, 0xf5, 0xf5);
const QColor kTextColor(0x22, 0x22, 0x22);

// The smallest number at least `value` among `factors` (tenths) times a power
// of ten: round numbers for the ends of an axis and for its steps.
int64_t RoundUp(int64_t value, std::initializer_list<int64_t> factors) {
  for (int64_t power = 1;; power *= 10) {
    for (const int64_t factor : factors) {
      if (factor * power >= value * 10) return std::max<int64_t>(1, factor * power / 10);
    }
  }
}

// The end of an axis that shows values up to `value`, wasting little room.
int64_t NiceCeiling(int64_t value) {
  return RoundUp(value, {10, 12, 15, 20, 25, 30, 40, 50, 60, 80, 100});
}

// The step between the labelled values of an axis running to `max`: 1, 2 or
// 5 times a power of ten, giving two to five steps.
int64_t TickStep(int64_t max) {
  return RoundUp(std::max<int64_t>(1, (max + 3) / 4), {10, 20, 50, 100});
}

int64_t PositivePart(int64_t count) {
  return count > 0 ? count : 0;
}

QString ShopText(const PlotData& data) {
  QStringList codes;
  for (const PlotDay& day : data.days) {
    const QString code = QString::fromStdString(day.shop_code);
    if (!code.isEmpty() && !codes.contains(code)) codes << code;
  }
  QString text = codes.isEmpty()     ? QStringLiteral("Traffic")
                 : codes.size() == 1 ? QStringLiteral("Traffic of shop ") + codes.front()
                                     : QStringLiteral("Traffic of shops ") + codes.join(", ");
  if (!data.shop_name.empty()) text += " (" + QString::fromStdString(data.shop_name) + ")";
  return text;
}

QString TitleText(const PlotData& data) {
  const QString first = QString::fromStdString(data.days.front().file_name);
  const QString last = QString::fromStdString(data.days.back().file_name);
  const QString files =
      data.days.size() == 1
          ? first
          : QStringLiteral("%1 to %2 (%3 days)").arg(first, last).arg(data.days.size());
  return ShopText(data) + QStringLiteral(" \u2014 ") + files;
}

// The longest label of `day` that fits `width` pixels, shortest last.
QString DayLabel(const PlotDay& day, double width, const QFontMetricsF& metrics) {
  const QString file = QString::fromStdString(day.file_name);
  QStringList candidates;
  const QDate date(day.year, day.month, day.day);
  if (date.isValid()) {
    const QLocale c = QLocale::c();
    candidates << c.toString(date, QStringLiteral("ddd dd/MM/yyyy")) + QStringLiteral(" \u00b7 ") +
                      file
               << c.toString(date, QStringLiteral("ddd dd/MM/yyyy"))
               << c.toString(date, QStringLiteral("ddd dd/MM"))
               << c.toString(date, QStringLiteral("dd"));
  } else {
    candidates << file;
  }
  for (const QString& label : candidates) {
    if (metrics.horizontalAdvance(label) <= width - 6) return label;
  }
  return {};
}

// Where everything of a chart lies and how counts map to pixels: worked out
// once from the canvas and the data, then shared by the painting steps.
struct ChartLayout {
  double width = 0;   // of the canvas
  double height = 0;  // of the canvas
  QFont font;         // of labels
  QFont title_font;
  double line = 0;      // the height of a line of `font`
  double title = 0;     // the height of a line of `title_font`
  int64_t bar_max = 1;  // the end of the bars' axis, either way
  int64_t bar_step = 1;
  int64_t occupancy_max = 1;   // the end of the occupancy's axis, either way
  double left = 0;             // room for the left axis
  double right = 0;            // room for the right axis
  QRectF plot;                 // where the quarter hours lie
  double base = 0;             // the y of the common base line
  double bar_scale = 0;        // pixels per person of a bar
  double occupancy_scale = 0;  // pixels per person of the occupancy
  double slot_width = 0;       // of a quarter hour
  double day_width = 0;
  double hours_y = 0;  // the top of the hour labels
};

// The scales: bars from the largest stack either way, the occupancy from
// its largest distance from zero, each rounded up to a nice number.
void ScaleChart(const PlotData& data, ChartLayout& layout) {
  int64_t bar_max = 1;
  int64_t occupancy_max = 1;
  for (const PlotDay& day : data.days) {
    for (int slot = 0; slot < kPlotSlots; ++slot) {
      int64_t in = 0, out = 0;
      for (size_t door = 0; door < day.entries.size(); ++door) {
        in += PositivePart(day.entries[door][slot]);
        out += PositivePart(day.exits[door][slot]);
      }
      bar_max = std::max({bar_max, in, out});
      if (slot <= day.last_slot) {
        occupancy_max = std::max(occupancy_max, std::abs(day.occupancy[slot]));
      }
    }
  }
  layout.bar_max = NiceCeiling(bar_max);
  layout.bar_step = TickStep(layout.bar_max);
  layout.occupancy_max = NiceCeiling(occupancy_max);
}

// Lays out a chart of `data` (at least one day) on a canvas of `size` whose
// painter font is `painter_font`: the fonts grow with the canvas, the plot
// area leaves room for titles, axes, hours, day labels and legend.
ChartLayout LayOutChart(const QFont& painter_font, QSize size, const PlotData& data) {
  ChartLayout layout;
  layout.width = size.width();
  layout.height = size.height();
  layout.font = painter_font;
  layout.font.setPixelSize(std::clamp(static_cast<int>(layout.height / 60), 10, 16));
  layout.title_font = layout.font;
  layout.title_font.setPixelSize(layout.font.pixelSize() * 3 / 2);
  layout.title_font.setBold(true);
  const QFontMetricsF metrics(layout.font);
  layout.line = metrics.height();
  layout.title = QFontMetricsF(layout.title_font).height();
  ScaleChart(data, layout);

  const double line = layout.line;
  layout.left = metrics.horizontalAdvance(QString::number(-layout.bar_max)) + 2.5 * line;
  layout.right = metrics.horizontalAdvance(QString::number(-layout.occupancy_max)) + 2.5 * line;
  const double top = layout.title + 2.5 * line;
  const double bottom = 6 * line;
  layout.plot = QRectF(layout.left, top, layout.width - layout.left - layout.right,
                       layout.height - top - bottom);
  layout.base = layout.plot.center().y();
  layout.bar_scale = layout.plot.height() / 2 / static_cast<double>(layout.bar_max);
  layout.occupancy_scale = layout.plot.height() / 2 / static_cast<double>(layout.occupancy_max);
  const int slot_count = static_cast<int>(data.days.size()) * kPlotSlots;
  layout.slot_width = layout.plot.width() / slot_count;
  layout.day_width = layout.slot_width * kPlotSlots;
  layout.hours_y = layout.plot.bottom() + line * 0.4;
  return layout;
}

// The title and, below it, the line that tells how to read the chart.
void PaintTitles(QPainter& painter, const ChartLayout& layout, const PlotData& data) {
  painter.setPen(kTextColor);
  painter.setFont(layout.title_font);
  painter.drawText(QRectF(0, layout.line * 0.4, layout.width, layout.title), Qt::AlignHCenter,
                   TitleText(data));
  painter.setFont(layout.font);
  painter.drawText(
      QRectF(0, layout.line * 0.4 + layout.title, layout.width, layout.line), Qt::AlignHCenter,
      QStringLiteral("Bars: entries (up) and exits (down) per quarter hour, stacked by "
                     "door \u00b7 Line: occupancy since the start of each day (right axis)"));
}

// Every other day shaded, and the grid of the bars' scale.
void PaintBackground(QPainter& painter, const ChartLayout& layout, const PlotData& data) {
  const QRectF& plot = layout.plot;
  for (size_t day = 1; day < data.days.size(); day += 2) {
    painter.fillRect(QRectF(plot.left() + static_cast<double>(day) * layout.day_width, plot.top(),
                            layout.day_width, plot.height()),
                     kShadeColor);
  }
  painter.setPen(QPen(kGridColor, 1));
  for (int64_t value = layout.bar_step; value <= layout.bar_max; value += layout.bar_step) {
    for (const double y : {layout.base - static_cast<double>(value) * layout.bar_scale,
                           layout.base + static_cast<double>(value) * layout.bar_scale}) {
      painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
  }
}

// The bars, stacked by door from the base line: no edges and no smoothing,
// so that narrow bars stay solid.
void PaintBars(QPainter& painter, const ChartLayout& layout, const PlotData& data) {
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(Qt::NoPen);
  const double slot_width = layout.slot_width;
  const double gap = slot_width >= 4 ? slot_width * 0.15 : 0;
  for (size_t d = 0; d < data.days.size(); ++d) {
    const PlotDay& day = data.days[d];
    for (int slot = 0; slot < kPlotSlots; ++slot) {
      const double x =
          layout.plot.left() + (static_cast<double>(d) * kPlotSlots + slot) * slot_width;
      double up = layout.base;
      double down = layout.base;
      for (size_t door = 0; door < day.entries.size(); ++door) {
        const double in =
            static_cast<double>(PositivePart(day.entries[door][slot])) * layout.bar_scale;
        const double out =
            static_cast<double>(PositivePart(day.exits[door][slot])) * layout.bar_scale;
        if (in > 0) {
          painter.fillRect(QRectF(x, up - in, slot_width - gap, in), DoorBarColor(door, false));
          up -= in;
        }
        if (out > 0) {
          painter.fillRect(QRectF(x, down, slot_width - gap, out), DoorBarColor(door, true));
          down += out;
        }
      }
    }
  }
}

// Frame, day separators and base line, over the bars.
void PaintFrame(QPainter& painter, const ChartLayout& layout, const PlotData& data) {
  const QRectF& plot = layout.plot;
  painter.setPen(QPen(kFrameColor, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(plot);
  for (size_t day = 1; day < data.days.size(); ++day) {
    const double x = plot.left() + static_cast<double>(day) * layout.day_width;
    painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom() + layout.line * 0.4));
  }
  painter.setPen(QPen(kTextColor, 1));
  painter.drawLine(QPointF(plot.left(), layout.base), QPointF(plot.right(), layout.base));
}

// The occupancy, from zero at each day's start to the end of its last row.
void PaintOccupancy(QPainter& painter, const ChartLayout& layout, const PlotData& data) {
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(QPen(OccupancyColor(), std::max(1.5, layout.height / 450), Qt::SolidLine,
                      Qt::RoundCap, Qt::RoundJoin));
  for (size_t d = 0; d < data.days.size(); ++d) {
    const PlotDay& day = data.days[d];
    if (day.last_slot < 0) continue;
    const double x0 = layout.plot.left() + static_cast<double>(d) * layout.day_width;
    QPolygonF points;
    points << QPointF(x0, layout.base);
    for (int slot = 0; slot <= day.last_slot; ++slot) {
      points << QPointF(
          x0 + (slot + 1) * layout.slot_width,
          layout.base - static_cast<double>(day.occupancy[slot]) * layout.occupancy_scale);
    }
    painter.drawPolyline(points);
  }
}

// Axes: counts on the left (exits as positive numbers below the base line),
// occupancy on the right, each with its title along it.
void PaintAxes(QPainter& painter, const ChartLayout& layout) {
  const QRectF& plot = layout.plot;
  const double line = layout.line;
  painter.setPen(kTextColor);
  const double label_width = layout.left - 1.6 * line;
  for (int64_t value = 0; value <= layout.bar_max; value += layout.bar_step) {
    for (const int sign : {-1, 1}) {
      if (value == 0 && sign > 0) continue;
      const double y = layout.base + static_cast<double>(sign * value) * layout.bar_scale;
      painter.drawText(QRectF(plot.left() - label_width - 4, y - line / 2, label_width, line),
                       Qt::AlignRight | Qt::AlignVCenter, QString::number(value));
    }
  }
  const int64_t occupancy_max = layout.occupancy_max;
  const int64_t occupancy_step = TickStep(occupancy_max);
  for (int64_t value = -occupancy_max / occupancy_step * occupancy_step; value <= occupancy_max;
       value += occupancy_step) {
    const double y = layout.base - static_cast<double>(value) * layout.occupancy_scale;
    painter.drawText(QRectF(plot.right() + 4, y - line / 2, layout.right, line),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     (value > 0 ? QStringLiteral("+") : QString()) + QString::number(value));
  }
  painter.save();
  painter.translate(line * 0.3, plot.center().y());
  painter.rotate(-90);
  painter.drawText(QRectF(-plot.height() / 2, 0, plot.height(), line), Qt::AlignHCenter,
                   QStringLiteral("people per quarter hour: entries up, exits down"));
  painter.restore();
  painter.save();
  painter.translate(layout.width - line * 0.3, plot.center().y());
  painter.rotate(90);
  painter.drawText(QRectF(-plot.height() / 2, 0, plot.height(), line), Qt::AlignHCenter,
                   QStringLiteral("occupancy (entries minus exits since the day began)"));
  painter.restore();
}

// Below the plot: the hours where there is room for them, then the days.
void PaintTimeAxis(QPainter& painter, const ChartLayout& layout, const PlotData& data) {
  const QFontMetricsF metrics(layout.font);
  const double line = layout.line;
  int hour_step = 24;
  for (const int step : {1, 2, 3, 6, 12}) {
    if (step * 4 * layout.slot_width >= metrics.horizontalAdvance(QStringLiteral("00:00")) + line) {
      hour_step = step;
      break;
    }
  }
  const double hours_y = layout.hours_y;
  for (size_t d = 0; d < data.days.size(); ++d) {
    const double x0 = layout.plot.left() + static_cast<double>(d) * layout.day_width;
    for (int hour = hour_step; hour < 24; hour += hour_step) {
      const double x = x0 + hour * 4 * layout.slot_width;
      painter.setPen(QPen(kFrameColor, 1));
      painter.drawLine(QPointF(x, layout.plot.bottom()), QPointF(x, hours_y));
      painter.setPen(kTextColor);
      painter.drawText(QRectF(x - 3 * line, hours_y, 6 * line, line), Qt::AlignHCenter,
                       QStringLiteral("%1:00").arg(hour, 2, 10, QLatin1Char('0')));
    }
    painter.drawText(QRectF(x0, hours_y + line * 1.1, layout.day_width, line), Qt::AlignHCenter,
                     DayLabel(data.days[d], layout.day_width, metrics));
  }
}

// The legend: each door's two colours and name, then the line; an item that
// does not fit the rest of a row starts the next.
void PaintLegend(QPainter& painter, const ChartLayout& layout, const PlotData& data) {
  const QFontMetricsF metrics(layout.font);
  const QRectF& plot = layout.plot;
  const double line = layout.line;
  double x = plot.left();
  double y = layout.hours_y + line * 2.6;
  const double swatch = line * 0.8;
  const auto room_for = [&](double item_width) {
    if (x + item_width > plot.right() && x > plot.left()) {
      x = plot.left();
      y += line * 1.2;
    }
  };
  for (size_t door = 0; door < data.doors.size(); ++door) {
    const QString name =
        QString::fromStdString(data.doors[door].name) + QStringLiteral(" in / out");
    room_for(2 * swatch + 6 + metrics.horizontalAdvance(name) + 2 * line);
    painter.setPen(Qt::NoPen);
    for (const bool exits : {false, true}) {
      painter.setBrush(DoorBarColor(door, exits));
      painter.drawRoundedRect(QRectF(x, y + (line - swatch) / 2, swatch, swatch), 2, 2);
      x += swatch + 2;
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(kTextColor);
    painter.drawText(QPointF(x + 4, y + metrics.ascent()), name);
    x += 4 + metrics.horizontalAdvance(name) + 2 * line;
  }
  const QString occupancy = QStringLiteral("occupancy");
  room_for(2 * swatch + 6 + metrics.horizontalAdvance(occupancy));
  painter.setPen(QPen(OccupancyColor(), 2));
  painter.drawLine(QPointF(x, y + line / 2), QPointF(x + 2 * swatch, y + line / 2));
  painter.setPen(kTextColor);
  painter.drawText(QPointF(x + 2 * swatch + 6, y + metrics.ascent()), occupancy);
}

}  // namespace

QColor DoorBarColor(size_t door_index, bool exits) {
  QColor color = door_index < kPaletteSize
                     ? QColor(kPalette[door_index])
                     : QColor::fromHsv(static_cast<int>((door_index * 137) % 360), 200, 190);
  if (exits) {
    // Mixed in double, as QColor keeps its channels in float.
    const auto lighter = [](float channel) {
      return static_cast<float>(channel + (1 - channel) * kExitLightening);
    };
    color =
        QColor::fromRgbF(lighter(color.redF()), lighter(color.greenF()), lighter(color.blueF()));
  }
  // Eight bits a channel, as every picture format stores it.
  return QColor(color.rgb());
}

QColor OccupancyColor() {
  return QColor(0x22, 0x22, 0x22);
}

QRectF PaintTrafficChart(QPainter& painter, QSize size, const PlotData& data) {
  painter.save();
  painter.fillRect(QRectF(0, 0, size.width(), size.height()), Qt::white);
  if (data.days.empty()) {
    painter.restore();
    return {};
  }
  const ChartLayout layout = LayOutChart(painter.font(), size, data);
  PaintTitles(painter, layout, data);
  PaintBackground(painter, layout, data);
  PaintBars(painter, layout, data);
  PaintFrame(painter, layout, data);
  PaintOccupancy(painter, layout, data);
  PaintAxes(painter, layout);
  PaintTimeAxis(painter, layout, data);
  PaintLegend(painter, layout, data);
  painter.restore();
  return layout.plot;
}

}  // namespace tly
