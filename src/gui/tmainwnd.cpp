#include "gui/tmainwnd.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QMessageBox>
#include <QStyle>
#include <QTreeWidgetItem>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "gui/process_launch.h"
#include "support/text_trim.h"

// The window's icon lives in the program's static library, whose resources
// the linker would otherwise leave out. Outside any namespace, where the
// resource's initialiser is declared.
static void InitWindowResources() {
  Q_INIT_RESOURCE(tly_generator);
}

namespace tly {

namespace {

constexpr int kTimerIntervalMs = GenerationCycle::kTickSeconds * 1000;
constexpr int kShownChannels = 10;
constexpr int kTimeColumnWidth = 60;
constexpr int kChannelColumnWidth = 42;
constexpr int kListHeight = 236;
constexpr int kReapIntervalMs = 1000;

const char* const kBrowseTitle = "Select directory for TLY files";

// Re-enables painting of a widget when the scope ends, also on an exception.
class UpdatesSuspended {
 public:
  explicit UpdatesSuspended(QWidget* widget) : widget_(widget) {
    widget_->setUpdatesEnabled(false);
  }
  ~UpdatesSuspended() { widget_->setUpdatesEnabled(true); }
  UpdatesSuspended(const UpdatesSuspended&) = delete;
  UpdatesSuspended& operator=(const UpdatesSuspended&) = delete;

 private:
  QWidget* widget_;
};

}  // namespace

TMainWnd::TMainWnd(std::string ini_file_name, QWidget* parent)
    : QWidget(parent),
      ini_file_name_(std::move(ini_file_name)),
      TmrMain(kTimerIntervalMs, nullptr),
      cycle_(
          TmrMain, [this] { return GetOutDir(); }, [this] { RefreshChannelList(); }, 0,
          "tly-generator window") {
  ShowError = [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text); };
  ChooseDirectory = [this](const QString& title, const QString& start_dir) {
    return QFileDialog::getExistingDirectory(this, title, start_dir, QFileDialog::ShowDirsOnly);
  };
  StartProcess = SpawnDetached;

  setupUi(this);
  SetUpControls();

  connect(EdOutDir, &QLineEdit::textChanged, this, [this] { EdOutDirChange(); });
  connect(BtnBrowseDir, &QToolButton::clicked, this, [this] { BtnBrowseDirClick(); });
  connect(BtnStartStop, &QPushButton::clicked, this, [this] { BtnStartStopClick(); });
  connect(BtnExit, &QPushButton::clicked, this, [this] { BtnExitClick(); });
  connect(BtnNotepad, &QPushButton::clicked, this, [this] { BtnNotepadClick(); });
  connect(&TmrMain, &QTimer::timeout, this, [this] { TmrMainTimer(); });
  reaper_.setInterval(kReapIntervalMs);
  connect(&reaper_, &QTimer::timeout, this, [this] {
    ReapFinished(editors_);
    if (editors_.empty()) reaper_.stop();
  });

  FormCreate();
}

TMainWnd::~TMainWnd() {
  TmrMain.stop();
  ReapFinished(editors_);
}

void TMainWnd::SetUpControls() {
  // A fixed tool window: no maximise button, no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

  BtnBrowseDir->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon, nullptr, BtnBrowseDir));
  InitWindowResources();
  setWindowIcon(QIcon(QStringLiteral(":/tly-generator.svg")));
  // Ties the window to its menu entry (tly-generator.desktop) on Wayland.
  QGuiApplication::setDesktopFileName(QStringLiteral("tly-generator"));

  QHeaderView* header = LvChannels->header();
  header->setStretchLastSection(false);
  header->setSectionsMovable(false);
  header->setSectionResizeMode(QHeaderView::Fixed);
  header->resizeSection(0, kTimeColumnWidth);
  for (int column = 1; column <= kShownChannels; ++column) {
    header->resizeSection(column, kChannelColumnWidth);
    LvChannels->headerItem()->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
  }
  // Room for every column and a vertical scroll bar, so that no horizontal
  // one is ever needed.
  const int frame = 2 * LvChannels->frameWidth();
  const int scroll_bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, LvChannels);
  LvChannels->setFixedSize(
      kTimeColumnWidth + kShownChannels * kChannelColumnWidth + scroll_bar + frame, kListHeight);
  LvChannels->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

std::string TMainWnd::GetOutDir() const {
  return std::string(TrimBlanksAndControls(EdOutDir->text().toStdString()));
}

void TMainWnd::SetOutDir(const std::string& dir) {
  EdOutDir->setText(QString::fromStdString(std::string(TrimBlanksAndControls(dir))));
}

bool TMainWnd::OutDirExists() const {
  const std::string dir = GetOutDir();
  std::error_code error;
  return !dir.empty() && std::filesystem::is_directory(dir, error);
}

