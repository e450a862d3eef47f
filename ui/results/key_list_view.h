// The Results window's key list: the ranked keys in the order a header click asks for (the
// ranking by default, and again from a click on Score), with Home and End for the first and
// last key and Tab leaving the list for the next control.
#pragma once

#include <QTableView>
#include <memory>

#include "ui/results/row_results.h"

namespace veskor {

class KeyMatchFilter;
class KeyRankModel;

class KeyListView : public QTableView {
  Q_OBJECT

 public:
  // Shows `keys` (the keys of `result`) through a sorting model that the view owns, which also
  // hides the keys without matches on request (shown()).
  KeyListView(KeyRankModel* keys, std::shared_ptr<const RowResult> result, QWidget* parent);

  // The key listed at `row` in the shown order, or -1.
  int KeyAt(int row) const;
  // The shown row of `key`, or -1.
  int RowOf(int key) const;
  // The header section of the Score column.
  int ScoreSection() const;
  // The model between the keys and the view.
  KeyMatchFilter* shown() const { return sorted_; }

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

 private:
  KeyRankModel* keys_;
  KeyMatchFilter* sorted_;
};

}  // namespace veskor
