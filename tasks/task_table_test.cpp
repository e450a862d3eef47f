// The task table model: text forms, default rows, the buttons, sorting and the notices.
#include "tasks/task_table.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tasks/task_messages.h"
#include "text/cp1251.h"
#include "text/error.h"

namespace veskor {
namespace {

// Logs every notice with the row count the table has at that moment.
class Recorder : public TaskTableObserver {
 public:
  explicit Recorder(const TaskTable& table) : table_(table) {}
  void BeginReset() override { Log("BeginReset"); }
  void EndReset() override { Log("EndReset"); }
  void BeginInsertRow(int row) override { Log("BeginInsert " + std::to_string(row)); }
  void EndInsertRow() override { Log("EndInsert"); }
  void BeginRemoveRow(int row) override { Log("BeginRemove " + std::to_string(row)); }
  void EndRemoveRow() override { Log("EndRemove"); }
  void CellChanged(int column, int row) override {
    Log("Cell " + std::to_string(column) + "," + std::to_string(row));
  }
  void SelectionChanged(int row) override { Log("Select " + std::to_string(row)); }

  std::vector<std::string> Take() { return std::move(events_); }

 private:
  void Log(std::string event) {
    events_.push_back(event + " [" + std::to_string(table_.RowCount()) + "]");
  }
  const TaskTable& table_;
  std::vector<std::string> events_;
};

using Events = std::vector<std::string>;

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

// The eight text forms of a row, joined by '|', as UTF-8.
std::string RowText(const TaskTable& table, int row) {
  std::string out;
  for (int column = 0; column < kTaskColumnCount; ++column) {
    if (column) out += '|';
    out += Utf16ToUtf8(table.CellText(column, row));
  }
  return out;
}

std::vector<std::string> TableText(const TaskTable& table) {
  std::vector<std::string> rows;
  for (int row = 0; row < table.RowCount(); ++row) rows.push_back(RowText(table, row));
  return rows;
}

const std::vector<std::string> kDefaultRowsWithoutPreset = {
    "True|-1|XOR8|||0|0|-1",
    "True|-1|ADD8|||0|0|-1",
    "False|-1|SUB8|||0|0|-1",
    "True|-1|NONE|||0|0|-1",
};

TEST(TaskTable, TextFormsReadBack) {
  struct Case {
    int column;
    std::u16string text;
    std::u16string form;  // CellText after SetCellText
  } cases[] = {
      {NxUseColumn, u"True", u"True"},
      {NxUseColumn, u"true", u"True"},
      {NxUseColumn, u"TRUE", u"True"},
      {NxUseColumn, u"tRuE", u"True"},
      {NxUseColumn, u"False", u"False"},
      {NxUseColumn, u"", u"False"},
      {NxUseColumn, u" true", u"False"},
      {NxUseColumn, u"true ", u"False"},
      {NxUseColumn, u"1", u"False"},
      {NxUseColumn, u"yes", u"False"},
      {NxUseColumn, u"trueX", u"False"},
      {NxUseColumn, u"tru\u0435", u"False"},
      {NxImageColumn, u"-1", u"-1"},
      {NxImageColumn, u"", u"0"},
      {NxImageColumn, u"2", u"2"},
      {NxImageColumn, u"$FF", u"255"},
      {NxImageColumn, u"0x10", u"16"},
      {NxImageColumn, u"  7", u"7"},
      {NxImageColumn, u"+5", u"5"},
      {NxImageColumn, u"-2147483648", u"-2147483648"},
      {NxGotoColumn, u"2147483647", u"2147483647"},
      {NxGotoColumn, u"", u"0"},
      {NxGotoColumn, u"x2", u"2"},
      {NxProgressColumn, u"0", u"0"},
      {NxProgressColumn, u"37", u"37"},
      {NxProgressColumn, u"100", u"100"},
      {NxProgressColumn, u"37.5", u"37.5"},
      {NxProgressColumn, u"1e2", u"100"},
      {NxProgressColumn, u"+5", u"5"},
      {NxProgressColumn, u".25", u"0.25"},
      {NxProgressColumn, u"-3", u"-3"},
      {NxProgressColumn, u"100.0", u"100"},
      {NxAlgoColumn, u"XOR8", u"XOR8"},
      {NxPresetColumn, u"a,b", u"a,b"},
      {NxPresetColumn, u"\"", u"\""},
      {NxKeyColumn, u"", u""},
      {NxKeyColumn, u" 10 ", u" 10 "},
      {NxResultColumn, u"Ключ\u4e2d", u"Ключ\u4e2d"},
  };
  for (const auto& c : cases) {
    TaskTable table;
    table.AddTask("");
    table.SetCellText(c.column, 0, c.text);
    EXPECT_EQ(Utf16ToUtf8(table.CellText(c.column, 0)), Utf16ToUtf8(c.form))
        << c.column << " '" << Utf16ToUtf8(c.text) << "'";
  }
}

TEST(TaskTable, RefusedTextsLeaveTheCellAndAnnounceNothing) {
  struct Case {
    int column;
    std::u16string text;
    std::string message;
  } cases[] = {
      {NxImageColumn, u"abc", "'abc' is not a valid integer value"},
      {NxImageColumn, u"1.5", "'1.5' is not a valid integer value"},
      {NxImageColumn, u" ", "' ' is not a valid integer value"},
      {NxImageColumn, u"2147483648", "'2147483648' is not a valid integer value"},
      {NxGotoColumn, u"2 ", "'2 ' is not a valid integer value"},
      {NxGotoColumn, u"Жук", "'Жук' is not a valid integer value"},
      {NxGotoColumn, u"\u4e2d", "'?' is not a valid integer value"},
      {NxProgressColumn, u"", "'' is not a valid floating point value"},
      {NxProgressColumn, u"abc", "'abc' is not a valid floating point value"},
      {NxProgressColumn, u"1,5", "'1,5' is not a valid floating point value"},
      {NxProgressColumn, u" 5", "' 5' is not a valid floating point value"},
      {NxProgressColumn, u"5 ", "'5 ' is not a valid floating point value"},
      {NxProgressColumn, u"inf", "'inf' is not a valid floating point value"},
      {NxProgressColumn, u"nan", "'nan' is not a valid floating point value"},
      {NxProgressColumn, u"1e999", "'1e999' is not a valid floating point value"},
      {NxProgressColumn, u"+-5", "'+-5' is not a valid floating point value"},
      {NxProgressColumn, u"$10", "'$10' is not a valid floating point value"},
  };
  for (const auto& c : cases) {
    TaskTable table;
    table.AddTaskRow(true, 3, "XOR8", "", "", 42, "7", 2);
    const std::string before = RowText(table, 0);
    Recorder recorder(table);
    table.SetObserver(&recorder);
    try {
      table.SetCellText(c.column, 0, c.text);
      ADD_FAILURE() << "no error for '" << Utf16ToUtf8(c.text) << "'";
    } catch (const ConversionError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    EXPECT_EQ(RowText(table, 0), before) << c.message;
    EXPECT_EQ(recorder.Take(), Events{}) << c.message;
  }
}

TEST(TaskTable, CellAccessOutsideTheTableFails) {
  TaskTable table;
  table.AddTask("");
  table.AddTask("");
  struct Case {
    int column, row;
    std::string message;
  } cases[] = {
      {8, 0, "Cell out of bounds (8, 0)"}, {-1, 1, "Cell out of bounds (-1, 1)"},
      {0, 2, "Cell out of bounds (0, 2)"}, {7, -1, "Cell out of bounds (7, -1)"},
      {8, 5, "Cell out of bounds (8, 5)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MessageOf([&] { table.CellText(c.column, c.row); }), c.message);
    EXPECT_EQ(MessageOf([&] { table.SetCellText(c.column, c.row, u"1"); }), c.message);
  }
  // The typed accessors name the cell they stand for.
  EXPECT_EQ(MessageOf([&] { table.Checked(2); }), "Cell out of bounds (0, 2)");
  EXPECT_EQ(MessageOf([&] { table.SetChecked(-1, true); }), "Cell out of bounds (0, -1)");
  EXPECT_EQ(MessageOf([&] { table.Text(8, 0); }), "Cell out of bounds (8, 0)");
  EXPECT_EQ(MessageOf([&] { table.SetText(NxKeyColumn, 2, u"1"); }), "Cell out of bounds (4, 2)");
  EXPECT_EQ(MessageOf([&] { table.WholeNumber(NxImageColumn, 3); }), "Cell out of bounds (1, 3)");
  EXPECT_EQ(MessageOf([&] { table.SetWholeNumber(NxProgressColumn, 2, 1); }),
            "Cell out of bounds (5, 2)");
  EXPECT_EQ(MessageOf([&] { table.Progress(2); }), "Cell out of bounds (5, 2)");
  EXPECT_EQ(MessageOf([&] { table.LogPath(2); }), "Cell out of bounds (7, 2)");
  EXPECT_EQ(MessageOf([&] { table.SetLogPath(2, "x"); }), "Cell out of bounds (7, 2)");
  EXPECT_EQ(MessageOf([&] { table.Row(2); }), "List index out of bounds (2)");
  EXPECT_EQ(TableText(table).size(), 2u);
}

TEST(TaskTable, TypedAccessToAnotherKindIsRefused) {
  TaskTable table;
  table.AddTask("");
  EXPECT_THROW(table.Text(NxImageColumn, 0), std::invalid_argument);
  EXPECT_THROW(table.SetText(NxUseColumn, 0, u"x"), std::invalid_argument);
  EXPECT_THROW(table.WholeNumber(NxKeyColumn, 0), std::invalid_argument);
  EXPECT_THROW(table.SetWholeNumber(NxUseColumn, 0, 1), std::invalid_argument);
}

TEST(TaskTable, TypedCellsReadAndWrite) {
  TaskTable table;
  table.AppendEmptyRow();
  table.SetChecked(0, true);
  table.SetWholeNumber(NxImageColumn, 0, kStatusDone);
  table.SetWholeNumber(NxProgressColumn, 0, 37);
  table.SetText(NxResultColumn, 0, u"12");
  table.SetWholeNumber(NxGotoColumn, 0, kLinkOpen);
  table.SetLogPath(0, "/tmp/in.bin_XOR8.log");
  EXPECT_EQ(RowText(table, 0), "True|1||||37|12|2");
  EXPECT_TRUE(table.Checked(0));
  EXPECT_EQ(table.Progress(0), 37.0);
  EXPECT_EQ(table.WholeNumber(NxProgressColumn, 0), 37);
  EXPECT_EQ(table.WholeNumber(NxGotoColumn, 0), 2);
  EXPECT_EQ(table.Text(NxResultColumn, 0), u"12");
  EXPECT_EQ(table.LogPath(0), "/tmp/in.bin_XOR8.log");
  table.SetCellText(NxProgressColumn, 0, u"37.9");
  EXPECT_EQ(table.WholeNumber(NxProgressColumn, 0), 37);
  table.SetCellText(NxProgressColumn, 0, u"1e300");
  EXPECT_EQ(table.WholeNumber(NxProgressColumn, 0), INT32_MAX);
}

TEST(TaskTable, NewRowsAndAddedRows) {
  TaskTable table;
  EXPECT_EQ(table.SelectedRow(), -1);
  table.AppendEmptyRow();
  table.AddTaskRow(false, 3, "SUB8", "\xD6\xE8\xF4\xF0\xFB", "$41", 100, "17", 2);
  EXPECT_EQ(TableText(table),
            (std::vector<std::string>{"False|0||||0||0", "False|3|SUB8|Цифры|$41|100|17|2"}));
  EXPECT_EQ(table.Row(1).preset, u"Цифры");
  EXPECT_EQ(table.LogPath(1), "");
  EXPECT_EQ(table.SelectedRow(), -1);  // adding selects nothing
}

TEST(TaskTable, DefaultTasksTakeTheFirstPresetName) {
  struct Case {
    std::string_view first_preset;
    std::string shown;
  } cases[] = {{"", ""}, {"Noname", "Noname"}, {"\xC1\xF3\xEA\xE2\xFB", "Буквы"}};
  for (const auto& c : cases) {
    TaskTable table;
    table.AddDefaultTasks(c.first_preset);
    const std::string p = c.shown;
    EXPECT_EQ(TableText(table), (std::vector<std::string>{
                                    "True|-1|XOR8|" + p + "||0|0|-1",
                                    "True|-1|ADD8|" + p + "||0|0|-1",
                                    "False|-1|SUB8|" + p + "||0|0|-1",
                                    "True|-1|NONE|" + p + "||0|0|-1",
                                }));
    EXPECT_EQ(table.SelectedRow(), 0);
    table.SelectTask(2);
    table.AddTask(c.first_preset);
    EXPECT_EQ(RowText(table, 4), "True|-1|XOR8|" + p + "||0|0|-1");
    EXPECT_EQ(table.SelectedRow(), 2);  // the added row is not selected
  }
}

TEST(TaskTable, SelectTaskIgnoresIndexesThatNameNoRow) {
  TaskTable table;
  table.AddDefaultTasks("");
  for (int index : {3, 4, -1, 100}) table.SelectTask(index);
  EXPECT_EQ(table.SelectedRow(), 3);
  table.SelectTask(0);
  EXPECT_EQ(table.SelectedRow(), 0);
}

TEST(TaskTable, ClearTasksLeavesIndexZeroSelected) {
  TaskTable table;
  table.AddDefaultTasks("Noname");
  table.SelectTask(3);
  table.ClearTasks();
  EXPECT_EQ(table.RowCount(), 0);
  EXPECT_EQ(table.SelectedRow(), 0);
}

TEST(TaskTable, DeleteTaskSelectionRules) {
  struct Case {
    int selected;           // of the three rows A, B, C
    std::string remaining;  // keys of the rows left
    int selected_after;
  } cases[] = {{2, "AB", 1}, {0, "BC", 0}, {1, "AC", 1}};
  for (const auto& c : cases) {
    TaskTable table;
    for (auto key : {"A", "B", "C"}) table.AddTaskRow(true, -1, "XOR8", "", key, 0, "0", -1);
    table.SelectTask(c.selected);
    table.DeleteTask();
    std::string keys;
    for (int row = 0; row < table.RowCount(); ++row) keys += Utf16ToUtf8(table.Text(4, row));
    EXPECT_EQ(keys, c.remaining) << c.selected;
    EXPECT_EQ(table.SelectedRow(), c.selected_after) << c.selected;
  }
}

TEST(TaskTable, DeleteTaskOnNoRowFailsWithTheSelectedIndex) {
  TaskTable emptied_by_deleting;
  emptied_by_deleting.AddDefaultTasks("");
  for (int i = 0; i < 4; ++i) emptied_by_deleting.DeleteTask();
  EXPECT_EQ(emptied_by_deleting.SelectedRow(), -1);

  TaskTable emptied_by_clearing;
  emptied_by_clearing.AddDefaultTasks("");
  emptied_by_clearing.ClearTasks();

  TaskTable never_filled;

  struct Case {
    TaskTable* table;
    std::string message;
  } cases[] = {{&emptied_by_deleting, "List index out of bounds (-1)"},
               {&emptied_by_clearing, "List index out of bounds (0)"},
               {&never_filled, "List index out of bounds (-1)"}};
  for (const auto& c : cases) {
    Recorder recorder(*c.table);
    c.table->SetObserver(&recorder);
    EXPECT_EQ(MessageOf([&] { c.table->DeleteTask(); }), c.message);
    EXPECT_EQ(c.table->RowCount(), 0);
    EXPECT_EQ(recorder.Take(), Events{});
    c.table->SetObserver(nullptr);
  }

  // A row added to the table emptied by deleting is not selected, so it cannot be deleted.
  emptied_by_deleting.AddTask("");
  EXPECT_EQ(MessageOf([&] { emptied_by_deleting.DeleteTask(); }), "List index out of bounds (-1)");
  EXPECT_EQ(emptied_by_deleting.RowCount(), 1);
  // After ClearTasks index 0 names the first added row.
  emptied_by_clearing.AddTask("");
  emptied_by_clearing.DeleteTask();
  EXPECT_EQ(emptied_by_clearing.RowCount(), 0);
  EXPECT_EQ(emptied_by_clearing.SelectedRow(), -1);
}

TEST(TaskTable, ResetGivesUpEveryEdit) {
  TaskTable table;
  table.AddDefaultTasks("");
  table.AddTask("");
  table.SetChecked(2, true);
  table.SetText(NxAlgoColumn, 0, u"LOCAL");
  table.SetText(NxKeyColumn, 1, u"12");
  table.SetWholeNumber(NxImageColumn, 3, kStatusDone);
  table.SelectTask(3);
  table.DeleteTask();
  table.SortByColumn(NxAlgoColumn);
  table.Reset("");
  EXPECT_EQ(TableText(table), kDefaultRowsWithoutPreset);
  EXPECT_EQ(table.SelectedRow(), 0);
  EXPECT_FALSE(table.Checked(2));
}

TEST(TaskTable, ResetTaskResultsKeepsTheTasks) {
  TaskTable table;
  table.AddTaskRow(true, kStatusDone, "XOR8", "Noname", "12", 100, "37", kLinkOpen);
  table.AddTaskRow(false, kStatusStopped, "LOCAL", "", "", 40, "?", kLinkOpen);
  table.AddTaskRow(true, kStatusRunning, "ADD8", "x", "$ff", 0, "?", kLinkNone);
  for (int row = 0; row < 3; ++row) table.SetLogPath(row, "/logs/" + std::to_string(row));
  table.SetReason(2, "No preset is named \"x\": the task was skipped");
  table.ResetTaskResults();
  EXPECT_EQ(TableText(table),
            (std::vector<std::string>{"True|-1|XOR8|Noname|12|0|0|-1", "False|-1|LOCAL|||0|0|-1",
                                      "True|-1|ADD8|x|$ff|0|0|-1"}));
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(table.LogPath(row), "") << row;
    EXPECT_EQ(table.Reason(row), "") << row;
  }

  TaskTable empty;
  empty.ResetTaskResults();
  EXPECT_EQ(empty.RowCount(), 0);
}

// Rows whose cells differ per column, so that each column sorts them its own way.
TaskTable SortingRows() {
  TaskTable table;
  table.AddTaskRow(true, 3, "b", "Beta", "9", 100, "10", 2);    // row A
  table.AddTaskRow(false, -1, "B", "alpha", "10", 5, "9", -1);  // row B
  table.AddTaskRow(true, 10, "\xC0", "Alpha", "", 37, "", 0);   // row C: Cyrillic А
  table.AddTaskRow(false, 1, "a", "beta", "09", 37, "1", 2);    // row D
  for (int row = 0; row < 4; ++row) table.SetLogPath(row, std::string(1, char('A' + row)));
  return table;
}

std::string Order(const TaskTable& table) {
  std::string order;
  for (int row = 0; row < table.RowCount(); ++row) order += table.LogPath(row);
  return order;
}

TEST(TaskTable, EachColumnSortsByItsOwnOrder) {
  struct Case {
    int column;
    std::string ascending, descending;  // equal cells keep their order in both directions
  } cases[] = {
      {NxUseColumn, "BDAC", "ACBD"},    {NxImageColumn, "BDAC", "CADB"},
      {NxAlgoColumn, "BDAC", "CADB"},   {NxPresetColumn, "CABD", "DBAC"},
      {NxKeyColumn, "CDBA", "ABDC"},    {NxProgressColumn, "BCDA", "ACDB"},
      {NxResultColumn, "CDAB", "BADC"}, {NxGotoColumn, "BCAD", "ADCB"},
  };
  for (const auto& c : cases) {
    TaskTable table = SortingRows();
    table.SortByColumn(c.column);
    EXPECT_EQ(Order(table), c.ascending) << c.column;
    EXPECT_TRUE(table.SortAscending(c.column));
    table.SortByColumn(c.column);
    EXPECT_EQ(Order(table), c.descending) << c.column;
    EXPECT_FALSE(table.SortAscending(c.column));
    EXPECT_EQ(table.SortColumn(), c.column);
  }
}

TEST(TaskTable, KeysSortAsText) {
  TaskTable table;
  for (auto key : {"9", "10", "", "1"}) table.AddTaskRow(true, -1, "XOR8", "", key, 0, "0", -1);
  table.SortByColumn(NxKeyColumn);
  std::vector<std::u16string> keys;
  for (int row = 0; row < 4; ++row) keys.push_back(table.Text(NxKeyColumn, row));
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"", u"1", u"10", u"9"}));
}

