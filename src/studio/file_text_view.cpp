#include "studio/file_text_view.h"

#include <QColor>
#include <QFontDatabase>
#include <QTextBlock>
#include <QTextCursor>

namespace tly {

FileTextView::FileTextView(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

void FileTextView::ShowFile(std::string_view bytes, int line) {
  // Single-byte text: Latin-1 shows every byte as one character, and a CR
  // before the line end is no part of what a reader sees of the line.
  QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  setPlainText(text);
  highlighted_ = 0;
  QList<QTextEdit::ExtraSelection> marks;
  const QTextBlock block = document()->findBlockByNumber(line - 1);
  if (line > 0 && block.isValid()) {
    QTextEdit::ExtraSelection mark;
    mark.format.setBackground(QColor(0xff, 0xd8, 0x80));
    mark.format.setProperty(QTextFormat::FullWidthSelection, true);
    mark.cursor = QTextCursor(block);
    marks << mark;
    setTextCursor(mark.cursor);
    centerCursor();
    highlighted_ = line;
  }
  setExtraSelections(marks);
}

}  // namespace tly
