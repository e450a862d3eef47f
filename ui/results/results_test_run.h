// The run the Results window's tests start from: an input file, the starter presets and a task
// grid in the test's folder, and the window over that folder with "Analyze" clicked; and what
// every such test holds around each test function.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/search/scan_context.h"
#include "tasks/table_file.h"
#include "tasks/task_table.h"
#include "ui/desktop.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/main_window.h"
#include "ui/test_files.h"

namespace veskor {

// One row of the grid: an algorithm and its key ("": every key).
struct TestRow {
  const char* algorithm;
  const char* key = "";
  bool checked = true;
};

// Writes `input` as `name` in `folder`, the starter presets (unless the folder has presets
// already) and a grid.cfg of `rows` (each with the preset `preset`), starts `window` anew on the
// folder on its Tasks page and clicks "Analyze" over the file. False, with no window, when a file
// could not be written.
inline bool StartRun(std::unique_ptr<TfrmMain>& window, const QString& folder,
                     const QByteArray& input, const QString& name, const std::vector<TestRow>& rows,
                     const char* preset = "Printable text") {
  window.reset();
  const QString input_path = folder + "/" + name;
  QFile file(input_path);
  if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size()) return false;
  file.close();
  const QString presets = folder + "/presets.dat";
  if (!QFile::exists(presets) && !QFile::copy(VESKOR_STARTER_PRESETS, presets)) return false;
  TaskTable table;
  for (const TestRow& row : rows) {
    table.AddTaskRow(row.checked, kStatusNone, row.algorithm, preset, row.key, 0, "0", kLinkNone);
  }
  SaveTableText(table, QFile::encodeName(folder + "/grid.cfg").toStdString(), u',');
  window = std::make_unique<TfrmMain>(nullptr, folder);
  window->show();
  FindControl<QTabWidget>(window.get(), "tcMain")->setCurrentIndex(kTabTask);
  FindControl<QLineEdit>(window.get(), "edPath")->setText(input_path);
  FindControl<QPushButton>(window.get(), "btnAnalyze")->click();
  return true;
}

// A Results window test: a temporary folder for each test function, the main window of its run,
// the error boxes the window raised and the path a save dialog answers (empty: cancelled). The
// test class's initTestCase, cleanupTestCase, init and cleanup call StartCase, EndCase, StartTest
// and EndTest.
class ResultsTest : public QObject {
 protected:
  void StartCase() {
    ApplyLook(*qApp);
    FillAlgorithms();
    SetMessageBoxSeamForTesting([this](bool error, const QString& text) {
      if (error) errors_ << text;
    });
    SetSaveFileSeamForTesting([this](QWidget*, const QString&) { return save_to_; });
  }
  void EndCase() {
    SetMessageBoxSeamForTesting(nullptr);
    SetSaveFileSeamForTesting(nullptr);
  }
  void StartTest() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    errors_.clear();
    save_to_.clear();
    StopRequested.store(false);
  }
  void EndTest() {
    window_.reset();
    dir_.reset();
  }
  QString InDir(const QString& name) const { return dir_->filePath(name); }

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TfrmMain> window_;
  QStringList errors_;
  QString save_to_;
};

}  // namespace veskor
