// TfrmMain: the program's one window, with the path line, the Tasks, Options and Presets pages
// and the status bar. It owns the task table and the preset list that its pages show.
#pragma once

#include <QWidget>

#include "presets/preset_list.h"
#include "tasks/task_table.h"

class QLabel;
class QLineEdit;
class QShowEvent;
class QStatusBar;
class QTabWidget;
class QToolButton;

namespace veskor {

class PresetPage;
class TaskPage;

// The tab indexes of tcMain, left to right.
inline constexpr int kTabTask = 0;
inline constexpr int kTabOptions = 1;
inline constexpr int kTabPreset = 2;

// Fixed content size of the window.
inline constexpr int kMainWindowWidth = 467;
inline constexpr int kMainWindowHeight = 401;

inline constexpr const char* kVersionCaption = "Version: 1.1";
inline constexpr const char* kCreditCaption = "Finds text hidden by one-byte ciphers";

class TfrmMain : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  TaskTable& tasks() { return tasks_; }
  PresetList& presets() { return presets_; }

  // Shows the text of edFormat applied to the preview's sample values in edExample, or
  // "{ incorrect format }" when the format fails. Runs on every change of edFormat's text.
  void edFormatChange();

 protected:
  // Centres the window on its screen the first time it is shown.
  void showEvent(QShowEvent* event) override;

 private:
  void BuildPathLine();
  void BuildPages();
  QWidget* BuildOptionsPage();
  void BuildStatusBar();
  void CentreOnScreen();

  // The models come first: the pages hold references to them, and the pages are destroyed in
  // the destructor's body, before the models.
  TaskTable tasks_;
  PresetList presets_;

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
  bool centred_ = false;
};

}  // namespace veskor
