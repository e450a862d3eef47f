// The search across every key: the count restarted after each filter change, the Matches
// column, the keys without matches hidden, and the count's progress.
#include "ui/results/key_match_pane.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QTableView>
#include <QTimer>
#include <utility>
#include <vector>

#include "ui/results/key_rank_model.h"
#include "ui/run_texts.h"

namespace veskor {
namespace {

constexpr int kProgressSteps = 1000;

}  // namespace

KeyMatchFilter::KeyMatchFilter(KeyRankModel* keys, QObject* parent)
    : QSortFilterProxyModel(parent), keys_(keys) {
  setSourceModel(keys);
}

void KeyMatchFilter::SetOnlyMatches(bool only) {
  if (only == only_matches_) return;
  only_matches_ = only;
  invalidateRowsFilter();
}

bool KeyMatchFilter::filterAcceptsRow(int source_row, const QModelIndex&) const {
  if (!only_matches_) return true;
  const std::optional<uint64_t> matches = keys_->MatchesAt(source_row);
  return !matches || *matches > 0;
}

KeyMatchPane::KeyMatchPane(std::shared_ptr<const RowResult> result, KeyRankModel* keys,
                           QTableView* grid, KeyMatchFilter* shown, QWidget* parent)
    : QWidget(parent),
      result_(std::move(result)),
      keys_(keys),
      grid_(grid),
      shown_(shown),
      counter_(new KeyMatchCounter(this)),
      pause_(new QTimer(this)) {
  setObjectName("KeyMatches");
  pause_->setSingleShot(true);
  pause_->setInterval(kPauseMilliseconds);

  chkOnlyMatches_ = new QCheckBox(QStringLiteral("Only keys with matches"), this);
  chkOnlyMatches_->setObjectName("chkOnlyMatches");
  chkOnlyMatches_->setToolTip(
      QStringLiteral("Hide the keys none of whose strings pass the filter"));
  lbMatches_ = new QLabel(this);
  lbMatches_->setObjectName("lbMatches");
  barMatches_ = new QProgressBar(this);
  barMatches_->setObjectName("barMatches");
  barMatches_->setRange(0, kProgressSteps);
  barMatches_->setFormat(QStringLiteral("Counting matches: %p%"));
  barMatches_->hide();
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  // The words and the bar beside the check box, away from the strings' count on the right.
  row->addWidget(chkOnlyMatches_);
  row->addSpacing(12);
  row->addWidget(lbMatches_, 1);
  row->addWidget(barMatches_, 1);
  setFocusProxy(chkOnlyMatches_);
  // The row keeps its height when the progress bar comes and goes.
  setMinimumHeight(barMatches_->sizeHint().height());

  connect(chkOnlyMatches_, &QCheckBox::toggled, this,
          [this](bool only) { shown_->SetOnlyMatches(only); });
  connect(shown_, &QAbstractItemModel::rowsRemoved, this, [this] { KeepCurrentSelected(); });
  connect(pause_, &QTimer::timeout, this, [this] { StartCount(); });
  connect(counter_, &KeyMatchCounter::Counted, this, [this](int key, quint64 count) {
    keys_->SetMatches(key, count);
    // Only a key without matches leaves the list.
    if (count == 0) shown_->Refilter();
  });
  connect(counter_, &KeyMatchCounter::Progressed, this, &KeyMatchPane::ShowProgress);
  connect(counter_, &KeyMatchCounter::Finished, this, &KeyMatchPane::ShowOutcome);
}

int KeyMatchPane::KeyAt(const QModelIndex& index) const {
  return keys_->KeyAt(shown_->mapToSource(index).row());
}

QModelIndex KeyMatchPane::IndexOf(int key) const {
  const int row = keys_->RowOf(key);
  return row < 0 ? QModelIndex() : shown_->mapFromSource(keys_->index(row, 0));
}

bool KeyMatchPane::counting() const { return pause_->isActive() || counter_->running(); }

void KeyMatchPane::Search(const QString& text, bool expression, KeyMatchCounter::Filter filter) {
  // A new key selected keeps the filter: its count stands.
  if (text == text_ && expression == expression_) return;
  text_ = text;
  expression_ = expression;
  filter_ = std::move(filter);
  counter_->Stop();
  lbMatches_->clear();
  if (!filter_) {
    pause_->stop();
    barMatches_->hide();
    lbMatches_->show();
    keys_->ClearMatches();
  } else {
    // Each key press stops the count at once; the next starts when the typing pauses.
    pause_->start();
    ShowProgress(0);
    keys_->AwaitMatches();
  }
  shown_->Refilter();
}

void KeyMatchPane::StartCount() {
  std::vector<int> keys;
  keys.reserve(static_cast<size_t>(keys_->rowCount()));
  for (int row = 0; row < keys_->rowCount(); ++row) keys.push_back(keys_->KeyAt(row));
  counter_->Start(result_->search, std::move(keys), filter_);
}

void KeyMatchPane::ShowProgress(double share) {
  barMatches_->setValue(static_cast<int>(share * kProgressSteps));
  lbMatches_->hide();
  barMatches_->show();
}

void KeyMatchPane::ShowOutcome(KeyMatchCounter::Outcome outcome, const QString& message) {
  barMatches_->hide();
  lbMatches_->show();
  keys_->StopAwaiting();
  shown_->Refilter();
  switch (outcome) {
    case KeyMatchCounter::Outcome::kCounted: {
      int with_matches = 0;
      for (int row = 0; row < keys_->rowCount(); ++row) {
        if (keys_->MatchesAt(row).value_or(0) > 0) ++with_matches;
      }
      const QString of_all = GroupedNumber(keys_->rowCount());
      if (with_matches == 0) {
        lbMatches_->setText(QStringLiteral("No key has matches"));
      } else if (with_matches == 1) {
        lbMatches_->setText(QStringLiteral("1 key of %1 has matches").arg(of_all));
      } else {
        lbMatches_->setText(
            QStringLiteral("%1 keys of %2 have matches").arg(GroupedNumber(with_matches), of_all));
      }
      break;
    }
    case KeyMatchCounter::Outcome::kFailed:
      lbMatches_->setText(message);
      break;
    case KeyMatchCounter::Outcome::kChanged:
      lbMatches_->setText(QString::fromUtf8(kChangedMatchesMessage));
      break;
    case KeyMatchCounter::Outcome::kCannotRead:
      lbMatches_->setText(QString::fromUtf8(kCannotReadMatchesMessage));
      break;
  }
}

void KeyMatchPane::KeepCurrentSelected() {
  QItemSelectionModel* selection = grid_->selectionModel();
  const QModelIndex current = selection->currentIndex();
  if (current.isValid() && !selection->isRowSelected(current.row(), QModelIndex())) {
    selection->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
}

}  // namespace veskor
