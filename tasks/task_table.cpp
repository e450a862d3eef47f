// The task table model: its operations, the cells' text forms, sorting and the notices.
#include "tasks/task_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "tasks/task_messages.h"
#include "text/cp1251.h"
#include "text/error.h"
#include "text/integer_syntax.h"

namespace veskor {

namespace {

struct DefaultTask {
  bool use;
  std::string_view algorithm;
};
constexpr DefaultTask kDefaultTasks[] = {
    {true, "XOR8"}, {true, "ADD8"}, {false, "SUB8"}, {true, "NONE"}};
constexpr std::string_view kNewTaskAlgorithm = "XOR8";

constexpr std::u16string_view kTrueText = u"True";
constexpr std::u16string_view kFalseText = u"False";

[[noreturn]] void ThrowCellOutOfBounds(int column, int row) {
  throw OutOfBoundsError(
      Substitute(Substitute(kCellOutOfBoundsMessage, std::to_string(column)), std::to_string(row)));
}

// Only A-Z are lowered: "TRUE" is checked, a Cyrillic look-alike is not.
bool IsTrueText(std::u16string_view text) {
  if (text.size() != 4) return false;
  std::u16string lowered(text);
  for (char16_t& c : lowered) {
    if (c >= u'A' && c <= u'Z') c = c - u'A' + u'a';
  }
  return lowered == u"true";
}

// A decimal number with '.', independent of any locale; an optional '+' is allowed as '-' is.
std::optional<double> ParseNumber(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) return std::nullopt;
  }
  double value = 0;
  const char* end = digits.data() + digits.size();
  auto [stop, error] = std::from_chars(digits.data(), end, value, std::chars_format::general);
  if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::u16string NumberText(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return Cp1251ToUtf16(std::string_view(buffer, result.ptr - buffer));
}

int32_t WholeNumberField(const TaskRow& row, int column) {
  return column == NxImageColumn ? row.image : row.link;
}

const std::u16string& TextField(const TaskRow& row, int column) {
  switch (column) {
    case NxAlgoColumn:
      return row.algorithm;
    case NxPresetColumn:
      return row.preset;
    case NxKeyColumn:
      return row.key;
    default:
      return row.result;
  }
}

std::u16string& TextField(TaskRow& row, int column) {
  return const_cast<std::u16string&>(TextField(std::as_const(row), column));
}

// The header-click order of one column, ascending.
bool CellLess(const TaskRow& a, const TaskRow& b, int column) {
  switch (column) {
    case NxUseColumn:
      return a.use < b.use;
    case NxImageColumn:
      return a.image < b.image;
    case NxProgressColumn:
      return a.progress < b.progress;
    case NxGotoColumn:
      return a.link < b.link;
    default:  // code unit by code unit, letter case counting
      return TextField(a, column) < TextField(b, column);
  }
}

}  // namespace

CellKind ColumnKind(int column) {
  switch (column) {
    case NxUseColumn:
      return CellKind::kCheckBox;
    case NxImageColumn:
    case NxGotoColumn:
      return CellKind::kWholeNumber;
    case NxProgressColumn:
      return CellKind::kNumber;
    case NxAlgoColumn:
    case NxPresetColumn:
    case NxKeyColumn:
    case NxResultColumn:
      return CellKind::kText;
  }
  throw std::out_of_range("no task column " + std::to_string(column));
}

// --- Notices -------------------------------------------------------------------------------

TaskTable::ResetScope::ResetScope(TaskTable& table) : table_(table) { table_.BeginBatch(); }
TaskTable::ResetScope::~ResetScope() { table_.EndBatch(); }

void TaskTable::BeginBatch() {
  if (batch_depth_++ == 0 && observer_) observer_->BeginReset();
}

void TaskTable::EndBatch() {
  if (--batch_depth_ > 0) return;
  if (observer_) observer_->EndReset();
  if (selection_pending_) {
    selection_pending_ = false;
    if (observer_) observer_->SelectionChanged(selected_);
  }
}

void TaskTable::NotifyCell(int column, int row) {
  if (!Quiet()) observer_->CellChanged(column, row);
}

void TaskTable::SetSelection(int row) {
  selected_ = row;
  if (batch_depth_ > 0) {
    selection_pending_ = true;
  } else if (observer_) {
    observer_->SelectionChanged(row);
  }
}

// --- Rows ----------------------------------------------------------------------------------

