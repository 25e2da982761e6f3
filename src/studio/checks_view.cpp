#include "studio/checks_view.h"

#include <QDir>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStringList>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtConcurrent>
#include <optional>

#include "cli/command_style.h"
#include "studio/file_text_view.h"

namespace tly {

ChecksView::ChecksView(QWidget* parent)
    : QWidget(parent),
      summary_(new QLabel(tr("Verify a folder to see its day files here."))),
      results_(new QTableWidget(0, 3)),
      scores_(new QPlainTextEdit),
      file_text_(new FileTextView) {
  results_->setHorizontalHeaderLabels({tr("File"), tr("Verdict"), tr("Problems")});
  results_->setSelectionBehavior(QAbstractItemView::SelectRows);
  results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  results_->horizontalHeader()->setStretchLastSection(true);
  results_->verticalHeader()->hide();
  scores_->setReadOnly(true);
  scores_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  scores_->setPlaceholderText(tr("Truth scores, when the folder has faults.jsonl"));
  auto* left = new QSplitter(Qt::Vertical);
  left->addWidget(results_);
  left->addWidget(scores_);
  left->setStretchFactor(0, 3);
  auto* splitter = new QSplitter;
  splitter->addWidget(left);
  splitter->addWidget(file_text_);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(splitter, 1);
  connect(&watcher_, &QFutureWatcher<FolderCheck>::finished, this, &ChecksView::ShowResult);
  connect(results_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { ShowRow(row); });
  connect(results_, &QTableWidget::cellActivated, this, [this](int row, int) { ShowRow(row); });
}

ChecksView::~ChecksView() {
  cancel_ = true;
  watcher_.waitForFinished();
}

void ChecksView::Verify(const QString& folder) {
  if (watcher_.isRunning()) return;
  folder_ = folder;
  cancel_ = false;
  summary_->setText(tr("Checking %1 ...").arg(folder));
  const std::string path = folder.toStdString();
  watcher_.setFuture(QtConcurrent::run([this, path] { return CheckFolder(path, cancel_); }));
}

void ChecksView::ShowResult() {
  result_ = watcher_.result();
  results_->setRowCount(static_cast<int>(result_.files.size()));
  int bad = 0;
  int first_bad = -1;
  const QDir base(folder_);
  for (int row = 0; row < results_->rowCount(); ++row) {
    const FolderFileCheck& file = result_.files[static_cast<size_t>(row)];
    const std::vector<DayFileFinding>& findings = file.verified.checked.findings;
    QString verdict = QStringLiteral("OK");
    QString problems;
    QStringList all;
    if (!file.readable) {
      verdict = QStringLiteral("UNREADABLE");
      problems = QString::fromStdString(file.problem);
    } else if (!findings.empty()) {
      verdict = QStringLiteral("BAD");
      problems = tr("%n problem(s): ", nullptr, static_cast<int>(findings.size())) +
                 QString::fromStdString(file.verified.first_problem);
      for (const DayFileFinding& finding : findings) all << QString::fromStdString(finding.problem);
    }
    if (verdict != QLatin1String("OK") && bad++ == 0) first_bad = row;
    const QStringList cells = {base.relativeFilePath(QString::fromStdString(file.path)), verdict,
                               problems};
    for (int column = 0; column < 3; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      if (!all.isEmpty()) item->setToolTip(all.join('\n'));
      if (verdict != QLatin1String("OK")) item->setForeground(QColor(0xb0, 0x00, 0x20));
      results_->setItem(row, column, item);
    }
  }
  results_->resizeColumnsToContents();
  summary_->setText(
      tr("%1: %2 day files, %3 not OK").arg(folder_).arg(result_.files.size()).arg(bad));
  QStringList lines;
  for (const std::string& line : result_.truth_lines) lines << QString::fromStdString(line);
  scores_->setPlainText(lines.join('\n'));
  // What is wrong is what one looks at first.
  file_text_->clear();
  if (first_bad >= 0) {
    results_->selectRow(first_bad);
    ShowRow(first_bad);
  }
  emit Checked();
}

void ChecksView::ShowRow(int row) {
  if (row < 0 || row >= static_cast<int>(result_.files.size())) return;
  const FolderFileCheck& file = result_.files[static_cast<size_t>(row)];
  std::string problem;
  const std::optional<std::string> bytes = ReadGivenFile(file.path, problem);
  const std::vector<DayFileFinding>& findings = file.verified.checked.findings;
  file_text_->ShowFile(bytes ? *bytes : problem, findings.empty() ? 0 : findings.front().line);
}

}  // namespace tly
