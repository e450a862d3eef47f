// The Results window's search across every key: the filter's matches counted for each key on a
// thread of their own into the key list's Matches column, the keys without matches hidden on
// request, and the count's progress under the key list.
#pragma once

#include <QSortFilterProxyModel>
#include <QString>
#include <QWidget>
#include <memory>

#include "ui/results/key_match_counter.h"
#include "ui/results/row_results.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QTableView;
class QTimer;

namespace veskor {

class KeyRankModel;

// The key list as the grid shows it: with "Only keys with matches", without the keys whose
// count found none (a key not yet counted stays).
class KeyMatchFilter : public QSortFilterProxyModel {
 public:
  explicit KeyMatchFilter(KeyRankModel* keys, QObject* parent = nullptr);
  void SetOnlyMatches(bool only);
  // After a change of the counts.
  void Refilter() { invalidateRowsFilter(); }

 protected:
  bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;

 private:
  KeyRankModel* keys_;
  bool only_matches_ = false;
};

// What the count says in place of its figures when the file is not the run's any more: the
// strings' pane says what changed.
inline constexpr const char* kChangedMatchesMessage =
    "The file has changed since the run, so the matches cannot be counted";
inline constexpr const char* kCannotReadMatchesMessage =
    "The file can no longer be read, so the matches cannot be counted";

class KeyMatchPane : public QWidget {
  Q_OBJECT

 public:
  // A filter change waits this long for the next key press before the count starts again.
  static constexpr int kPauseMilliseconds = 200;

  // `grid` shows `keys` through `shown`, which the pane tells to hide the keys without matches.
  KeyMatchPane(std::shared_ptr<const RowResult> result, KeyRankModel* keys, QTableView* grid,
               KeyMatchFilter* shown, QWidget* parent);

  // The key at an index of the grid, or -1; the grid's index of a key, invalid when it is not
  // listed.
  int KeyAt(const QModelIndex& index) const;
  QModelIndex IndexOf(int key) const;
  // The strings' filter as the user set it; `filter` is null when it keeps every string (empty
  // text) or cannot be used (an expression that does not compile). A filter other than the
  // last is counted again, after a pause for the next key press.
  void Search(const QString& text, bool expression, KeyMatchCounter::Filter filter);
  // A count is waiting for its pause to end or under way.
  bool counting() const;

 private:
  void StartCount();
  void ShowProgress(double share);
  void ShowOutcome(KeyMatchCounter::Outcome outcome, const QString& message);
  // Keys hidden under the current row leave the row above current: it is selected as well.
  void KeepCurrentSelected();

  std::shared_ptr<const RowResult> result_;
  KeyRankModel* keys_;
  QTableView* grid_;
  KeyMatchFilter* shown_;
  KeyMatchCounter* counter_;
  QTimer* pause_;
  QString text_;
  bool expression_ = false;
  KeyMatchCounter::Filter filter_;

  QCheckBox* chkOnlyMatches_ = nullptr;
  QLabel* lbMatches_ = nullptr;
  QProgressBar* barMatches_ = nullptr;
};

}  // namespace veskor