const TaskRow& TaskTable::Row(int row) const {
  if (row < 0 || row >= RowCount()) {
    throw OutOfBoundsError(Substitute(kListIndexOutOfBoundsMessage, std::to_string(row)));
  }
  return rows_[row];
}

void TaskTable::AddTaskRow(bool use, int32_t status, std::string_view algorithm,
                           std::string_view preset, std::string_view key, int32_t progress,
                           std::string_view result, int32_t link) {
  TaskRow row;
  row.use = use;
  row.image = status;
  row.algorithm = Cp1251ToUtf16(algorithm);
  row.preset = Cp1251ToUtf16(preset);
  row.key = Cp1251ToUtf16(key);
  row.progress = progress;
  row.result = Cp1251ToUtf16(result);
  row.link = link;
  if (!Quiet()) observer_->BeginInsertRow(RowCount());
  rows_.push_back(std::move(row));
  if (!Quiet()) observer_->EndInsertRow();
}

void TaskTable::AppendEmptyRow() {
  if (!Quiet()) observer_->BeginInsertRow(RowCount());
  rows_.emplace_back();
  if (!Quiet()) observer_->EndInsertRow();
}

void TaskTable::AddDefaultTasks(std::string_view first_preset_name) {
  for (const DefaultTask& task : kDefaultTasks) {
    AddTaskRow(task.use, kStatusNone, task.algorithm, first_preset_name, "", 0, kResetResultText,
               kLinkNone);
  }
  SelectTask(0);
}

void TaskTable::ClearTasks() {
  ResetScope scope(*this);
  rows_.clear();
  SetSelection(0);
}

void TaskTable::SelectTask(int index) {
  if (index >= 0 && index < RowCount()) SetSelection(index);
}

void TaskTable::ResetTaskResults() {
  for (int row = 0; row < RowCount(); ++row) {
    SetWholeNumber(NxImageColumn, row, kStatusNone);
    SetWholeNumber(NxProgressColumn, row, 0);
    SetText(NxResultColumn, row, Cp1251ToUtf16(kResetResultText));
    SetWholeNumber(NxGotoColumn, row, kLinkNone);
    SetLogPath(row, std::string());
    SetReason(row, std::string());
  }
}

void TaskTable::AddTask(std::string_view first_preset_name) {
  AddTaskRow(true, kStatusNone, kNewTaskAlgorithm, first_preset_name, "", 0, kResetResultText,
             kLinkNone);
}

void TaskTable::DeleteTask() {
  const int row = selected_;
  if (row < 0 || row >= RowCount()) {
    throw OutOfBoundsError(Substitute(kListIndexOutOfBoundsMessage, std::to_string(row)));
  }
  if (!Quiet()) observer_->BeginRemoveRow(row);
  rows_.erase(rows_.begin() + row);
  if (!Quiet()) observer_->EndRemoveRow();
  // Announced also when the index stays: it now names the row that followed the deleted one.
  SetSelection(row < RowCount() ? row : RowCount() - 1);
}

void TaskTable::Reset(std::string_view first_preset_name) {
  ClearTasks();
  AddDefaultTasks(first_preset_name);
}

// --- Sorting -------------------------------------------------------------------------------

void TaskTable::SortByColumn(int column) {
  ColumnKind(column);  // refuses a column outside the table
  if (column == sort_column_) {
    ascending_[column] = !ascending_[column];
  } else {
    sort_column_ = column;
  }
  const bool ascending = ascending_[column];
  std::vector<int> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return ascending ? CellLess(rows_[a], rows_[b], column) : CellLess(rows_[b], rows_[a], column);
  });

  ResetScope scope(*this);
  std::vector<TaskRow> sorted;
  sorted.reserve(rows_.size());
  int selected = selected_;
  for (int i = 0; i < static_cast<int>(order.size()); ++i) {
    if (order[i] == selected_) selected = i;
    sorted.push_back(std::move(rows_[order[i]]));
  }
  rows_ = std::move(sorted);
  if (selected != selected_) SetSelection(selected);
}

bool TaskTable::SortAscending(int column) const {
  ColumnKind(column);
  return ascending_[column];
}

// --- Cells ---------------------------------------------------------------------------------

void TaskTable::CheckCell(int column, int row) const {
  if (column < 0 || column >= kTaskColumnCount || row < 0 || row >= RowCount()) {
    ThrowCellOutOfBounds(column, row);
  }
}

