#ifndef TLY_GUI_DAY_VIEW_H_
#define TLY_GUI_DAY_VIEW_H_

#include <QDate>
#include <QString>
#include <QWidget>
#include <memory>

#include "scenario/scenario.h"

class QLabel;
class QTableWidget;

namespace tly {

class TrafficChartWidget;

// The day page: the chart of one site's day file beside the table of its
// quarter hours, the faults the truth file names for that file marked on
// both.
class DayView : public QWidget {
  Q_OBJECT

 public:
  explicit DayView(QWidget* parent = nullptr);

  // Shows the file of site `site` (an index into `scenario`'s sites) for
  // `day` under `out_dir`, as it is now.
  void ShowDay(std::shared_ptr<const Scenario> scenario, int site, const QDate& day,
               const QString& out_dir);
  // Reads the file shown again (it may have been saved since).
  void Reload();
  // The day file shown, "" for none.
  QString FilePath() const { return path_; }

  TrafficChartWidget* Chart() const { return chart_; }
  QTableWidget* Rows() const { return rows_; }
  QLabel* Status() const { return status_; }

 private:
  void FillRows();

  std::shared_ptr<const Scenario> scenario_;
  int site_ = -1;
  QString path_;
  QString truth_path_;
  QString file_in_truth_;  // "<site>/<yymmdd>.tly"
  QLabel* status_;
  TrafficChartWidget* chart_;
  QTableWidget* rows_;
};

}  // namespace tly

#endif  // TLY_GUI_DAY_VIEW_H_
