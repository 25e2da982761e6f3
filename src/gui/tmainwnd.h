#ifndef TLY_GUI_TMAINWND_H_
#define TLY_GUI_TMAINWND_H_

#include <sys/types.h>

#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "gui/generation_qtimer.h"
#include "gui/settings_file.h"
#include "live/generation_cycle.h"
#include "ui_tmainwnd.h"

class QCloseEvent;

namespace tly {

// The generator's only window: the output directory (typed or picked), the
// start/stop of generation, the quarter hours of the current day, and the day
// file opened in the desktop's editor. It owns the generation cycle and drives
// it with its 2-second timer; the output directory is kept in an INI file.
//
// The controls come from tmainwnd.ui and carry its names (EdOutDir,
// LvChannels, BtnStartStop, ...).
class TMainWnd : public QWidget, public Ui::TMainWnd {
 public:
  // Builds the form and runs FormCreate: reads the settings from
  // `ini_file_name`, loads today's day file and, when the output directory
  // exists, starts generating.
  explicit TMainWnd(std::string ini_file_name = SettingsFileName(), QWidget* parent = nullptr);
  ~TMainWnd() override;

  // What the window asks of the desktop; a test replaces them so that no
  // person and no display is needed.
  // Shows an error text (default: a modal critical message box; the timer
  // keeps ticking while it is open).
  std::function<void(const QString& text)> ShowError;
  // Lets the user pick a directory, opening on `start_dir`; empty when
  // cancelled.
  std::function<QString(const QString& title, const QString& start_dir)> ChooseDirectory;
  // Starts a program with exactly these arguments (argv[0] searched along
  // PATH) without waiting; returns its process id. Throws std::system_error.
  std::function<pid_t(const std::vector<std::string>& argv)> StartProcess;
  // The program that opens the day file.
  std::string EditorProgram = "xdg-open";

  // The edit's text without leading and trailing blanks and control characters.
  std::string GetOutDir() const;
  // Puts `dir`, trimmed the same way, into the edit.
  void SetOutDir(const std::string& dir);
  // GetOutDir() is not empty and names an existing directory.
  bool OutDirExists() const;
  // Captions and enabled states from the generation state and the directory.
  void UpdateControls();
  // Rebuilds the list: one row per used quarter hour of the day, the last one
  // selected and scrolled into view.
  void RefreshChannelList();
  // Reads the output directory from the settings file into the edit.
  void LoadSettings();
  // Writes the trimmed output directory to the settings file; false when the
  // file could not be written.
  bool SaveSettings();
  // Opens `path` with EditorProgram; a failure to start it is shown as a
  // system error and changes nothing else.
  void OpenInNotepad(const std::string& path);
  // Asks for a directory titled `title`, opening on `dir`; on confirmation
  // sets `dir` and returns true, on cancel leaves it and returns false.
  bool BrowseForFolder(const QString& title, std::string& dir);

  // Event handlers, connected to the controls.
  void FormCreate();
  // Stops generation (saving the day when it was generating) and writes the
  // settings; returns false, after showing why, when the settings could not
  // be written: the window then stays open.
  bool FormCloseQuery();
  void BtnStartStopClick();
  void BtnExitClick();
  void EdOutDirChange();
  void BtnBrowseDirClick();
  void BtnNotepadClick();
  void TmrMainTimer();

  GenerationCycle& Cycle() { return cycle_; }
  const std::string& IniFileName() const { return ini_file_name_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void SetUpControls();
  // Starts generation; when another writer holds the output directory, shows
  // why and leaves generation stopped.
  void StartGeneration();
  // Says why generation did not start by itself: on stderr, and for a
  // directory the settings name but that cannot be used, in a message once
  // the event loop runs (the window is up then, and a test has put its own
  // ShowError in place).
  void ReportNotStarted();

  std::string ini_file_name_;
  GenerationQTimer TmrMain;
  GenerationCycle cycle_;
  // Editors started and not yet reaped; the reaper polls them while any run.
  std::vector<pid_t> editors_;
  QTimer reaper_;
};

}  // namespace tly

#endif  // TLY_GUI_TMAINWND_H_