const TaskRow& TaskTable::CellRow(int column, int row, CellKind kind) const {
  CheckCell(column, row);
  if (ColumnKind(column) != kind &&
      !(kind == CellKind::kWholeNumber && column == NxProgressColumn)) {
    throw std::invalid_argument("task column " + std::to_string(column) + " is of another kind");
  }
  return rows_[row];
}

TaskRow& TaskTable::CellRow(int column, int row, CellKind kind) {
  return const_cast<TaskRow&>(std::as_const(*this).CellRow(column, row, kind));
}

std::u16string TaskTable::CellText(int column, int row) const {
  CheckCell(column, row);
  const TaskRow& cells = rows_[row];
  switch (ColumnKind(column)) {
    case CellKind::kCheckBox:
      return std::u16string(cells.use ? kTrueText : kFalseText);
    case CellKind::kWholeNumber:
      return Cp1251ToUtf16(std::to_string(WholeNumberField(cells, column)));
    case CellKind::kNumber:
      return NumberText(cells.progress);
    case CellKind::kText:
      break;
  }
  return Text(column, row);
}

void TaskTable::SetCellText(int column, int row, std::u16string_view text) {
  CheckCell(column, row);
  switch (ColumnKind(column)) {
    case CellKind::kCheckBox:
      SetChecked(row, IsTrueText(text));
      return;
    case CellKind::kWholeNumber: {
      const std::string bytes = Utf16ToCp1251(text);
      SetWholeNumber(column, row, bytes.empty() ? 0 : StrToInt(bytes, Cp1251ToUtf8(bytes)));
      return;
    }
    case CellKind::kNumber: {
      const std::string bytes = Utf16ToCp1251(text);
      const std::optional<double> value = ParseNumber(bytes);
      if (!value) throw ConversionError(Substitute(kInvalidFloatMessage, Cp1251ToUtf8(bytes)));
      SetProgressValue(row, *value);
      return;
    }
    case CellKind::kText:
      SetText(column, row, text);
      return;
  }
}

bool TaskTable::Checked(int row) const {
  return CellRow(NxUseColumn, row, CellKind::kCheckBox).use;
}

void TaskTable::SetChecked(int row, bool checked) {
  CellRow(NxUseColumn, row, CellKind::kCheckBox).use = checked;
  NotifyCell(NxUseColumn, row);
}

const std::u16string& TaskTable::Text(int column, int row) const {
  return TextField(CellRow(column, row, CellKind::kText), column);
}

void TaskTable::SetText(int column, int row, std::u16string_view text) {
  TextField(CellRow(column, row, CellKind::kText), column) = text;
  NotifyCell(column, row);
}

int32_t TaskTable::WholeNumber(int column, int row) const {
  const TaskRow& cells = CellRow(column, row, CellKind::kWholeNumber);
  if (column != NxProgressColumn) return WholeNumberField(cells, column);
  // The program stores 0..100 here; a loaded value beyond 32 bits saturates.
  const double value = std::trunc(cells.progress);
  if (value <= INT32_MIN) return INT32_MIN;
  if (value >= INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

void TaskTable::SetWholeNumber(int column, int row, int32_t value) {
  TaskRow& cells = CellRow(column, row, CellKind::kWholeNumber);
  if (column == NxProgressColumn) {
    cells.progress = value;
  } else if (column == NxImageColumn) {
    cells.image = value;
  } else {
    cells.link = value;
  }
  NotifyCell(column, row);
}

double TaskTable::Progress(int row) const {
  return CellRow(NxProgressColumn, row, CellKind::kNumber).progress;
}

void TaskTable::SetProgressValue(int row, double value) {
  CellRow(NxProgressColumn, row, CellKind::kNumber).progress = value;
  NotifyCell(NxProgressColumn, row);
}

const std::string& TaskTable::LogPath(int row) const {
  CheckCell(NxGotoColumn, row);
  return rows_[row].log_path;
}

void TaskTable::SetLogPath(int row, std::string path) {
  CheckCell(NxGotoColumn, row);
  rows_[row].log_path = std::move(path);
  NotifyCell(NxGotoColumn, row);
}

const std::string& TaskTable::Reason(int row) const {
  CheckCell(NxImageColumn, row);
  return rows_[row].reason;
}

void TaskTable::SetReason(int row, std::string reason) {
  CheckCell(NxImageColumn, row);
  rows_[row].reason = std::move(reason);
  NotifyCell(NxImageColumn, row);
}

}  // namespace veskor
