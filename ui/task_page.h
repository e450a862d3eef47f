// The Tasks page: the task grid over the task table with its drawing, editors and tooltips, and
// the buttons "Analyze", "Reset", "Add task" and "Delete task".
#pragma once

#include <QPixmap>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "tasks/task_table.h"

class QAction;
class QMenu;
class QPushButton;
class QTableView;

namespace veskor {

class TaskTableModel;

// The entries of the Algorithm drop-down list, in their order.
inline constexpr const char* kAlgorithmChoices[] = {
    "XOR8",    "ADD8",    "SUB8",    "NONE",  "LOCAL",   "XOR8W",   "ADD8W", "SUB8W", "NONEW",
    "XOR8ROL", "ADD8ROL", "ROL8ADD", "XOR8N", "XOR8INC", "XOR8DEC", "XORK",  "ANY"};

// GridImages: the five 16 x 16 pictures of the status and link cells.
inline constexpr int kGridImageCount = 5;
inline constexpr int kGridImageSize = 16;
// Picture `value`, rendered for a device pixel ratio; a null pixmap when the value names no
// picture (below 0, or 5 and above).
QPixmap GridImage(int value, qreal device_pixel_ratio = 1.0);

// The selected row's cell colour: each channel one quarter highlight, three quarters cell
// colour, rounded.
QColor SelectedCellColor(const QColor& highlight, const QColor& cell);

// Draws every cell of the grid by its column's kind and gives the editors and tooltips.
class TaskGridDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit TaskGridDelegate(QObject* parent = nullptr);

  // The Preset drop-down entries, replaced whole.
  void SetPresetChoices(QStringList choices) { preset_choices_ = std::move(choices); }
  const QStringList& preset_choices() const { return preset_choices_; }

  // The tooltip of the cell at option.rect in option.fontMetrics: why the row did not run on
  // its status picture, the count in words on the Result cell of a row that has one, the whole
  // text of a text cell whose text does not fit, the LogPath of a link cell that has one, empty
  // otherwise.
  QString ToolTip(const QStyleOptionViewItem& option, const QModelIndex& index) const;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  // A combo box of the fixed entries for Algorithm, of the preset choices for Preset (neither
  // editable), a line edit for Key; nothing for the other columns.
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  // A combo box writes only an entry the user picked: a text that is not among the entries
  // stays in the cell.
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const override;

 protected:
  // A click anywhere in the check-box cell, or Space on it, toggles the box.
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;

 private:
  QStringList preset_choices_;
};

// The page `TaskSheet`, 444 x 263: `TaskGrid` and the four buttons below it. The grid's selection
// and the table's selected row follow each other; header clicks sort the table. A double click
// on a Result cell, or "Show results" in a row's context menu (`TaskMenu`), asks for the row's
// Results window when its results are kept.
class TaskPage : public QWidget {
  Q_OBJECT

 public:
  // The table must outlive the page; the page's model becomes the table's observer.
  explicit TaskPage(TaskTable& table, QWidget* parent = nullptr);

  // The Preset drop-down entries as 8-bit texts in PresetList order, replaced whole.
  void SetPresetChoices(const std::vector<std::string>& names_8bit);
  // What "Add task" and "Reset" put into the preset cell (the first preset's name, 8-bit).
  // Until set, the empty text.
  void SetFirstPresetName(std::function<std::string()> first);

  QTableView* grid() const { return grid_; }
  QPushButton* analyze_button() const { return btn_analyze_; }
  // The page's part of the run controls: Add task, Delete task and Reset are disabled while a
  // run lasts (in this order) and enabled after it; the grid is handled by the window.
  void SetRunControls(bool enabled);
  TaskTableModel* model() const { return model_; }
  TaskGridDelegate* delegate() const { return delegate_; }

 public slots:
  void btnAddTaskClick();
  // Shows "List index out of bounds (%d)" in the error box when the selection names no row.
  void btnDelTaskClick();
  void btnResetClick();

 signals:
  // TaskGridCellClick: a click on a cell of the grid.
  void CellClicked(int column, int row);
  // The Results window of the row is wanted.
  void ResultsRequested(int row);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceChildren();
  void SetUpGrid();
  // Moves the grid's current row to the table's selected row, or clears it when none.
  void ShowSelection();
  void TakeSelection(int row);
  void SortBy(int column);
  void ShowSortIndicator();
  bool HasResults(int row) const;
  // The row's context menu at `pos` of the grid's viewport.
  void ShowRowMenu(const QPoint& pos);

  TaskTable& table_;
  TaskTableModel* model_;
  TaskGridDelegate* delegate_;
  QTableView* grid_;
  QPushButton* btn_analyze_;
  QPushButton* btn_reset_;
  QPushButton* btn_add_task_;
  QPushButton* btn_del_task_;
  QMenu* row_menu_;
  QAction* act_show_results_;
  std::function<std::string()> first_preset_name_;
  // Above zero while the model changes rows or the grid is being moved to the table's
  // selection: the grid's own current-row moves then do not select in the table.
  int quiet_selection_ = 0;
};

}  // namespace veskor
