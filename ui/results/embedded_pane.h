// The executables hidden in a row's input under the row's keys: found on a worker thread when the
// Results window opens, listed above the strings (format, offset, size, key), each saved decoded.
#pragma once

#include <QWidget>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "engine/carve/executable_finder.h"
#include "ui/results/row_results.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace veskor {

class DecodedSave;

class EmbeddedPane : public QWidget {
  Q_OBJECT

 public:
  enum class State { kSearching, kDone, kChanged, kCannotRead };

  EmbeddedPane(std::shared_ptr<const RowResult> result, QWidget* parent);
  ~EmbeddedPane() override;  // stops the search and waits for it

  State state() const { return state_; }
  const std::vector<FoundExecutable>& found() const { return found_; }
  // "Save decoded file...": the selected executable, decoded, to a file the user names.
  void SaveSelected();

 signals:
  // The search has ended (state() says how), or a save has.
  void Changed();

 private:
  void Show(State state, std::vector<FoundExecutable> found);
  void ShowState();

  std::shared_ptr<const RowResult> result_;
  State state_ = State::kSearching;
  std::vector<FoundExecutable> found_;
  std::atomic<bool> cancel_{false};
  std::thread worker_;
  DecodedSave* save_ = nullptr;
  QString note_;

  QLabel* lbEmbedded_ = nullptr;
  QTableWidget* grid_ = nullptr;
  QPushButton* btnSaveEmbedded_ = nullptr;
};

}  // namespace veskor
