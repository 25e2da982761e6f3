#include "gui/tmainwnd.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "gui/process_launch.h"
#include "support/clock.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

// A window whose desktop services are recorded instead of shown.
class WindowTest : public ::testing::Test {
 protected:
  std::unique_ptr<TMainWnd> OpenWindow() {
    auto window = std::make_unique<TMainWnd>(ini_);
    window->ShowError = [this](const QString& text) { errors_.push_back(text.toStdString()); };
    window->ChooseDirectory = [this](const QString& title, const QString& start) {
      dialog_title_ = title.toStdString();
      dialog_start_ = start.toStdString();
      return QString::fromStdString(chosen_);
    };
    return window;
  }
  void WriteIni(const std::string& out_dir) {
    testing::WriteBytes(ini_, "[General]\r\nOutDir=" + out_dir + "\r\n");
  }

  testing::TempDir dir_;
  std::string ini_ = dir_.File("tly-generator.ini");
  std::string out_ = dir_.path() + "/tly out";
  std::vector<std::string> errors_;
  std::string chosen_;
  std::string dialog_title_;
  std::string dialog_start_;
};

// Another writer in the directory: the window says so and stays stopped, at
// start-up as on the button, and starts once the other has gone.
TEST_F(WindowTest, ADirectoryAnotherWriterHoldsIsNotStarted) {
  std::filesystem::create_directory(out_);
  WriteIni(out_);
  auto other = std::make_unique<DirectoryLock>(out_, "tly-generator run");
  // At start-up the window's own message box says it (the test's error
  // recorder is put in place only after the window is built): read and close
  // it once the event loop shows it.
  std::string shown;
  QTimer::singleShot(0, [&shown] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text().toStdString();
      box->accept();
    }
  });
  auto window = OpenWindow();
  EXPECT_FALSE(window->Cycle().IsGenerating());
  EXPECT_NE(shown.find(out_ + " is in use by another writer"), std::string::npos) << shown;
  EXPECT_EQ(window->BtnStartStop->text().toStdString(), "Start generation");
  window->BtnStartStop->click();
  EXPECT_FALSE(window->Cycle().IsGenerating());
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_NE(errors_[0].find("(process "), std::string::npos) << errors_[0];

  other.reset();
  window->BtnStartStop->click();
  EXPECT_TRUE(window->Cycle().IsGenerating());
  EXPECT_EQ(window->BtnStartStop->text().toStdString(), "Stop generation");
  EXPECT_THROW(DirectoryLock(out_, "tly-generator run"), DirectoryBusy);
}

TEST_F(WindowTest, StartsByItselfWhenTheDirectoryExistsAndControlsFollowTheState) {
  std::filesystem::create_directory(out_);
  WriteIni(out_);
  auto window = OpenWindow();
  EXPECT_EQ(window->windowTitle().toStdString(), "TLY Generator");
  EXPECT_FALSE(window->windowIcon().pixmap(32, 32).isNull()) << "the icon, drawn from its SVG";
  std::vector<std::string> tab_order;
  QWidget* widget = window->EdOutDir;
  do {
    if (widget->focusPolicy() & Qt::TabFocus)
      tab_order.push_back(widget->objectName().toStdString());
    widget = widget->nextInFocusChain();
  } while (widget != window->EdOutDir && tab_order.size() < 10);
  EXPECT_EQ(tab_order, (std::vector<std::string>{"EdOutDir", "LvChannels", "BtnStartStop",
                                                 "BtnExit", "BtnNotepad"}));
  EXPECT_EQ(window->GetOutDir(), out_);
  EXPECT_TRUE(window->Cycle().IsGenerating());
  EXPECT_EQ(window->BtnStartStop->text().toStdString(), "Stop generation");
  EXPECT_FALSE(window->EdOutDir->isEnabled());
  EXPECT_FALSE(window->BtnBrowseDir->isEnabled());
  EXPECT_TRUE(window->BtnStartStop->isEnabled());
  EXPECT_TRUE(window->BtnNotepad->isEnabled());

  window->BtnStartStop->click();
  EXPECT_FALSE(window->Cycle().IsGenerating());
  EXPECT_EQ(window->BtnStartStop->text().toStdString(), "Start generation");
  EXPECT_TRUE(window->EdOutDir->isEnabled());
  EXPECT_TRUE(window->BtnBrowseDir->isEnabled());
  EXPECT_TRUE(std::filesystem::exists(window->Cycle().DayFileName())) << "the stop saves";

  // A directory that vanished while stopped disables both buttons as soon
  // as the edit changes.
  std::filesystem::remove_all(out_);
  window->EdOutDir->insert(" ");
  EXPECT_FALSE(window->BtnStartStop->isEnabled());
  EXPECT_FALSE(window->BtnNotepad->isEnabled());
  window->BtnStartStopClick();
  EXPECT_FALSE(window->Cycle().IsGenerating());
}

