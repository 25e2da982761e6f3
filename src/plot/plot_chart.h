#ifndef TLY_PLOT_PLOT_CHART_H_
#define TLY_PLOT_PLOT_CHART_H_

#include <QColor>
#include <QRectF>
#include <QSize>
#include <cstddef>

#include "plot/plot_data.h"

class QPainter;

namespace tly {

// The colour of a door's bars: its entries in the door's colour, its exits in
// a lighter shade of it. Doors beyond the fixed palette get colours of their
// own around the colour circle.
QColor DoorBarColor(size_t door_index, bool exits);

// The colour of the occupancy line.
QColor OccupancyColor();

// Paints `data` on a canvas of `size` pixels (at least 320 x 240): a title
// from the shop code and the file names; per quarter hour one bar per door,
// stacked, entries upwards and exits downwards from a common base line; the
// occupancy of each day as a line on its own scale (right axis) whose zero is
// that base line; the days side by side, separated and labelled; and a
// legend. The bars are the only plain rectangles in a door's colour (legend
// swatches are rounded), so that a reader of an SVG can tell them apart.
// Returns the plot area, where the days' quarter hours lie side by side
// (empty when there is no day), so that a caller can mark spans on it.
QRectF PaintTrafficChart(QPainter& painter, QSize size, const PlotData& data);

}  // namespace tly

#endif  // TLY_PLOT_PLOT_CHART_H_
