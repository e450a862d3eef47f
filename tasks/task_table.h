// The task table model: rows of tasks with eight typed cells, their text forms, the default
// tasks, the buttons' operations and sorting. Views observe it through TaskTableObserver.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veskor {

enum TaskColumn : int {
  NxUseColumn = 0,
  NxImageColumn,
  NxAlgoColumn,
  NxPresetColumn,
  NxKeyColumn,
  NxProgressColumn,
  NxResultColumn,
  NxGotoColumn,
};
constexpr int kTaskColumnCount = 8;

enum class CellKind { kCheckBox, kWholeNumber, kNumber, kText };
// The kind of a column in 0..7; std::out_of_range for any other column.
CellKind ColumnKind(int column);

// Values of the two picture columns.
inline constexpr int32_t kStatusNone = -1;  // not run since the last reset
inline constexpr int32_t kStatusRunning = 0;
inline constexpr int32_t kStatusDone = 1;
inline constexpr int32_t kStatusStopped = 3;
// The row did not run (no decoder, no such preset, an input that could not be read, an error
// that ended the run); the row's reason says why.
inline constexpr int32_t kStatusNotRun = 4;
inline constexpr int32_t kLinkNone = -1;
inline constexpr int32_t kLinkOpen = 2;  // the row's log can be opened
inline constexpr std::string_view kResetResultText = "0";

struct TaskRow {
  bool use = false;   // NxUseColumn
  int32_t image = 0;  // NxImageColumn: the status picture
  std::u16string algorithm, preset, key;
  double progress = 0;    // NxProgressColumn: per cent
  std::u16string result;  // NxResultColumn: strings found, as decimal text
  int32_t link = 0;       // NxGotoColumn: the link picture
  std::string log_path;   // kept with NxGotoColumn; file-system bytes; never saved
  std::string reason;     // kept with NxImageColumn: why the row did not run; UTF-8; never saved
};

// Notices for a view; every hook does nothing by default. Begin/End come in pairs around the
// change, so that Begin sees the table before it and End after it.
class TaskTableObserver {
 public:
  virtual ~TaskTableObserver() = default;
  // Around any change of many rows at once: clearing, sorting, a TaskTable::ResetScope.
  virtual void BeginReset() {}
  virtual void EndReset() {}
  virtual void BeginInsertRow(int row) {}
  virtual void EndInsertRow() {}
  virtual void BeginRemoveRow(int row) {}
  virtual void EndRemoveRow() {}
  virtual void CellChanged(int column, int row) {}
  // The selected-row index, which may name no row (-1, or 0 in an empty table).
  virtual void SelectionChanged(int row) {}
};

class TaskTable {
 public:
  // Folds every notice of its lifetime into one BeginReset/EndReset pair (a selection change is
  // announced after EndReset). Scopes nest; EndReset comes also when the batch ends in an error.
  class ResetScope {
   public:
    explicit ResetScope(TaskTable& table);
    ~ResetScope();
    ResetScope(const ResetScope&) = delete;
    ResetScope& operator=(const ResetScope&) = delete;

   private:
    TaskTable& table_;
  };

  int RowCount() const { return static_cast<int>(rows_.size()); }
  static constexpr int ColumnCount() { return kTaskColumnCount; }
  // OutOfBoundsError "List index out of bounds (%d)" outside the rows.
  const TaskRow& Row(int row) const;
  // -1 before any selection and after the last row was deleted; 0 after ClearTasks.
  int SelectedRow() const { return selected_; }
  // The observer is not owned; nullptr detaches.
  void SetObserver(TaskTableObserver* observer) { observer_ = observer; }

  // Appends one row with these cells; the 8-bit texts are converted from Windows-1251. The
  // selection stays.
  void AddTaskRow(bool use, int32_t status, std::string_view algorithm, std::string_view preset,
                  std::string_view key, int32_t progress, std::string_view result, int32_t link);
  // Appends a row of new cells: unchecked, 0, empty texts, progress 0, 0 (the table file's loader).
  void AppendEmptyRow();
  // Appends XOR8, ADD8, SUB8 (unchecked) and NONE with the first preset's name, selects row 0.
  void AddDefaultTasks(std::string_view first_preset_name);
  // Removes every row; the selected-row index becomes 0 although no row exists.
  void ClearTasks();
  // Selects the row when it exists; otherwise does nothing.
  void SelectTask(int index);
  // Resets status, progress, result, link, log path and reason of every row.
  void ResetTaskResults();

  // "Add task": a checked XOR8 row with the first preset's name; the selection stays.
  void AddTask(std::string_view first_preset_name);
  // "Delete task": removes the selected row; the selection stays at its index, or moves to the
  // last row when that index is gone. OutOfBoundsError "List index out of bounds (%d)" with the
  // index, and no change, when the selection names no row.
  void DeleteTask();
  // "Reset": ClearTasks, then AddDefaultTasks.
  void Reset(std::string_view first_preset_name);

  // A header click: the current sorting column reverses its direction, any other column becomes
  // the sorting column with the direction it kept (ascending at first). The sort is stable and
  // the selection follows its row. std::out_of_range for a column outside 0..7.
  void SortByColumn(int column);
  int SortColumn() const { return sort_column_; }  // -1 before the first sort
  bool SortAscending(int column) const;

  // Cell access by (column, row). Outside the columns or rows every access fails with
  // OutOfBoundsError "Cell out of bounds (column, row)"; a typed access to a column of another
  // kind is a programming error (std::invalid_argument). Every setter notifies CellChanged.

  // The text form: "True"/"False", decimal whole numbers, the shortest decimal number, the text.
  std::u16string CellText(int column, int row) const;
  // Reads the text form; a text that a whole-number or number cell cannot take raises a
  // ConversionError and leaves the cell as it was.
  void SetCellText(int column, int row, std::u16string_view text);

  bool Checked(int row) const;
  void SetChecked(int row, bool checked);
  // Columns 2, 3, 4 and 6.
  const std::u16string& Text(int column, int row) const;
  void SetText(int column, int row, std::u16string_view text);
  // Columns 1, 5 and 7; progress reads as its value truncated toward zero.
  int32_t WholeNumber(int column, int row) const;
  void SetWholeNumber(int column, int row, int32_t value);
  double Progress(int row) const;
  const std::string& LogPath(int row) const;
  void SetLogPath(int row, std::string path);
  // Why the row's last run did not run it (the text of the run's message); empty otherwise.
  const std::string& Reason(int row) const;
  void SetReason(int row, std::string reason);

 private:
  void CheckCell(int column, int row) const;
  const TaskRow& CellRow(int column, int row, CellKind kind) const;
  TaskRow& CellRow(int column, int row, CellKind kind);
  void SetProgressValue(int row, double value);
  void SetSelection(int row);

  void BeginBatch();
  void EndBatch();
  bool Quiet() const { return observer_ == nullptr || batch_depth_ > 0; }
  void NotifyCell(int column, int row);

  std::vector<TaskRow> rows_;
  int selected_ = -1;
  int sort_column_ = -1;
  std::array<bool, kTaskColumnCount> ascending_ = {true, true, true, true, true, true, true, true};
  TaskTableObserver* observer_ = nullptr;
  int batch_depth_ = 0;
  bool selection_pending_ = false;
};

}  // namespace veskor