TEST(TaskTable, EveryColumnKeepsItsOwnDirection) {
  TaskTable table = SortingRows();
  EXPECT_EQ(table.SortColumn(), -1);
  table.SortByColumn(NxKeyColumn);
  table.SortByColumn(NxKeyColumn);  // Key now descending
  table.SortByColumn(NxAlgoColumn);
  EXPECT_EQ(Order(table), "BDAC");  // Algorithm sorts ascending: its own direction
  table.SortByColumn(NxKeyColumn);  // back to Key: still descending, not reversed
  EXPECT_EQ(Order(table), "ABDC");
  EXPECT_FALSE(table.SortAscending(NxKeyColumn));
  table.SortByColumn(NxKeyColumn);
  EXPECT_EQ(Order(table), "CDBA");
  EXPECT_TRUE(table.SortAscending(NxKeyColumn));
  EXPECT_TRUE(table.SortAscending(NxAlgoColumn));
  EXPECT_THROW(table.SortByColumn(8), std::out_of_range);
  EXPECT_THROW(table.SortByColumn(-1), std::out_of_range);
  EXPECT_EQ(table.SortColumn(), NxKeyColumn);
}

TEST(TaskTable, SortingKeepsTheSelectedRowSelected) {
  TaskTable table = SortingRows();
  table.SelectTask(0);  // row A
  table.SortByColumn(NxUseColumn);
  EXPECT_EQ(table.LogPath(table.SelectedRow()), "A");
  table.SortByColumn(NxUseColumn);
  EXPECT_EQ(table.LogPath(table.SelectedRow()), "A");
  table.SortByColumn(NxResultColumn);
  EXPECT_EQ(table.LogPath(table.SelectedRow()), "A");

  TaskTable unselected = SortingRows();  // -1 names no row and stays
  unselected.SortByColumn(NxKeyColumn);
  EXPECT_EQ(unselected.SelectedRow(), -1);
}

