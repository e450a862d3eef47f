// The key list's order: each column's own comparison, ties in the ranking's order.
#include "ui/results/key_list_view.h"

#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <algorithm>

#include "ui/results/key_match_pane.h"
#include "ui/results/key_rank_model.h"

namespace veskor {
namespace {

// A cell's words as a number when they are one ("1,234", "435.97"), for columns this list does
// not know by name.
bool AsNumber(const QVariant& value, double* number) {
  QString text = value.toString();
  text.remove(QLatin1Char(','));
  bool ok = false;
  *number = text.toDouble(&ok);
  return ok;
}

// Sorts the keys as well as leaving out those without matches: one model over the key list, so
// that its rows are the ranks that the comparison reads.
class KeySortModel : public KeyMatchFilter {
 public:
  KeySortModel(KeyRankModel* keys, std::shared_ptr<const RowResult> result, QObject* parent)
      : KeyMatchFilter(keys, parent), keys_(keys), result_(std::move(result)) {}

  // Numbers are read from the highest first: the first click on Score shows the ranking.
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation == Qt::Horizontal && role == Qt::InitialSortOrderRole) {
      const KeyRankModel::Column column = keys_->ColumnAt(section);
      const bool words = column == KeyRankModel::kAlgorithmColumn ||
                         column == KeyRankModel::kKeyColumn || column == KeyRankModel::kBestColumn;
      return static_cast<int>(words ? Qt::AscendingOrder : Qt::DescendingOrder);
    }
    return QSortFilterProxyModel::headerData(section, orientation, role);
  }

 protected:
  // Source rows are ranks: row 0 is the best key.
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override {
    const int left_rank = left.row();
    const int right_rank = right.row();
    const int left_key = keys_->KeyAt(left_rank);
    const int right_key = keys_->KeyAt(right_rank);
    // A higher rank is a greater score, so that the ranking is the order from the highest.
    const bool by_rank = left_rank > right_rank;
    switch (keys_->ColumnAt(left.column())) {
      case KeyRankModel::kScoreColumn:
        return by_rank;
      case KeyRankModel::kKeyColumn:
        if (left_key != right_key) return left_key < right_key;
        return by_rank;
      case KeyRankModel::kStringsColumn: {
        const uint64_t left_count = (*result_->summary)[left_key].Count();
        const uint64_t right_count = (*result_->summary)[right_key].Count();
        if (left_count != right_count) return left_count < right_count;
        return by_rank;
      }
      default:
        break;
    }
    const QVariant left_value = left.data();
    const QVariant right_value = right.data();
    double left_number = 0;
    double right_number = 0;
    if (AsNumber(left_value, &left_number) && AsNumber(right_value, &right_number)) {
      if (left_number != right_number) return left_number < right_number;
      return by_rank;
    }
    const int order = left_value.toString().compare(right_value.toString(), Qt::CaseInsensitive);
    if (order != 0) return order < 0;
    return by_rank;
  }

 private:
  KeyRankModel* keys_;
  std::shared_ptr<const RowResult> result_;
};

}  // namespace

KeyListView::KeyListView(KeyRankModel* keys, std::shared_ptr<const RowResult> result,
                         QWidget* parent)
    : QTableView(parent), keys_(keys), sorted_(new KeySortModel(keys, std::move(result), this)) {
  setModel(sorted_);
  // Tab goes on to the filter rather than walking the cells of the selected row.
  setTabKeyNavigation(false);
  horizontalHeader()->setSortIndicator(ScoreSection(), Qt::DescendingOrder);
  setSortingEnabled(true);
  // A new order keeps the selected key in sight.
  connect(horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
          [this] { scrollTo(currentIndex()); });
}

int KeyListView::KeyAt(int row) const {
  if (row < 0 || row >= sorted_->rowCount()) return -1;
  return keys_->KeyAt(sorted_->mapToSource(sorted_->index(row, 0)).row());
}

int KeyListView::RowOf(int key) const {
  const int rank = keys_->RowOf(key);
  if (rank < 0) return -1;
  return sorted_->mapFromSource(keys_->index(rank, 0)).row();
}

int KeyListView::ScoreSection() const { return KeyRankModel::kScoreColumn - keys_->ColumnAt(0); }

QModelIndex KeyListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  // A list of whole rows: Home and End go to the first and the last key, not along the row.
  const int rows = model()->rowCount();
  if (rows > 0 && (action == MoveHome || action == MoveEnd)) {
    const int column = std::max(currentIndex().column(), 0);
    return model()->index(action == MoveHome ? 0 : rows - 1, column);
  }
  return QTableView::moveCursor(action, modifiers);
}

}  // namespace veskor
