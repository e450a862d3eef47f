// The Results window's detail pane: one string whole, where it is stored and under which key, and
// the stored bytes around it in hex beside their decoded text, the string's own bytes marked.
#pragma once

#include <QWidget>
#include <cstdint>

#include "ui/results/row_results.h"

class QLabel;
class QPlainTextEdit;

namespace veskor {

class StringDetailPane : public QWidget {
  Q_OBJECT

 public:
  // Characters of a string shown whole; a longer one shows its beginning and says so.
  static constexpr uint64_t kShownCharacters = 100'000;

  explicit StringDetailPane(QWidget* parent = nullptr);

  // Shows the string of `length` characters at `position` of `key` (a key the row's summary
  // lists), read again from the input, which must still be the file the run read.
  void ShowString(const RowResult& result, int key, uint64_t position, uint64_t length);
  // Shows no string.
  void Clear();

 private:
  // Says `message` in place of a string.
  void ShowMessage(const QString& message);

  QLabel* lbDetail_ = nullptr;
  QPlainTextEdit* edDetailText_ = nullptr;
  QPlainTextEdit* edDetailBytes_ = nullptr;
};

}  // namespace veskor
