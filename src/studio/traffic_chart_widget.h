#ifndef TLY_GUI_TRAFFIC_CHART_WIDGET_H_
#define TLY_GUI_TRAFFIC_CHART_WIDGET_H_

#include <QRectF>
#include <QWidget>
#include <vector>

#include "faults/fault_truth_reader.h"
#include "plot/plot_data.h"

namespace tly {

// The chart `plot` draws, of one day, drawn in the window, with the faults
// planted in that day marked on it: a band over each fault's quarter hours
// with its kind, and on hover what is true and what the file holds.
class TrafficChartWidget : public QWidget {
  Q_OBJECT

 public:
  explicit TrafficChartWidget(QWidget* parent = nullptr);

  void SetDay(PlotData day, std::vector<TruthEntry> faults);
  const PlotData& Data() const { return data_; }
  const std::vector<TruthEntry>& Faults() const { return faults_; }
  // What hovering over quarter hour `quarter` tells: the faults there, with
  // the true and the written counts; "" when none is there.
  QString FaultsAt(int quarter) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  PlotData data_;
  std::vector<TruthEntry> faults_;
  QRectF plot_;  // where the last paint put the quarter hours
};

}  // namespace tly

#endif  // TLY_GUI_TRAFFIC_CHART_WIDGET_H_