TEST_F(WindowTest, WithoutSettingsNothingStartsAndClosingWritesTheTrimmedDirectory) {
  auto window = OpenWindow();
  EXPECT_EQ(window->GetOutDir(), "");
  EXPECT_FALSE(window->Cycle().IsGenerating());
  EXPECT_FALSE(window->BtnStartStop->isEnabled());
  EXPECT_FALSE(window->BtnNotepad->isEnabled());
  EXPECT_FALSE(std::filesystem::exists(ini_));

  std::filesystem::create_directory(out_);
  window->EdOutDir->setText(QString::fromStdString("  \t" + out_ + "  "));
  EXPECT_EQ(window->GetOutDir(), out_);
  EXPECT_TRUE(window->BtnStartStop->isEnabled());
  window->SetOutDir(" " + out_ + "\t");
  EXPECT_EQ(window->EdOutDir->text().toStdString(), out_);
  EXPECT_TRUE(window->close());
  EXPECT_EQ(ReadOutDirSetting(ini_), out_);
  EXPECT_NE(testing::ReadBytes(ini_).find("OutDir=" + out_ + "\n"), std::string::npos)
      << testing::ReadBytes(ini_);
}

// Settings that name a directory the window cannot use: it says so once it
// is up, instead of waiting without a word for someone to pick another.
TEST_F(WindowTest, ADirectoryOfTheSettingsThatIsMissingIsReportedOnceTheWindowIsUp) {
  WriteIni(out_);
  auto window = OpenWindow();
  EXPECT_FALSE(window->Cycle().IsGenerating());
  EXPECT_TRUE(errors_.empty());
  QApplication::processEvents();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "Generation not started: the output directory " + out_ +
                            " (from the settings file " + ini_ + ") does not exist.");
}

TEST_F(WindowTest, ListShowsOneRowPerUsedQuarterHourAndSelectsTheLast) {
  auto window = OpenWindow();
  QTreeWidget* list = window->LvChannels;
  ASSERT_EQ(list->columnCount(), 11);
  EXPECT_EQ(list->headerItem()->text(0).toStdString(), "time");
  EXPECT_EQ(list->headerItem()->text(10).toStdString(), "ch10");
  EXPECT_EQ(list->columnWidth(0), 60);
  EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(list->topLevelItemCount(), 0);

  DayCounts& day = window->Cycle().DayData();
  AddCounts(day, 0, 3, EncodeTime(8, 20, 0, 0), 9, 7, -1, 0, -1, 0);
  AddCounts(day, 11, 5, EncodeTime(10, 0, 0, 0), 1, 1, -1, 0, -1, 0);
  window->RefreshChannelList();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  const QTreeWidgetItem* first = list->topLevelItem(0);
  const QTreeWidgetItem* second = list->topLevelItem(1);
  EXPECT_EQ(first->text(0).toStdString(), "08:15");
  EXPECT_EQ(first->text(1).toStdString(), "3");
  EXPECT_EQ(first->text(10).toStdString(), "7");
  EXPECT_EQ(first->textAlignment(10) & Qt::AlignRight, Qt::AlignRight);
  EXPECT_EQ(second->text(0).toStdString(), "10:00");
  EXPECT_EQ(second->text(2).toStdString(), "1");
  EXPECT_EQ(list->currentItem(), second);
  EXPECT_TRUE(second->isSelected());
  EXPECT_FALSE(first->isSelected());
  EXPECT_TRUE(list->updatesEnabled());

  InitDayCounts(day, 2026, 12, 7);
  window->RefreshChannelList();
  EXPECT_EQ(list->topLevelItemCount(), 0);
}