void TMainWnd::UpdateControls() {
  const bool generating = cycle_.IsGenerating();
  BtnStartStop->setText(generating ? "Stop generation" : "Start generation");
  EdOutDir->setEnabled(!generating);
  BtnBrowseDir->setEnabled(!generating);
  const bool can_start_stop = OutDirExists();
  BtnStartStop->setEnabled(can_start_stop);
  BtnNotepad->setEnabled(can_start_stop);
}

void TMainWnd::RefreshChannelList() {
  const DayCounts& day = cycle_.DayData();
  UpdatesSuspended suspended(LvChannels);
  LvChannels->clear();
  QTreeWidgetItem* last = nullptr;
  for (int slot = day.FirstSlot; slot <= day.LastSlot; ++slot) {
    if (!day.SlotUsed[slot]) continue;
    const SlotCounts& counts = day.Slots[slot];
    auto* item = new QTreeWidgetItem(LvChannels);
    char caption[16];
    std::snprintf(caption, sizeof caption, "%02d:%02d", counts.Hour, counts.Minute);
    item->setText(0, caption);
    for (int channel = 0; channel < kShownChannels; ++channel) {
      item->setText(channel + 1, QString::number(counts.Counts[channel]));
      item->setTextAlignment(channel + 1, Qt::AlignRight | Qt::AlignVCenter);
    }
    last = item;
  }
  if (last != nullptr) {
    LvChannels->setCurrentItem(last);
    LvChannels->scrollToItem(last, QAbstractItemView::EnsureVisible);
  }
}

void TMainWnd::LoadSettings() {
  SetOutDir(ReadOutDirSetting(ini_file_name_));
}

bool TMainWnd::SaveSettings() {
  return WriteOutDirSetting(ini_file_name_, GetOutDir());
}

void TMainWnd::OpenInNotepad(const std::string& path) {
  try {
    const pid_t pid = StartProcess({EditorProgram, path});
    if (pid > 0) {
      editors_.push_back(pid);
      reaper_.start();
    }
  } catch (const std::system_error& e) {
    ShowError(QString::fromStdString(SystemErrorText(e.code().value())));
  }
}

bool TMainWnd::BrowseForFolder(const QString& title, std::string& dir) {
  const QString chosen = ChooseDirectory(title, QString::fromStdString(dir));
  if (chosen.isEmpty()) return false;
  dir = chosen.toStdString();
  return true;
}

void TMainWnd::FormCreate() {
  LoadSettings();
  cycle_.BuildDayFileName();
  cycle_.ReloadDay();
  RefreshChannelList();
  if (OutDirExists())
    StartGeneration();
  else
    ReportNotStarted();
  UpdateControls();
}

void TMainWnd::ReportNotStarted() {
  const std::string dir = GetOutDir();
  if (dir.empty()) {
    std::fprintf(stderr,
                 "tly-generator: generation not started: the settings file %s names no output "
                 "directory\n",
                 ini_file_name_.c_str());
    return;
  }
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(dir, error);
  const std::string why = error && error != std::errc::no_such_file_or_directory
                              ? "cannot be reached: " + error.message()
                          : std::filesystem::exists(status) ? "is not a directory"
                                                            : "does not exist";
  const std::string reason =
      "the output directory " + dir + " (from the settings file " + ini_file_name_ + ") " + why;
  std::fprintf(stderr, "tly-generator: generation not started: %s\n", reason.c_str());
  QTimer::singleShot(0, this, [this, reason] {
    ShowError(QString::fromStdString("Generation not started: " + reason + "."));
  });
}

void TMainWnd::StartGeneration() {
  try {
    cycle_.StartGeneration();
  } catch (const DirectoryBusy& busy) {
    ShowError(QString::fromStdString(busy.what()));
  }
}

bool TMainWnd::FormCloseQuery() {
  // Counts since the last save would be lost otherwise.
  if (cycle_.IsGenerating()) cycle_.StopGeneration();
  if (!SaveSettings()) {
    UpdateControls();
    ShowError(QString::fromStdString("Unable to write to " + ini_file_name_));
    return false;
  }
  return true;
}

void TMainWnd::closeEvent(QCloseEvent* event) {
  if (FormCloseQuery())
    event->accept();
  else
    event->ignore();
}

void TMainWnd::BtnStartStopClick() {
  if (cycle_.IsGenerating())
    cycle_.StopGeneration();
  else if (OutDirExists())
    StartGeneration();
  UpdateControls();
}

void TMainWnd::BtnExitClick() {
  close();
}

void TMainWnd::EdOutDirChange() {
  UpdateControls();
}

void TMainWnd::BtnBrowseDirClick() {
  std::string dir = GetOutDir();
  if (BrowseForFolder(kBrowseTitle, dir)) {
    SetOutDir(dir);
    cycle_.BuildDayFileName();
  }
  UpdateControls();
}

void TMainWnd::BtnNotepadClick() {
  OpenInNotepad(cycle_.DayFileName());
}

void TMainWnd::TmrMainTimer() {
  cycle_.Tick();
}

}  // namespace tly
