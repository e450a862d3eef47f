// The Tasks page: the item model under QAbstractItemModelTester, the task buttons' selection
// rules, sorting by header clicks, the editors, the tooltips, the layout and the drawing.
#include "ui/task_page.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QToolTip>
#include <QtTest>
#include <memory>

#include "presets/preset.h"
#include "presets/preset_list.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/qt_text.h"
#include "ui/task_table_model.h"

using namespace veskor;

namespace {

// A shown page over its own table, with the model under the tester from the start.
struct Fixture {
  TaskTable table;
  TaskPage page{table};
  QAbstractItemModelTester tester{page.model(),
                                  QAbstractItemModelTester::FailureReportingMode::QtTest};
  QTableView* grid = page.grid();

  Fixture() {
    page.show();
    if (!QTest::qWaitForWindowExposed(&page, 60000)) qWarning("the page was not exposed");
  }
  // Rows with these keys, all XOR8 and checked; no row selected by the table's own rules
  // (SelectedRow is 0 after ClearTasks).
  void SetKeys(const QStringList& keys) {
    table.ClearTasks();
    for (const QString& key : keys) table.AddTaskRow(true, -1, "XOR8", "", To1251(key), 0, "0", -1);
  }
  QStringList Column(int column) const {
    QStringList texts;
    for (int row = 0; row < table.RowCount(); ++row) texts << FromU16(table.CellText(column, row));
    return texts;
  }
  QPoint CellCentre(int row, int column) const {
    return grid->visualRect(page.model()->index(row, column)).center();
  }
  // The tooltip the grid's delegate gives the cell as it is laid out now.
  QString ToolTip(int row, int column) const {
    QStyleOptionViewItem option;
    option.initFrom(grid);
    const QModelIndex index = page.model()->index(row, column);
    option.rect = grid->visualRect(index);
    return page.delegate()->ToolTip(option, index);
  }
  QImage GrabCell(int row, int column) const {
    return grid->viewport()
        ->grab(grid->visualRect(page.model()->index(row, column)))
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
  }
  // The grid's current row and its selected rows as the user sees them.
  int ShownRow() const { return grid->selectionModel()->currentIndex().row(); }
  QList<int> SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : grid->selectionModel()->selectedRows()) rows << index.row();
    return rows;
  }
  QColor Base() const { return grid->palette().color(QPalette::Active, QPalette::Base); }
  QColor Highlight() const { return grid->palette().color(QPalette::Active, QPalette::Highlight); }
  template <typename Editor>
  Editor* OpenEditor(int row, int column) {
    grid->edit(page.model()->index(row, column));
    return grid->viewport()->findChild<Editor*>();
  }
};

// Every cell of the model shows the table's text form, row for row.
void ExpectModelMirrorsTable(const TaskTableModel& model, const TaskTable& table) {
  QCOMPARE(model.rowCount(), table.RowCount());
  for (int row = 0; row < table.RowCount(); ++row) {
    for (int column = 0; column < kTaskColumnCount; ++column) {
      QCOMPARE(model.index(row, column).data().toString(), FromU16(table.CellText(column, row)));
    }
  }
}

bool SameColour(QRgb a, QRgb b, int tolerance) {
  return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
         std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

}  // namespace

class TaskPageTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    SetMessageBoxSeamForTesting([this](bool error, const QString& text) {
      QVERIFY(error);
      shown_ << text;
    });
    shown_.clear();
  }
  void cleanup() { SetMessageBoxSeamForTesting(nullptr); }

  void ModelFollowsEveryChangeOfTheTable() {
    Fixture f;
    const std::pair<const char*, std::function<void(TaskTable&)>> steps[] = {
        {"defaults", [](TaskTable& t) { t.AddDefaultTasks("Latin"); }},
        {"add", [](TaskTable& t) { t.AddTask("Latin"); }},
        {"key", [](TaskTable& t) { t.SetText(NxKeyColumn, 4, u"9"); }},
        {"key text form", [](TaskTable& t) { t.SetCellText(NxKeyColumn, 0, u"10"); }},
        {"check", [](TaskTable& t) { t.SetChecked(1, false); }},
        {"results",
         [](TaskTable& t) {
           t.SetWholeNumber(NxImageColumn, 2, kStatusDone);
           t.SetWholeNumber(NxProgressColumn, 2, 100);
           t.SetWholeNumber(NxGotoColumn, 2, kLinkOpen);
           t.SetLogPath(2, "/tmp/in.bin_SUB8.log");
         }},
        {"sort by key", [](TaskTable& t) { t.SortByColumn(NxKeyColumn); }},
        {"sort by key again", [](TaskTable& t) { t.SortByColumn(NxKeyColumn); }},
        {"sort by use", [](TaskTable& t) { t.SortByColumn(NxUseColumn); }},
        {"select", [](TaskTable& t) { t.SelectTask(4); }},
        {"delete last", [](TaskTable& t) { t.DeleteTask(); }},
        {"reset results", [](TaskTable& t) { t.ResetTaskResults(); }},
        {"batch",
         [](TaskTable& t) {
           TaskTable::ResetScope scope(t);
           t.AppendEmptyRow();
           t.SetCellText(NxImageColumn, t.RowCount() - 1, u"3");
           t.DeleteTask();
         }},
        {"reset", [](TaskTable& t) { t.Reset(""); }},
        {"clear", [](TaskTable& t) { t.ClearTasks(); }},
        {"empty row", [](TaskTable& t) { t.AppendEmptyRow(); }},
    };
    for (const auto& [name, step] : steps) {
      step(f.table);
      if (QTest::currentTestFailed()) QFAIL(name);
      ExpectModelMirrorsTable(*f.page.model(), f.table);
      if (QTest::currentTestFailed()) QFAIL(name);
    }
  }

  void CellChangesEmitTheirOwnCell() {
    Fixture f;
    f.table.AddDefaultTasks("");
    QSignalSpy changed(f.page.model(), &QAbstractItemModel::dataChanged);
    f.table.SetWholeNumber(NxProgressColumn, 2, 37);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].toModelIndex(), f.page.model()->index(2, NxProgressColumn));
    QCOMPARE(changed[0][1].toModelIndex(), f.page.model()->index(2, NxProgressColumn));
  }

  void ModelRolesAndFlags() {
    Fixture f;
    TaskTableModel& model = *f.page.model();
    f.table.AddDefaultTasks("Latin");
    const char* headers[] = {"", "", "Algorithm", "Preset", "Key", "Progress", "Result", ""};
    for (int column = 0; column < kTaskColumnCount; ++column) {
      QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), QString(headers[column]));
      const Qt::ItemFlags flags = model.index(0, column).flags();
      const bool editable =
          column == NxAlgoColumn || column == NxPresetColumn || column == NxKeyColumn;
      QCOMPARE(bool(flags & Qt::ItemIsEditable), editable);
      QCOMPARE(bool(flags & Qt::ItemIsUserCheckable), column == NxUseColumn);
    }
    QCOMPARE(model.index(2, NxUseColumn).data(Qt::CheckStateRole).value<Qt::CheckState>(),
             Qt::Unchecked);
    QCOMPARE(model.index(0, NxUseColumn).data(Qt::CheckStateRole).value<Qt::CheckState>(),
             Qt::Checked);
    QVERIFY(!model.index(0, NxAlgoColumn).data(Qt::CheckStateRole).isValid());
    QCOMPARE(model.index(0, NxImageColumn).data(TaskTableModel::kPictureRole).toInt(), -1);

    // The user's four cells go into the table; the run's cells refuse.
    QVERIFY(model.setData(model.index(2, NxUseColumn), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(f.table.Checked(2));
    QVERIFY(model.setData(model.index(1, NxPresetColumn), QString::fromUtf8("Кириллица")));
    QCOMPARE(FromU16(f.table.Text(NxPresetColumn, 1)), QString::fromUtf8("Кириллица"));
    QVERIFY(model.setData(model.index(1, NxKeyColumn), "$41"));
    QCOMPARE(FromU16(f.table.Text(NxKeyColumn, 1)), QString("$41"));
    QVERIFY(!model.setData(model.index(1, NxResultColumn), "12"));
    QVERIFY(!model.setData(model.index(1, NxImageColumn), 3));
    QVERIFY(!model.setData(model.index(1, NxUseColumn), "True"));
    QCOMPARE(FromU16(f.table.Text(NxResultColumn, 1)), QString("0"));
    QCOMPARE(f.table.WholeNumber(NxImageColumn, 1), -1);

    // Tooltips: the whole text of a text cell, the log path of a link cell that has one.
    QCOMPARE(model.index(1, NxPresetColumn).data(Qt::ToolTipRole).toString(),
             QString::fromUtf8("Кириллица"));
    QVERIFY(!model.index(1, NxGotoColumn).data(Qt::ToolTipRole).isValid());
    f.table.SetLogPath(1, "/data/\xD0\xB2.bin_ADD8.log");  // file-system bytes: UTF-8
    QCOMPARE(model.index(1, NxGotoColumn).data(Qt::ToolTipRole).toString(),
             QString::fromUtf8("/data/в.bin_ADD8.log"));
    QVERIFY(!model.index(1, NxProgressColumn).data(Qt::ToolTipRole).isValid());
  }

  void PageLayout() {
    Fixture f;
    QCOMPARE(f.page.objectName(), QString("TaskSheet"));
    QCOMPARE(f.page.size(), QSize(444, 263));
    QCOMPARE(f.page.findChild<QTableView*>("TaskGrid"), f.grid);
    QCOMPARE(f.grid->geometry(), QRect(8, 8, 427, 214));
    const struct {
      const char* name;
      const char* caption;
      QRect geometry;
    } buttons[] = {{"btnAnalyze", "Analyze", {281, 229, 75, 25}},
                   {"btnReset", "Reset", {361, 229, 75, 25}},
                   {"btnAddTask", "Add task", {8, 229, 75, 25}},
                   {"btnDelTask", "Delete task", {88, 229, 75, 25}}};
    QList<QWidget*> order{f.grid};
    for (const auto& b : buttons) {
      auto* button = f.page.findChild<QPushButton*>(b.name);
      QVERIFY2(button, b.name);
      QCOMPARE(button->text(), QString(b.caption));
      QCOMPARE(button->geometry(), b.geometry);
      QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) < b.geometry.width() - 8,
               b.name);
      order << button;
    }
    QCOMPARE(f.page.analyze_button(), order[1]);
    QVERIFY(!f.page.analyze_button()->isEnabled());
    for (int i = 0; i + 1 < order.size(); ++i) {
      QWidget* next = order[i]->nextInFocusChain();
      while (next->focusPolicy() == Qt::NoFocus || !order.contains(next)) {
        next = next->nextInFocusChain();
      }
      QCOMPARE(next, order[i + 1]);
    }
  }

  void ColumnsAtDesignWidthsNeedNoHorizontalScrollBar() {
    Fixture f;
    f.table.AddDefaultTasks("Latin");
    QHeaderView* header = f.grid->horizontalHeader();
    const int widths[] = {20, 20, 90, 90, 41, 80, 62, 20};
    for (int column = 0; column < kTaskColumnCount; ++column) {
      QCOMPARE(header->sectionSize(column), widths[column]);
      const bool fixed = column == NxUseColumn || column == NxImageColumn || column == NxGotoColumn;
      QCOMPARE(header->sectionResizeMode(column) == QHeaderView::Fixed, fixed);
    }
    QVERIFY(!header->sectionsMovable());
    QVERIFY(!f.grid->verticalHeader()->isVisible());
    QVERIFY(!f.grid->showGrid());
    QVERIFY(!f.grid->isSortingEnabled());
    QCoreApplication::processEvents();
    QVERIFY(!f.grid->horizontalScrollBar()->isVisible());
    QCOMPARE(f.grid->horizontalScrollBar()->maximum(), 0);
    // Widening a column past the grid brings the scroll bar.
    header->resizeSection(NxPresetColumn, 200);
    QCoreApplication::processEvents();
    QVERIFY(f.grid->horizontalScrollBar()->maximum() > 0);
  }

  void DeleteTaskSelectsByTheRules() {
    const struct {
      int selected;
      QStringList left;
      int selected_after;
    } cases[] = {{2, {"a", "b"}, 1}, {0, {"b", "c"}, 0}, {1, {"a", "c"}, 1}};
    for (const auto& c : cases) {
      Fixture f;
      f.SetKeys({"a", "b", "c"});
      f.table.SelectTask(c.selected);
      QCOMPARE(f.ShownRow(), c.selected);
      QTest::mouseClick(f.page.findChild<QPushButton*>("btnDelTask"), Qt::LeftButton);
      QCOMPARE(f.Column(NxKeyColumn), c.left);
      QCOMPARE(f.table.SelectedRow(), c.selected_after);
      QCOMPARE(f.ShownRow(), c.selected_after);
      QCOMPARE(f.SelectedRows(), QList<int>{c.selected_after});
    }
    QVERIFY(shown_.isEmpty());
  }

  void DeleteOnAnEmptyTableShowsTheIndex() {
    Fixture f;
    auto* del = f.page.findChild<QPushButton*>("btnDelTask");
    f.SetKeys({"a"});
    QTest::mouseClick(del, Qt::LeftButton);  // removes the only row: the index becomes -1
    QCOMPARE(f.table.RowCount(), 0);
    QVERIFY(shown_.isEmpty());
    QTest::mouseClick(del, Qt::LeftButton);
    f.table.ClearTasks();
    QTest::mouseClick(del, Qt::LeftButton);
    QCOMPARE(shown_,
             QStringList({"List index out of bounds (-1)", "List index out of bounds (0)"}));
    QCOMPARE(f.table.RowCount(), 0);
    QVERIFY(!f.grid->selectionModel()->hasSelection());
  }

  void AddTaskTakesTheFirstPresetsName() {
    Fixture f;
    PresetList presets;
    for (const char* name : {"First", "Second"}) {
      TPreset preset = NewPreset();
      SetShortString(preset.Name, name);
      presets.Append(preset);
    }
    f.page.SetFirstPresetName([&] { return presets.PresetName(0); });
    f.table.AddDefaultTasks("");
    f.table.SelectTask(2);
    QTest::mouseClick(f.page.findChild<QPushButton*>("btnAddTask"), Qt::LeftButton);
    QCOMPARE(f.table.RowCount(), 5);
    QCOMPARE(f.Column(NxPresetColumn).last(), QString("First"));
    QCOMPARE(f.Column(NxAlgoColumn).last(), QString("XOR8"));
    QVERIFY(f.table.Checked(4));
    QCOMPARE(f.table.SelectedRow(), 2);
    QCOMPARE(f.ShownRow(), 2);
  }

  void ResetGivesTheDefaultRows() {
    Fixture f;
    f.page.SetFirstPresetName([] { return std::string("Latin"); });
    f.SetKeys({"1", "2", "3", "4", "5"});
    f.table.SelectTask(3);
    QTest::mouseClick(f.page.findChild<QPushButton*>("btnReset"), Qt::LeftButton);
    QCOMPARE(f.Column(NxAlgoColumn), QStringList({"XOR8", "ADD8", "SUB8", "NONE"}));
    QCOMPARE(f.Column(NxUseColumn), QStringList({"True", "True", "False", "True"}));
    QCOMPARE(f.Column(NxPresetColumn), QStringList({"Latin", "Latin", "Latin", "Latin"}));
    QCOMPARE(f.Column(NxKeyColumn), QStringList({"", "", "", ""}));
    QCOMPARE(f.table.SelectedRow(), 0);
    QCOMPARE(f.ShownRow(), 0);
    QCOMPARE(f.SelectedRows(), QList<int>{0});
  }

  void SelectionFollowsBothWays() {
    Fixture f;
    f.SetKeys({"a", "b", "c", "d"});
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, {}, f.CellCentre(2, NxResultColumn));
    QCOMPARE(f.table.SelectedRow(), 2);
    QCOMPARE(f.SelectedRows(), QList<int>{2});
    QTest::keyClick(f.grid, Qt::Key_Down);
    QCOMPARE(f.table.SelectedRow(), 3);
    f.table.SelectTask(1);
    QCOMPARE(f.ShownRow(), 1);
    QCOMPARE(f.SelectedRows(), QList<int>{1});
    // A sort moves the selection with its row ("b" goes last).
    f.table.SortByColumn(NxKeyColumn);
    f.table.SortByColumn(NxKeyColumn);
    QCOMPARE(f.Column(NxKeyColumn), QStringList({"d", "c", "b", "a"}));
    QCOMPARE(f.table.SelectedRow(), 2);
    QCOMPARE(f.SelectedRows(), QList<int>{2});
  }

  void ClicksThatSelectNoRowKeepTheSelectedRowShown() {
    Fixture f;
    f.SetKeys({"a", "b", "c"});
    f.table.SelectTask(1);
    const struct {
      const char* name;
      QPoint at;
      Qt::KeyboardModifiers modifiers;
    } clicks[] = {
        {"below the rows", QPoint(100, 150), {}},
        {"below the rows with Ctrl", QPoint(100, 150), Qt::ControlModifier},
        {"Ctrl on the selected row", f.CellCentre(1, NxResultColumn), Qt::ControlModifier},
    };
    for (const auto& c : clicks) {
      QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, c.modifiers, c.at);
      QVERIFY2(f.SelectedRows() == QList<int>{1}, c.name);
      QCOMPARE(f.table.SelectedRow(), 1);
    }
    // "Delete task" removes the row the user sees selected.
    QTest::mouseClick(f.page.findChild<QPushButton*>("btnDelTask"), Qt::LeftButton);
    QCOMPARE(f.Column(NxKeyColumn), QStringList({"a", "c"}));
    QCOMPARE(f.SelectedRows(), QList<int>{1});
  }

  void CheckBoxClickTogglesAndCellClicksAreAnnounced() {
    Fixture f;
    f.SetKeys({"a", "b"});
    QSignalSpy clicks(&f.page, &TaskPage::CellClicked);
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, {}, f.CellCentre(1, NxUseColumn));
    QVERIFY(!f.table.Checked(1));
    QVERIFY(f.table.Checked(0));
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, {}, f.CellCentre(1, NxUseColumn));
    QVERIFY(f.table.Checked(1));
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, {}, f.CellCentre(0, NxGotoColumn));
    QCOMPARE(clicks.count(), 3);
    QCOMPARE(clicks.last(), QList<QVariant>({NxGotoColumn, 0}));
    QCOMPARE(clicks.first(), QList<QVariant>({NxUseColumn, 1}));
  }

  void HeaderClicksSortThroughTheTable() {
    Fixture f;
    f.SetKeys({"9", "10", "2"});
    QHeaderView* header = f.grid->horizontalHeader();
    auto click = [&](int column) {
      const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                      header->height() / 2);
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    click(NxKeyColumn);
    QCOMPARE(f.Column(NxKeyColumn), QStringList({"10", "2", "9"}));
    QCOMPARE(header->sortIndicatorSection(), int(NxKeyColumn));
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    click(NxKeyColumn);
    QCOMPARE(f.Column(NxKeyColumn), QStringList({"9", "2", "10"}));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    ExpectModelMirrorsTable(*f.page.model(), f.table);
    // Another column sorts in its own direction, ascending at first.
    f.table.SetChecked(0, false);
    click(NxUseColumn);
    QCOMPARE(f.Column(NxUseColumn), QStringList({"False", "True", "True"}));
    QCOMPARE(header->sortIndicatorSection(), int(NxUseColumn));
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
  }

  void AlgorithmComboOffersEveryAlgorithmThenAny() {
    Fixture f;
    f.SetKeys({"a", "b"});
    // The user's way in: select the cell, then the edit key.
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, {}, f.CellCentre(1, NxAlgoColumn));
    QTest::keyClick(f.grid, Qt::Key_F2);
    auto* combo = f.grid->viewport()->findChild<QComboBox*>();
    QVERIFY(combo);
    QVERIFY(!combo->isEditable());
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    QCOMPARE(items, QStringList({"XOR8", "ADD8", "SUB8", "NONE", "LOCAL", "XOR8W", "ADD8W", "SUB8W",
                                 "NONEW", "XOR8ROL", "ADD8ROL", "ROL8ADD", "XOR8N", "XOR8INC",
                                 "XOR8DEC", "XORK", "ANY"}));
    QCOMPARE(combo->currentText(), QString("XOR8"));
    QTest::keyClick(combo, Qt::Key_End);  // picking an entry ends the edit
    QCOMPARE(FromU16(f.table.Text(NxAlgoColumn, 1)), QString("ANY"));
    QTRY_VERIFY_WITH_TIMEOUT(f.grid->viewport()->findChild<QComboBox*>() == nullptr, 60000);
    QCOMPARE(FromU16(f.table.Text(NxAlgoColumn, 0)), QString("XOR8"));
  }

  void PresetChoicesAreReplacedWhole() {
    Fixture f;
    f.SetKeys({"a"});
    f.table.SetText(NxPresetColumn, 0, u"Digits");
    f.page.SetPresetChoices({"Latin", "Digits"});
    auto* combo = f.OpenEditor<QComboBox>(0, NxPresetColumn);
    QVERIFY(combo);
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->itemText(0), QString("Latin"));
    QCOMPARE(combo->currentText(), QString("Digits"));
    QTest::keyClick(combo, Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(f.grid->viewport()->findChild<QComboBox*>() == nullptr, 60000);

    // A cell keeps a name that is no longer among the entries until an entry is picked.
    f.page.SetPresetChoices({"\xCA\xE8\xF0"});  // "Кир" in Windows-1251
    combo = f.OpenEditor<QComboBox>(0, NxPresetColumn);
    QVERIFY(combo);
    QCOMPARE(combo->count(), 1);
    QCOMPARE(combo->itemText(0), QString::fromUtf8("Кир"));
    QCOMPARE(combo->currentIndex(), -1);
    f.page.delegate()->setModelData(combo, f.page.model(), f.page.model()->index(0, 3));
    QCOMPARE(FromU16(f.table.Text(NxPresetColumn, 0)), QString("Digits"));
    QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(FromU16(f.table.Text(NxPresetColumn, 0)), QString::fromUtf8("Кир"));
  }

  void KeyIsFreeText() {
    Fixture f;
    f.SetKeys({""});
    auto* edit = f.OpenEditor<QLineEdit>(0, NxKeyColumn);
    QVERIFY(edit);
    QTest::keyClicks(edit, "0x7F");
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(FromU16(f.table.Text(NxKeyColumn, 0)), QString("0x7F"), 60000);
    QTest::ignoreMessage(QtWarningMsg, "edit: editing failed");
    QVERIFY(f.OpenEditor<QLineEdit>(0, NxResultColumn) == nullptr);
  }

  void TooltipsOnlyWhenTheTextDoesNotFit() {
    Fixture f;
    f.SetKeys({"a", "b", "c"});
    const QString long_name = "A preset name far too long for its column";
    f.table.SetText(NxPresetColumn, 0, ToU16(long_name));
    f.table.SetText(NxPresetColumn, 1, u"Latin");
    f.table.SetLogPath(2, "/tmp/in.bin_XOR8.log");
    auto tip = [&](int row, int column) { return f.ToolTip(row, column); };
    QCOMPARE(tip(0, NxPresetColumn), long_name);
    QCOMPARE(tip(1, NxPresetColumn), QString());
    QCOMPARE(tip(2, NxGotoColumn), QString("/tmp/in.bin_XOR8.log"));
    QCOMPARE(tip(1, NxGotoColumn), QString());
    QCOMPARE(tip(0, NxProgressColumn), QString());
    // Widened, the long name fits and needs no tooltip.
    f.grid->horizontalHeader()->resizeSection(NxPresetColumn, 400);
    QCOMPARE(tip(0, NxPresetColumn), QString());

    // Resting the pointer on the link cell shows its path.
    const QPoint at = f.CellCentre(2, NxGotoColumn);
    QHelpEvent help(QEvent::ToolTip, at, f.grid->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(f.grid->viewport(), &help);
    QTRY_COMPARE_WITH_TIMEOUT(QToolTip::text(), QString("/tmp/in.bin_XOR8.log"), 60000);
    QToolTip::hideText();
  }

  void StatusAndResultTooltipsSayWhyAndHowMany() {
    Fixture f;
    const char* kReason = "No preset is named \"Gone\": the task was skipped";
    const struct {
      int32_t status;
      const char* result;
      const char* reason;
      const char* status_tip;
      const char* result_tip;
    } rows[] = {
        {kStatusNotRun, "?", kReason, kReason, ""},
        {kStatusDone, "12345", "", "", "12,345 strings"},
        {kStatusStopped, "1", "", "", "1 string"},
        {kStatusDone, "0", "", "", "0 strings"},
        {kStatusNone, "0", "", "", ""},  // not run since the reset: no count to tell
        {kStatusRunning, "?", "", "", ""},
    };
    f.table.ClearTasks();
    for (const auto& r : rows) {
      f.table.AddTaskRow(true, r.status, "XOR8", "", "", 0, r.result, kLinkNone);
      f.table.SetReason(f.table.RowCount() - 1, r.reason);
    }
    auto tip = [&](int row, int column) { return f.ToolTip(row, column); };
    for (int row = 0; row < f.table.RowCount(); ++row) {
      QCOMPARE(tip(row, NxImageColumn), QString(rows[row].status_tip));
      QCOMPARE(tip(row, NxResultColumn), QString(rows[row].result_tip));
    }
    // Resting the pointer on the status picture of the row that did not run tells why.
    const QPoint at = f.CellCentre(0, NxImageColumn);
    QHelpEvent help(QEvent::ToolTip, at, f.grid->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(f.grid->viewport(), &help);
    QTRY_COMPARE_WITH_TIMEOUT(QToolTip::text(), QString(kReason), 60000);
    QToolTip::hideText();
  }

  void SelectedCellColourIsTheQuarterBlend() {
    const struct {
      QColor highlight, cell, blend;
    } cases[] = {{QColor(0, 120, 215), QColor(255, 255, 255), QColor(191, 221, 245)},
                 {QColor(2, 3, 0), QColor(0, 1, 0), QColor(1, 2, 0)},
                 {QColor(255, 0, 0), QColor(0, 0, 255), QColor(64, 0, 191)}};
    for (const auto& c : cases) QCOMPARE(SelectedCellColor(c.highlight, c.cell), c.blend);

    Fixture f;
    f.SetKeys({"", "", ""});
    f.table.SelectTask(1);
    QCoreApplication::processEvents();
    const QColor blend = SelectedCellColor(f.Highlight(), f.Base());
    QVERIFY(blend != f.Base());
    QCOMPARE(QColor(f.GrabCell(1, NxKeyColumn).pixel(5, 5)), blend);
    QCOMPARE(QColor(f.GrabCell(1, NxImageColumn).pixel(1, 1)), blend);
    QCOMPARE(QColor(f.GrabCell(2, NxKeyColumn).pixel(5, 5)), f.Base());
  }

  void PicturesForZeroToFourOnly() {
    for (int value = -1; value <= kGridImageCount; ++value) {
      QCOMPARE(GridImage(value).isNull(), value < 0 || value >= kGridImageCount);
    }
    Fixture f;
    const int values[] = {-1, 0, 1, 2, 3, 4, 5, 1000};
    f.SetKeys({"", "", "", "", "", "", "", "", ""});
    f.table.SelectTask(8);  // a row without pictures, so that every row above is unselected
    for (int row = 0; row < 8; ++row) {
      f.table.SetWholeNumber(NxImageColumn, row, values[row]);
      f.table.SetWholeNumber(NxGotoColumn, row, values[row]);
    }
    QCoreApplication::processEvents();
    for (int row = 0; row < 8; ++row) {
      for (int column : {int(NxImageColumn), int(NxGotoColumn)}) {
        const QImage shown = f.GrabCell(row, column);
        QImage expected(shown.size(), QImage::Format_RGB32);
        expected.fill(f.Base());
        const QPixmap picture = GridImage(values[row]);
        if (!picture.isNull()) {
          QPainter painter(&expected);
          painter.drawPixmap((expected.width() - 16) / 2, (expected.height() - 16) / 2, picture);
        }
        int differing = 0;
        for (int y = 0; y < shown.height(); ++y) {
          for (int x = 0; x < shown.width(); ++x) {
            if (!SameColour(shown.pixel(x, y), expected.pixel(x, y), 2)) ++differing;
          }
        }
        QVERIFY2(differing == 0, qPrintable(QString("value %1 column %2: %3 pixels differ")
                                                .arg(values[row])
                                                .arg(column)
                                                .arg(differing)));
      }
    }
  }

  void ProgressIsABarWithoutANumber() {
    Fixture f;
    f.SetKeys({"", "", "", ""});
    f.table.SelectTask(3);
    const int percents[] = {0, 50, 100};
    for (int row = 0; row < 3; ++row) {
      f.table.SetWholeNumber(NxProgressColumn, row, percents[row]);
    }
    QCoreApplication::processEvents();
    const QColor highlight = f.grid->palette().color(QPalette::Highlight);
    int full = 0;
    for (int row = 0; row < 3; ++row) {
      const QImage cell = f.GrabCell(row, NxProgressColumn);
      int lit = 0;
      for (int x = 0; x < cell.width(); ++x)
        lit += QColor(cell.pixel(x, cell.height() / 2)) == highlight;
      if (row == 0) QCOMPARE(lit, 0);
      if (row == 2) {
        full = lit;
        QVERIFY(full > cell.width() - 10);
      }
      if (row == 1) QVERIFY(lit > 30 && lit < 45);
    }
    QVERIFY(full > 0);
  }

 private:
  QStringList shown_;
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ApplyLook(app);
  TaskPageTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "task_page_test.moc"
