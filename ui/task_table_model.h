// The Qt item model over the task table: eight columns, the cells' text forms, the check box,
// the picture and progress values, and the tooltips, kept in step through TaskTableObserver.
#pragma once

#include <QAbstractTableModel>

#include "tasks/task_table.h"

namespace veskor {

class RowResults;

class TaskTableModel : public QAbstractTableModel, private TaskTableObserver {
  Q_OBJECT

 public:
  // Extra roles for the drawing of the grid.
  enum Role {
    // int: the value of a picture cell (columns 1 and 7).
    kPictureRole = Qt::UserRole + 1,
    // double: the progress cell's per cent (column 5).
    kProgressRole,
    // QString: the row's LogPath decoded from file-system bytes (column 7); empty when none.
    kLogPathRole,
    // QString: the strings a finished or stopped row found, in words ("12,345 strings"; column
    // 6), followed by its best keys when its results are kept ("12,345 strings; best keys 90
    // (0x5A), 122 (0x7A)"); empty for a row that has no count.
    kCountRole,
    // bool: the row's last results are kept, so that its Results window can open (any column).
    kHasResultsRole,
  };

  // Becomes the table's observer until destroyed; the table must outlive the model.
  explicit TaskTableModel(TaskTable& table, QObject* parent = nullptr);
  ~TaskTableModel() override;

  TaskTable& table() const { return table_; }
  // The rows' kept results (not owned; null for none).
  void SetRowResults(const RowResults* results) { results_ = results; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // DisplayRole and EditRole: the cell's text form. CheckStateRole: column 0. ToolTipRole: why
  // the row did not run on column 1, the count in words on column 6 when it has one, the whole
  // text of a text column (the view decides whether it fits), LogPath on column 7.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // The check box (CheckStateRole) and the Algorithm, Preset and Key texts (EditRole) go into
  // the table; every other cell refuses.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // The table's selected-row index changed; it may name no row (-1, or 0 in an empty table).
  void SelectedRowChanged(int row);

 private:
  void BeginReset() override;
  void EndReset() override;
  void BeginInsertRow(int row) override;
  void EndInsertRow() override;
  void BeginRemoveRow(int row) override;
  void EndRemoveRow() override;
  void CellChanged(int column, int row) override;
  void SelectionChanged(int row) override;

  TaskTable& table_;
  const RowResults* results_ = nullptr;
};

}  // namespace veskor
