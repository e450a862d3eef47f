// The task table's Qt item model: the table's notices turned into the model's signals.
#include "ui/task_table_model.h"

#include <QFile>

#include "ui/qt_text.h"
#include "ui/results/row_results.h"
#include "ui/run_texts.h"

namespace veskor {
namespace {

bool IsTextColumn(int column) { return ColumnKind(column) == CellKind::kText; }

bool IsUserTextColumn(int column) {
  return column == NxAlgoColumn || column == NxPresetColumn || column == NxKeyColumn;
}

// The Result cell's count in words, for a row that finished or was stopped, and the best keys
// of its kept results; empty otherwise.
QString CountText(const TaskTable& table, const RowResults* results, int row) {
  const int32_t status = table.WholeNumber(NxImageColumn, row);
  if (status != kStatusDone && status != kStatusStopped) return QString();
  bool is_number = false;
  const qlonglong count = FromU16(table.Text(NxResultColumn, row)).toLongLong(&is_number);
  if (!is_number || count < 0) return QString();
  QString text = StringCountText(count);
  if (const auto result = results ? results->Find(table, row) : nullptr) {
    const QString best = BestKeysText(*result);
    if (!best.isEmpty()) text += QStringLiteral("; ") + best;
  }
  return text;
}

const char* const kHeaders[kTaskColumnCount] = {"",    "",         "Algorithm", "Preset",
                                                "Key", "Progress", "Result",    ""};

}  // namespace

TaskTableModel::TaskTableModel(TaskTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {
  table_.SetObserver(this);
}

TaskTableModel::~TaskTableModel() { table_.SetObserver(nullptr); }

int TaskTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : table_.RowCount();
}

int TaskTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kTaskColumnCount;
}

QVariant TaskTableModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  const int column = index.column();
  const int row = index.row();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return FromU16(table_.CellText(column, row));
    case Qt::CheckStateRole:
      if (column != NxUseColumn) return {};
      return table_.Checked(row) ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole:
      if (column == NxImageColumn && !table_.Reason(row).empty()) {
        return QString::fromStdString(table_.Reason(row));
      }
      if (column == NxResultColumn) {
        const QString count = CountText(table_, results_, row);
        if (!count.isEmpty()) return count;
      }
      if (IsTextColumn(column)) {
        const std::u16string& text = table_.Text(column, row);
        if (!text.empty()) return FromU16(text);
      } else if (column == NxGotoColumn && !table_.LogPath(row).empty()) {
        return QFile::decodeName(QByteArray::fromStdString(table_.LogPath(row)));
      }
      return {};
    case kPictureRole:
      if (column != NxImageColumn && column != NxGotoColumn) return {};
      return table_.WholeNumber(column, row);
    case kProgressRole:
      if (column != NxProgressColumn) return {};
      return table_.Progress(row);
    case kLogPathRole:
      if (column != NxGotoColumn) return {};
      return QFile::decodeName(QByteArray::fromStdString(table_.LogPath(row)));
    case kCountRole:
      if (column != NxResultColumn) return {};
      return CountText(table_, results_, row);
    case kHasResultsRole:
      return results_ != nullptr && results_->Find(table_, row) != nullptr;
    default:
      return {};
  }
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
      section < kTaskColumnCount) {
    return QString::fromLatin1(kHeaders[section]);
  }
  return QAbstractTableModel::headerData(section, orientation, role);
}

bool TaskTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return false;
  }
  const int column = index.column();
  if (column == NxUseColumn && role == Qt::CheckStateRole) {
    // The table's CellChanged notice emits dataChanged.
    table_.SetChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
  }
  if (IsUserTextColumn(column) && role == Qt::EditRole) {
    table_.SetText(column, index.row(), ToU16(value.toString()));
    return true;
  }
  return false;
}

Qt::ItemFlags TaskTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == NxUseColumn) flags |= Qt::ItemIsUserCheckable;
  if (IsUserTextColumn(index.column())) flags |= Qt::ItemIsEditable;
  return flags;
}

void TaskTableModel::BeginReset() { beginResetModel(); }
void TaskTableModel::EndReset() { endResetModel(); }
void TaskTableModel::BeginInsertRow(int row) { beginInsertRows(QModelIndex(), row, row); }
void TaskTableModel::EndInsertRow() { endInsertRows(); }
void TaskTableModel::BeginRemoveRow(int row) { beginRemoveRows(QModelIndex(), row, row); }
void TaskTableModel::EndRemoveRow() { endRemoveRows(); }

void TaskTableModel::CellChanged(int column, int row) {
  const QModelIndex cell = index(row, column);
  emit dataChanged(cell, cell);
}

void TaskTableModel::SelectionChanged(int row) { emit SelectedRowChanged(row); }

}  // namespace veskor