TEST_F(WindowTest, ClosingWhileGeneratingSavesTheCountsNotYetWritten) {
  std::filesystem::create_directory(out_);
  WriteIni(out_);
  ManualClock clock(EncodeDate(2026, 12, 7) + EncodeTime(14, 0, 0, 0));
  ScopedClock scoped(clock);
  auto window = OpenWindow();
  ASSERT_TRUE(window->Cycle().IsGenerating());
  // Ticks before the first save is due: the counts exist only in memory.
  for (int i = 0; i < 3; ++i) {
    clock.AdvanceSeconds(0.5);
    window->TmrMainTimer();
  }
  const std::string file = out_ + "/261207.tly";
  EXPECT_FALSE(std::filesystem::exists(file));
  ASSERT_EQ(window->LvChannels->topLevelItemCount(), 1);
  EXPECT_EQ(window->LvChannels->topLevelItem(0)->text(3).toStdString(), "2");

  window->show();
  window->BtnExit->click();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(window->Cycle().IsGenerating());
  EXPECT_NE(testing::ReadBytes(file).find(
                "001\t07/12/2026\t14:00\t 1\t 1\t 2\t 0\t 0\t 0\t 1\t 0\t 2\t 0\r\n"),
            std::string::npos)
      << testing::ReadBytes(file);
  EXPECT_EQ(ReadOutDirSetting(ini_), out_);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(WindowTest, UnwritableSettingsKeepTheWindowOpenAndEachCloseRetries) {
  std::filesystem::create_directory(out_);
  ini_ = dir_.File("settings-dir.ini");
  std::filesystem::create_directory(ini_);  // a directory cannot be written as a file
  auto window = OpenWindow();
  window->SetOutDir(out_);
  window->BtnStartStopClick();
  ASSERT_TRUE(window->Cycle().IsGenerating());
  window->show();

  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->Cycle().IsGenerating());
  EXPECT_EQ(window->BtnStartStop->text().toStdString(), "Start generation");
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "Unable to write to " + ini_);
  EXPECT_FALSE(window->close());
  EXPECT_EQ(errors_.size(), 2u);

  std::filesystem::remove(ini_);
  EXPECT_TRUE(window->close());
  EXPECT_EQ(ReadOutDirSetting(ini_), out_);
}

TEST_F(WindowTest, EditorGetsThePathAsOneArgumentAndFailuresShowTheSystemError) {
  std::filesystem::create_directory(out_);
  WriteIni(out_);
  auto window = OpenWindow();
  window->BtnStartStopClick();  // stop, so that the day file exists

  std::vector<std::string> argv;
  window->StartProcess = [&argv](const std::vector<std::string>& args) {
    argv = args;
    return pid_t{-1};
  };
  window->BtnNotepad->click();
  ASSERT_EQ(argv.size(), 2u);
  EXPECT_EQ(argv[0], "xdg-open");
  EXPECT_EQ(argv[1], window->Cycle().DayFileName());
  window->OpenInNotepad("/x/a b; rm -rf $HOME 'q'");
  EXPECT_EQ(argv[1], "/x/a b; rm -rf $HOME 'q'");
  EXPECT_TRUE(errors_.empty());

  // A real start of a program that is not there (named by its path, so that
  // no directory of PATH that the user may not search decides the error).
  window->StartProcess = SpawnDetached;
  window->EditorProgram = out_ + "/tly-no-such-editor";
  window->BtnNotepadClick();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0],
            "System Error.  Code: " + std::to_string(ENOENT) + ".\r\n" + std::strerror(ENOENT));
  EXPECT_FALSE(window->Cycle().IsGenerating());
  EXPECT_EQ(SystemErrorText(0), "System Error.  Code: 0.\r\nA call to an OS function failed");

  // A real start that succeeds is not waited for, and is reaped afterwards.
  pid_t started = 0;
  window->StartProcess = [&started](const std::vector<std::string>& args) {
    started = SpawnDetached(args);
    return started;
  };
  window->EditorProgram = "true";
  window->BtnNotepadClick();
  ASSERT_GT(started, 0);
  // Until the window reaps it, the ended child stays a zombie under /proc.
  const std::string proc = "/proc/" + std::to_string(started);
  QElapsedTimer waited;
  waited.start();
  while (std::filesystem::exists(proc) && waited.elapsed() < 5000)
    QApplication::processEvents(QEventLoop::AllEvents, 100);
  EXPECT_FALSE(std::filesystem::exists(proc));
  EXPECT_EQ(errors_.size(), 1u);
}

TEST_F(WindowTest, FolderDialogReplacesTheDirectoryOnlyWhenConfirmed) {
  std::filesystem::create_directory(out_);
  auto window = OpenWindow();
  window->SetOutDir(out_);
  window->Cycle().BuildDayFileName();
  DayCounts& day = window->Cycle().DayData();
  AddCounts(day, 0, 1, EncodeTime(9, 0, 0, 0), 1, 0, -1, 0, -1, 0);
  window->RefreshChannelList();
  const std::string name = window->Cycle().DayFileName();

  window->BtnBrowseDir->click();
  EXPECT_EQ(dialog_title_, "Select directory for TLY files");
  EXPECT_EQ(dialog_start_, out_);
  EXPECT_EQ(window->GetOutDir(), out_);
  EXPECT_EQ(window->Cycle().DayFileName(), name);

  chosen_ = dir_.path();
  window->BtnBrowseDirClick();
  EXPECT_EQ(window->GetOutDir(), dir_.path());
  EXPECT_EQ(window->Cycle().DayFileName(), dir_.path() + name.substr(name.rfind('/')));
  EXPECT_EQ(window->LvChannels->topLevelItemCount(), 1) << "the loaded day stays shown";
  EXPECT_FALSE(std::filesystem::exists(ini_)) << "only the close writes the settings";
}

}  // namespace
}  // namespace tly