TEST(TaskTable, NoticesComeInPairsAroundTheirChange) {
  TaskTable table;
  Recorder recorder(table);
  table.SetObserver(&recorder);

  table.AddTaskRow(true, -1, "XOR8", "", "", 0, "0", -1);
  table.AppendEmptyRow();
  EXPECT_EQ(recorder.Take(),
            (Events{"BeginInsert 0 [0]", "EndInsert [1]", "BeginInsert 1 [1]", "EndInsert [2]"}));

  table.SelectTask(1);
  table.SelectTask(5);
  table.DeleteTask();
  EXPECT_EQ(recorder.Take(),
            (Events{"Select 1 [2]", "BeginRemove 1 [2]", "EndRemove [1]", "Select 0 [1]"}));

  table.SetCellText(NxUseColumn, 0, u"true");
  table.SetCellText(NxProgressColumn, 0, u"5");
  table.SetWholeNumber(NxProgressColumn, 0, 6);
  table.SetText(NxKeyColumn, 0, u"1");
  table.SetLogPath(0, "x");
  EXPECT_EQ(recorder.Take(), (Events{"Cell 0,0 [1]", "Cell 5,0 [1]", "Cell 5,0 [1]", "Cell 4,0 [1]",
                                     "Cell 7,0 [1]"}));

  table.ResetTaskResults();
  EXPECT_EQ(recorder.Take(), (Events{"Cell 1,0 [1]", "Cell 5,0 [1]", "Cell 6,0 [1]", "Cell 7,0 [1]",
                                     "Cell 7,0 [1]", "Cell 1,0 [1]"}));

  table.SortByColumn(NxKeyColumn);
  EXPECT_EQ(recorder.Take(), (Events{"BeginReset [1]", "EndReset [1]"}));

  table.ClearTasks();
  EXPECT_EQ(recorder.Take(), (Events{"BeginReset [1]", "EndReset [0]", "Select 0 [0]"}));

  table.AddDefaultTasks("");
  EXPECT_EQ(recorder.Take(), (Events{"BeginInsert 0 [0]", "EndInsert [1]", "BeginInsert 1 [1]",
                                     "EndInsert [2]", "BeginInsert 2 [2]", "EndInsert [3]",
                                     "BeginInsert 3 [3]", "EndInsert [4]", "Select 0 [4]"}));

  table.SetObserver(nullptr);
  table.AddTask("");
  EXPECT_EQ(recorder.Take(), Events{});
}

TEST(TaskTable, ResetScopeFoldsABatchIntoOneReset) {
  TaskTable table;
  table.AddDefaultTasks("");
  Recorder recorder(table);
  table.SetObserver(&recorder);
  {
    TaskTable::ResetScope outer(table);
    table.ClearTasks();  // a nested scope
    table.AppendEmptyRow();
    table.SetCellText(NxUseColumn, 0, u"True");
    table.SortByColumn(NxUseColumn);
    table.SelectTask(0);
  }
  EXPECT_EQ(recorder.Take(), (Events{"BeginReset [4]", "EndReset [1]", "Select 0 [1]"}));

  try {
    TaskTable::ResetScope scope(table);
    table.ClearTasks();
    table.AppendEmptyRow();
    table.SetCellText(NxImageColumn, 0, u"abc");
  } catch (const ConversionError&) {
  }
  EXPECT_EQ(recorder.Take(), (Events{"BeginReset [1]", "EndReset [1]", "Select 0 [1]"}));
  table.AppendEmptyRow();  // notices flow again after the scope
  EXPECT_EQ(recorder.Take(), (Events{"BeginInsert 1 [1]", "EndInsert [2]"}));
}

}  // namespace
}  // namespace veskor
