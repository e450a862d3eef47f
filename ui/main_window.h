// TfrmMain: the program's one window, with the path line, the Tasks, Options and Presets pages
// and the status bar. It owns the task table and the preset list that its pages show, loads and
// saves the program files, takes the input path and drives the analysis run.
#pragma once

#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "presets/preset_list.h"
#include "tasks/task_table.h"
#include "ui/results/row_results.h"

class QCloseEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class QStatusBar;
class QTabWidget;
class QToolButton;

namespace veskor {

class PresetPage;
class ProgramFiles;
class ResultsWindow;
class TaskPage;
struct RequestRow;
struct RowOutcome;

// The tab indexes of tcMain, left to right.
inline constexpr int kTabTask = 0;
inline constexpr int kTabOptions = 1;
inline constexpr int kTabPreset = 2;

// Fixed content size of the window.
inline constexpr int kMainWindowWidth = 467;
inline constexpr int kMainWindowHeight = 401;

inline constexpr const char* kVersionCaption = "Version: 1.1";
inline constexpr const char* kCreditCaption = "Finds text hidden by one-byte ciphers";

// The captions of btnAnalyze and its `Tag` property: idle 0, running 1.
inline constexpr const char* kAnalyzeCaption = "Analyze";
inline constexpr const char* kStopCaption = "Stop";
inline constexpr const char* kTagProperty = "Tag";

// The box of a second window on a program folder that a window already uses ("%s": the folder).
inline constexpr const char* kAlreadyRunningMessage =
    "Veskor is already running with the files in %s.";
// The row's log link when the desktop has no program for the log (the error box; %1: the path).
inline constexpr const char* kNoLogProgramMessage =
    "The desktop has no program that opens the log\n%1\nOpen it with a program of your choice.";

class TfrmMain : public QWidget {
  Q_OBJECT

 public:
  // Builds the window and runs the start-up sequence: the program files' folder, which it
  // claims for its life, the presets, the algorithm table, the task table, the saved format and
  // its preview, then drops. Each step that fails shows the error box and the later steps still
  // run. `exe_dir` is the folder of the program files (file-system path); empty means the
  // executable's own folder. When another window holds the folder, the sequence stops after
  // the box kAlreadyRunningMessage: nothing is loaded, and refused() tells the caller.
  explicit TfrmMain(QWidget* parent = nullptr, const QString& exe_dir = QString());
  // Does not save: FormDestroy does, once the event loop has ended.
  ~TfrmMain() override;

  TaskTable& tasks() { return tasks_; }
  PresetList& presets() { return presets_; }
  // ExeDir as file-system bytes, ending with "/".
  const std::string& exe_dir() const { return exe_dir_; }
  // The folder the program files are read from and written to (ExeDir, or the user's
  // configuration folder when ExeDir cannot be written); empty when it could not be set up.
  std::string files_dir() const;

  // Shows the text of edFormat applied to the preview's sample values in edExample, or
  // "{ incorrect format }" when the format fails. Runs on every change of edFormat's text.
  void edFormatChange();

  // The shut-down sequence: saves the format, clears the run results, saves the table and the
  // presets (every save is attempted) and shows one error box naming each failure, one per
  // line. Runs once; later calls do nothing.
  void FormDestroy();
  // The same saves, once, when the process ends by exit() with the window still open (Qt ends
  // it so when the display connection is lost): no widget is touched and no box is shown;
  // failures go to standard error.
  void SaveAtExit();

  // Another window holds the program folder: this one loaded nothing, will save nothing and is
  // not to be shown.
  bool refused() const { return refused_; }

  // The existence test: btnAnalyze is enabled exactly when the path names an existing file
  // that is not a folder. While a run lasts the button ("Stop") stays enabled.
  void edPathChange();
  // The browse button: the dialog opens in the folder of edPath's path when that folder exists,
  // and a confirmed file's path becomes the text of edPath.
  void edPathSubEditButton0Click();
  // Idle: runs the checked tasks over the file of edPath. Running: only requests the stop.
  void btnAnalyzeClick();
  // Switches the controls between the idle (true) and the running (false) form.
  void SetRunControls(bool enabled);
  // A click on a task cell: the link column opens the row's log when the file exists.
  void TaskGridCellClick(int column, int row);
  // Puts each dropped name in turn into edPath (the existence test runs for each).
  void TakeDroppedFiles(const QDropEvent& drop);

  // True from the start of a run until its controls have returned to idle (Tag 1).
  bool running() const;

  // The Results window of the row's last run (done or stopped): opened, or raised when it is
  // open already; nothing when the row's results are not kept. Returns the window or null.
  ResultsWindow* ShowResults(int row);
  const RowResults& results() const { return results_; }

  // While a row runs: its progress in words in lbInfo (the algorithm, the key being searched,
  // the strings so far). lbInfo shows its own text again when the row ends.
  void ShowRunProgress(int row, int key, int64_t lines);

 protected:
  // Centres the window on its screen the first time it is shown.
  void showEvent(QShowEvent* event) override;
  // The close request: sets StopRequested; during a run the close waits until the run returns.
  void closeEvent(QCloseEvent* event) override;
  // DropFilesHook: takes the drags and drops of local files meant for any widget of this
  // window, so that no edit inserts the names itself; every other event passes.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class WindowRunHost;

  void FormCreate(const QString& exe_dir);
  void BuildPathLine();
  void BuildPages();
  QWidget* BuildOptionsPage();
  void BuildStatusBar();
  void CentreOnScreen();
  // Keeps a finished row's results, with the key it ran under.
  void KeepResults(const RequestRow& row, const RowOutcome& outcome);
  // Lets go of the results no row names any more, and closes their windows.
  void PruneResults();
  void CloseResultsWindows();
  // A Results window opened with no other open and no place of its own: over this window.
  void CenterResultsWindow(ResultsWindow* window) const;

  // The models come first: the pages hold references to them, and the pages are destroyed in
  // the destructor's body, before the models.
  TaskTable tasks_;
  PresetList presets_;
  std::string exe_dir_;
  std::unique_ptr<ProgramFiles> files_;
  // Idle; running a run; running one with a close request waiting for its end; and idle once
  // more with that close request still to carry out.
  enum class RunState { kIdle, kRunning, kClosing, kCloseDue };
  RunState run_state_ = RunState::kIdle;
  bool destroyed_ = false;
  bool refused_ = false;
  // edFormat's text as 8-bit text, kept on every change for SaveAtExit.
  std::string format_;
  // Each row's last results, in memory only, and the Results windows open on them.
  RowResults results_;
  std::map<const RowResult*, QPointer<ResultsWindow>> results_windows_;
  // The Results windows of earlier runs stay open: the runs are counted to name them, and each
  // new window opens down from the last one opened.
  int runs_ = 0;
  QDateTime run_start_;
  QPointer<ResultsWindow> last_results_window_;

  QLabel* lbFilename_ = nullptr;
  QLineEdit* edPath_ = nullptr;
  QToolButton* edPathButton_ = nullptr;
  QTabWidget* tcMain_ = nullptr;
  TaskPage* task_page_ = nullptr;
  QWidget* options_page_ = nullptr;
  PresetPage* preset_page_ = nullptr;
  QLineEdit* edFormat_ = nullptr;
  QLineEdit* edExample_ = nullptr;
  QStatusBar* status_bar_ = nullptr;
  QLabel* lbInfo_ = nullptr;
  QPushButton* btnAnalyze_ = nullptr;
  bool centred_ = false;
};

}  // namespace veskor
