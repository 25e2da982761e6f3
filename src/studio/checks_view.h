#ifndef TLY_GUI_CHECKS_VIEW_H_
#define TLY_GUI_CHECKS_VIEW_H_

#include <QFutureWatcher>
#include <QString>
#include <QWidget>
#include <atomic>

#include "studio/folder_check.h"

class QLabel;
class QPlainTextEdit;
class QTableWidget;

namespace tly {

class FileTextView;

// The checks page: the day files of a folder as verify judges them, one row
// each (file, verdict, problems); a double click shows the file at the line
// of its first problem. The truth scores follow as verify prints them.
class ChecksView : public QWidget {
  Q_OBJECT

 public:
  explicit ChecksView(QWidget* parent = nullptr);
  ~ChecksView() override;

  // Checks `folder` off the window's thread; Checked() follows.
  void Verify(const QString& folder);
  bool Running() const { return watcher_.isRunning(); }
  // Shows the file of row `row` with the line of its first problem.
  void ShowRow(int row);

  QTableWidget* Results() const { return results_; }
  QPlainTextEdit* Scores() const { return scores_; }
  FileTextView* FileText() const { return file_text_; }

 signals:
  void Checked();

 private:
  void ShowResult();

  std::atomic<bool> cancel_{false};
  QFutureWatcher<FolderCheck> watcher_;
  FolderCheck result_;
  QString folder_;
  QLabel* summary_;
  QTableWidget* results_;
  QPlainTextEdit* scores_;
  FileTextView* file_text_;
};

}  // namespace tly

#endif  // TLY_GUI_CHECKS_VIEW_H_
