#ifndef TLY_GUI_DELIVERIES_VIEW_H_
#define TLY_GUI_DELIVERIES_VIEW_H_

#include <QString>
#include <QWidget>

class QLabel;
class QTableWidget;

namespace tly {

// The deliveries page: from the delivery log of the output folder, per site
// the last push, the failures and what is spooled, and every attempt.
class DeliveriesView : public QWidget {
  Q_OBJECT

 public:
  explicit DeliveriesView(QWidget* parent = nullptr);

  // Reads OUT/deliveries.jsonl of `out_dir` again.
  void Reload(const QString& out_dir);

  QTableWidget* Sites() const { return sites_; }
  QTableWidget* Attempts() const { return attempts_; }
  QLabel* Status() const { return status_; }

 private:
  QLabel* status_;
  QTableWidget* sites_;
  QTableWidget* attempts_;
};

}  // namespace tly

#endif  // TLY_GUI_DELIVERIES_VIEW_H_
