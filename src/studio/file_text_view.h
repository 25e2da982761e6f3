#ifndef TLY_GUI_FILE_TEXT_VIEW_H_
#define TLY_GUI_FILE_TEXT_VIEW_H_

#include <QPlainTextEdit>
#include <string_view>

namespace tly {

// A read-only view of a text file (a scenario, a day file) that can point at
// one of its lines: that line is highlighted and scrolled into view.
class FileTextView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit FileTextView(QWidget* parent = nullptr);

  // Shows `bytes` (CR LF or LF line ends, single-byte text) with line `line`
  // (from 1; 0 for none) highlighted.
  void ShowFile(std::string_view bytes, int line = 0);
  // The highlighted line, 0 when none is.
  int HighlightedLine() const { return highlighted_; }

 private:
  int highlighted_ = 0;
};

}  // namespace tly

#endif  // TLY_GUI_FILE_TEXT_VIEW_H_
