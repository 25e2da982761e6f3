#ifndef TLY_GUI_SCENARIO_VIEW_H_
#define TLY_GUI_SCENARIO_VIEW_H_

#include <QDate>
#include <QWidget>
#include <memory>
#include <string>

#include "scenario/scenario.h"

class QDateEdit;
class QLabel;
class QTableWidget;

namespace tly {

class FileTextView;

// The scenario page: its sites in a table (what each is and what it expects
// of the chosen day) beside the scenario file, whose error, when it has one,
// is shown with its line highlighted.
class ScenarioView : public QWidget {
  Q_OBJECT

 public:
  explicit ScenarioView(QWidget* parent = nullptr);

  // Shows the scenario read from `text` (of `source`), or its error.
  // Returns the scenario, nullptr when the text is no usable scenario.
  std::shared_ptr<const Scenario> Show(const std::string& text, const std::string& source);

  QDate Day() const;
  void SetDay(const QDate& day);
  // The row of the site selected, -1 for none.
  int SelectedSite() const;
  void SelectSite(int row);

  QTableWidget* Sites() const { return sites_; }
  QLabel* Error() const { return error_; }
  FileTextView* Text() const { return text_; }

 signals:
  void SiteChosen(int row);
  void DayChosen(const QDate& day);

 private:
  void FillSites();

  std::shared_ptr<const Scenario> scenario_;
  QDateEdit* day_;
  QTableWidget* sites_;
  QLabel* error_;
  FileTextView* text_;
};

}  // namespace tly

#endif  // TLY_GUI_SCENARIO_VIEW_H_
