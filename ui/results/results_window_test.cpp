// The Results window driven from the main window after a real run over a generated file: the
// true key first, the strings against the run's log, filter, copy, save, a changed file, NONE.
#include "ui/results/results_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>
#include <random>
#include <set>

#include "tasks/table_file.h"
#include "ui/desktop.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/main_window.h"
#include "ui/results/key_match_pane.h"
#include "ui/results/results_test_run.h"
#include "ui/task_table_model.h"
#include "ui/test_files.h"

using veskor::ResultsWindow;
using veskor::StringListModel;
using veskor::TfrmMain;

using veskor::ReadBytes;

namespace {

constexpr int kTrueKey = 0x5A;
const char* const kSentences[] = {
    "The quick brown fox jumps over the lazy dog near the river bank.",
    "Meet me at the old station at nine, bring the papers and the key.",
    "All accounts were moved to the new server on Friday night.",
    "Password for the archive is written on the back of the photo.",
};

// 256 KiB of random bytes with the sentences planted in it, all stored under XOR8 kTrueKey.
QByteArray HiddenText() {
  QByteArray bytes(256 << 10, Qt::Uninitialized);
  std::mt19937 random(11);
  for (char& byte : bytes) byte = static_cast<char>(random());
  int at = 1000;
  for (int round = 0; round < 4; ++round) {
    for (const char* sentence : kSentences) {
      const QByteArray text(sentence);
      bytes.replace(at, text.size(), text);
      bytes[at - 1] = '\0';
      bytes[at + text.size()] = '\0';
      at += 12000;
    }
  }
  for (char& byte : bytes) byte = static_cast<char>(byte ^ kTrueKey);
  return bytes;
}

// 64 KiB of random bytes with the sentences planted once between zero bytes, each byte d stored
// as ror(d, 3) ^ 0x5A: what XOR8ROL 0x35A reads back.
QByteArray RotatedHiddenText() {
  QByteArray bytes(64 << 10, Qt::Uninitialized);
  std::mt19937 random(12);
  for (char& byte : bytes) byte = static_cast<char>(random());
  int at = 1000;
  for (const char* sentence : kSentences) {
    const QByteArray text = QByteArray(1, '\0') + sentence + QByteArray(1, '\0');
    for (int i = 0; i < text.size(); ++i) {
      const auto d = static_cast<uint8_t>(text[i]);
      bytes[at + i] = static_cast<char>(static_cast<uint8_t>((d >> 3) | (d << 5)) ^ 0x5A);
    }
    at += 12000;
  }
  return bytes;
}

// 64 KiB of random bytes with 256 zero bytes and then 4 KiB of the sentences, one a line, stored
// at offset 5000 under the repeating key 8c 61 d2 63 c5 (at file offset i, its byte i mod 5).
QByteArray RepeatingKeyText() {
  QByteArray bytes(64 << 10, Qt::Uninitialized);
  std::mt19937 random(13);
  for (char& byte : bytes) byte = static_cast<char>(random());
  QByteArray plain(256, '\0');
  while (plain.size() < 4096) {
    for (const char* sentence : kSentences) plain += QByteArray(sentence) + '\n';
  }
  const uint8_t key[] = {0x8c, 0x61, 0xd2, 0x63, 0xc5};
  for (int i = 0; i < plain.size(); ++i) {
    bytes[5000 + i] = static_cast<char>(static_cast<uint8_t>(plain[i]) ^ key[(5000 + i) % 5]);
  }
  return bytes;
}

// The lines of `key` in a log in the default format, without their CR LF.
QStringList LogLines(const QString& log, int key) {
  const QString prefix = QStringLiteral("%1 | ").arg(key, 3);
  QStringList lines;
  for (const QByteArray& line : ReadBytes(log).split('\n')) {
    const QString text = QString::fromLatin1(line.chopped(line.endsWith('\r') ? 1 : 0));
    if (text.startsWith(prefix)) lines << text;
  }
  return lines;
}

// The text of a log line: what follows its second " | ".
QString LineText(const QString& line) { return line.section(QStringLiteral(" | "), 2); }

// The text of a log line as its cell shows it.
QString ShownLineText(const QString& line) {
  const QByteArray text = LineText(line).toLatin1();
  return veskor::ShownText(std::string_view(text.constData(), text.size()), text.size(),
                           StringListModel::kShownCharacters);
}

}  // namespace

class ResultsWindowTest : public veskor::ResultsTest {
  Q_OBJECT

 private:
  QString Log() const { return InDir("input.bin_XOR8.log"); }

  // A run of XOR8 (or `first`) over all keys, NONE over all keys and an unchecked row over the
  // file, with the starter preset of printable text.
  void RunOver(const QByteArray& input, const QString& name = "input.bin",
               const char* first = "XOR8") {
    // "Printable text": tab and 32 to 126, 7 or more.
    QVERIFY(veskor::StartRun(window_, dir_->path(), input, name,
                             {{first}, {"NONE"}, {"ADD8", "", false}}));
    QCOMPARE(errors_, QStringList());
  }

  QTableView* TaskGrid() { return veskor::FindControl<QTableView>(window_.get(), "TaskGrid"); }
  QList<ResultsWindow*> ResultsWindows() { return window_->findChildren<ResultsWindow*>(); }

  void DoubleClickResult(int row) {
    QTableView* grid = TaskGrid();
    const QPoint at = grid->visualRect(grid->model()->index(row, veskor::NxResultColumn)).center();
    // A real double click begins with a click.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  }
  // The row's context menu, as a right click opens it.
  QMenu* RowMenu(int row) {
    QTableView* grid = TaskGrid();
    const QPoint at = grid->visualRect(grid->model()->index(row, veskor::NxAlgoColumn)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
    QApplication::sendEvent(grid->viewport(), &event);
    return veskor::FindControl<QMenu>(window_.get(), "TaskMenu");
  }
  ResultsWindow* OpenRow(int row) {
    DoubleClickResult(row);
    const QList<ResultsWindow*> windows = ResultsWindows();
    if (windows.size() != 1) qFatal("the Result cell opened %d windows", int(windows.size()));
    return windows.first();
  }
  static bool Complete(ResultsWindow* results) {
    return results->strings()->state() == StringListModel::State::kComplete;
  }
  // The texts of the listed strings, in order.
  static QStringList ListedTexts(ResultsWindow* results) {
    QStringList texts;
    const StringListModel* model = results->strings();
    for (int row = 0; row < model->rowCount(); ++row) {
      texts << model->index(row, StringListModel::kTextColumn).data().toString();
    }
    return texts;
  }
  void SetFilter(ResultsWindow* results, const QString& text, bool expression) {
    veskor::FindControl<QCheckBox>(results, "chkExpression")->setChecked(expression);
    QLineEdit* filter = veskor::FindControl<QLineEdit>(results, "edFilter");
    filter->clear();
    QTest::keyClicks(filter, text);
  }

 private slots:
  void initTestCase() { StartCase(); }
  void cleanupTestCase() { EndCase(); }
  void init() { StartTest(); }
  void cleanup() { EndTest(); }

  void TheResultCellOpensTheTrueKeyFirstWithItsStrings() {
    RunOver(HiddenText());
    QCOMPARE(window_->tasks().WholeNumber(veskor::NxImageColumn, 0), veskor::kStatusDone);
    const QString tooltip = TaskGrid()
                                ->model()
                                ->index(0, veskor::NxResultColumn)
                                .data(veskor::TaskTableModel::kCountRole)
                                .toString();
    QVERIFY2(tooltip.contains(QRegularExpression("^[0-9,]+ strings; best keys 90 \\(0x5A\\), ")),
             qPrintable(tooltip));
    ResultsWindow* results = OpenRow(0);
    QVERIFY(results != nullptr);
    QVERIFY(results->isWindow() && results->isVisible());
    auto* keys = veskor::FindControl<QTableView>(results, "KeyGrid");
    QCOMPARE(keys->model()->index(0, 0).data().toString(), QString("90 (0x5A)"));
    QCOMPARE(results->SelectedKey(), kTrueKey);
    // "File order", one click away: the strings as the log lists them.
    QTest::mouseClick(veskor::FindControl<QToolButton>(results, "btnFileOrder"), Qt::LeftButton);
    QCOMPARE(results->strings()->order(), StringListModel::Order::kFileOrder);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    // Every string of the key, in the log's order, at the log's positions.
    const QStringList lines = LogLines(Log(), kTrueKey);
    QVERIFY(lines.size() > 20);
    const StringListModel* model = results->strings();
    QCOMPARE(model->rowCount(), lines.size());
    for (int row = 0; row < lines.size(); ++row) {
      QCOMPARE(model->index(row, StringListModel::kPositionColumn).data().toString(),
               lines[row].section(" | ", 1, 1).trimmed());
    }
    for (const char* sentence : kSentences) QVERIFY(ListedTexts(results).contains(sentence));
    // Reopening raises the same window; another key shows its own strings.
    DoubleClickResult(0);
    QCOMPARE(ResultsWindows(), QList<ResultsWindow*>{results});
    const int other = keys->model()->index(1, 0).data().toString().section(' ', 0, 0).toInt();
    results->SelectKey(other);
    QCOMPARE(results->SelectedKey(), other);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    QStringList other_texts;
    for (const QString& line : LogLines(Log(), other)) other_texts << ShownLineText(line);
    QCOMPARE(ListedTexts(results), other_texts);
  }

  void AnAnyRowListsTheHiddenPairFirstWithItsAlgorithmAndStrings() {
    RunOver(RotatedHiddenText(), "input.bin", "ANY");
    QCOMPARE(window_->tasks().WholeNumber(veskor::NxImageColumn, 0), veskor::kStatusDone);
    const QString count = TaskGrid()
                              ->model()
                              ->index(0, veskor::NxResultColumn)
                              .data(veskor::TaskTableModel::kCountRole)
                              .toString();
    QVERIFY2(count.contains(
                 QRegularExpression("^[0-9,]+ strings?; best keys? XOR8ROL 858 \\(0x35A\\)(, |$)")),
             qPrintable(count));
    ResultsWindow* results = OpenRow(0);
    QVERIFY(results->windowTitle().contains("ANY"));
    QVERIFY(veskor::FindControl<QLabel>(results, "lbSource")->text().contains("ANY"));
    const QAbstractItemModel* keys = veskor::FindControl<QTableView>(results, "KeyGrid")->model();
    QCOMPARE(keys->headerData(0, Qt::Horizontal).toString(), QString("Algorithm"));
    QCOMPARE(keys->headerData(1, Qt::Horizontal).toString(), QString("Key"));
    QCOMPARE(keys->index(0, 0).data().toString(), QString("XOR8ROL"));
    QCOMPARE(keys->index(0, 1).data().toString(), QString("858 (0x35A)"));
    QCOMPARE(veskor::RowSummary::PairKey(results->SelectedKey()), 0x35A);
    QVERIFY(veskor::FindControl<QLabel>(results, "lbKey")
                ->text()
                .startsWith("XOR8ROL key 858 (0x35A): score "));
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    const QStringList texts = ListedTexts(results);
    for (const char* sentence : kSentences) QVERIFY2(texts.contains(sentence), sentence);
    // Another pair's strings are its own, under its own algorithm.
    results->SelectKey(results->result()->ShownKeys().at(1));
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    QVERIFY(!ListedTexts(results).contains(kSentences[0]));
  }

  void ARowStoppedBeforeItFoundAStringOpensAndSaysSo() {
    veskor::StopRequested.store(true);  // seen before the first key is searched
    RunOver(HiddenText());
    QCOMPARE(window_->tasks().WholeNumber(veskor::NxImageColumn, 0), veskor::kStatusStopped);
    ResultsWindow* results = OpenRow(0);
    QCOMPARE(veskor::FindControl<QLabel>(results, "lbSource")->text().section(": ", -1),
             "0 strings (stopped)");
    QCOMPARE(veskor::FindControl<QTableView>(results, "KeyGrid")->model()->rowCount(), 0);
    QCOMPARE(veskor::FindControl<QStackedWidget>(results, "StringStack")->currentWidget(),
             veskor::FindControl<QLabel>(results, "lbMessage"));
    QVERIFY(veskor::FindControl<QLabel>(results, "lbMessage")
                ->text()
                .startsWith(veskor::kNoStringsMessage));
  }

  void TheRowMenuOpensOnlyARowThatHasResults() {
    RunOver(HiddenText());
    QMenu* menu = RowMenu(2);  // unchecked: it did not run
    QVERIFY(menu->isVisible());
    auto* show = veskor::FindControl<QAction>(menu, "actShowResults");
    QVERIFY(!show->isEnabled());
    menu->hide();
    RowMenu(0);
    QVERIFY(show->isEnabled());
    show->trigger();
    QCOMPARE(ResultsWindows().size(), 1);
    QCOMPARE(ResultsWindows().first()->result(), window_->results().Find(window_->tasks(), 0));
  }

  void TheFilterNarrowsTheStrings_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("expression");
    QTest::addColumn<QString>("pattern");  // what the expected texts match
    QTest::addColumn<QString>("error");
    QTest::newRow("plain, any case") << "QUICK" << false << "(?i)quick" << QString();
    QTest::newRow("expression") << "(fox|key)\\.$" << true << "(fox|key)\\.$" << QString();
    QTest::newRow("invalid expression")
        << "(fox" << true << QString() << "RegExp(comp): ParseReg Unmatched () (pos 4)";
  }
  void TheFilterNarrowsTheStrings() {
    QFETCH(QString, filter);
    QFETCH(bool, expression);
    QFETCH(QString, pattern);
    QFETCH(QString, error);
    RunOver(HiddenText());
    ResultsWindow* results = OpenRow(0);
    SetFilter(results, filter, expression);
    auto* error_label = veskor::FindControl<QLabel>(results, "lbFilterError");
    QCOMPARE(error_label->isVisible(), !error.isEmpty());
    if (!error.isEmpty()) {
      QCOMPARE(error_label->text(), error);
      QCOMPARE(results->strings()->rowCount(), 0);
      QVERIFY(veskor::FindControl<QLabel>(results, "lbKey")
                  ->text()
                  .startsWith("Key 90 (0x5A): score "));
      QVERIFY(!veskor::FindControl<QPushButton>(results, "btnSave")->isEnabled());
      return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    QStringList expected;
    for (const QString& line : LogLines(Log(), kTrueKey)) {
      if (LineText(line).contains(QRegularExpression(pattern))) expected << ShownLineText(line);
    }
    QVERIFY(expected.size() >= 4);
    QCOMPARE(ListedTexts(results), expected);
    QCOMPARE(veskor::FindControl<QLabel>(results, "lbCount")->text(),
             QStringLiteral("%1 strings match").arg(expected.size()));
  }

  void CopyPutsTheSelectedLinesOnTheClipboard() {
    RunOver(HiddenText());
    ResultsWindow* results = OpenRow(0);
    results->SetOrder(StringListModel::Order::kFileOrder);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    const QStringList lines = LogLines(Log(), kTrueKey);
    auto* grid = veskor::FindControl<QTableView>(results, "StringGrid");
    QItemSelectionModel* selection = grid->selectionModel();
    const QAbstractItemModel* model = grid->model();
    selection->select(QItemSelection(model->index(1, 0), model->index(3, 0)),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    // The copy runs in slices from the event loop: on a busy machine it takes more than one.
    QTRY_VERIFY_WITH_TIMEOUT(!results->busy(), 60000);
    QCOMPARE(QGuiApplication::clipboard()->text(), lines.mid(1, 3).join('\n') + '\n');
    // Rows apart, from the menu.
    selection->select(QItemSelection(model->index(0, 0), model->index(0, 0)),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selection->select(QItemSelection(model->index(5, 0), model->index(5, 0)),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    veskor::FindControl<QAction>(results, "actCopy")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!results->busy(), 60000);
    QCOMPARE(QGuiApplication::clipboard()->text(), lines[0] + '\n' + lines[5] + '\n');
  }

  void SaveWritesTheShownLines_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("every string") << QString() << false;
    QTest::newRow("filtered") << "the" << false;
    QTest::newRow("cancelled") << QString() << true;
  }
  void SaveWritesTheShownLines() {
    QFETCH(QString, filter);
    QFETCH(bool, cancel);
    RunOver(HiddenText());
    ResultsWindow* results = OpenRow(0);
    SetFilter(results, filter, false);
    save_to_ = cancel ? QString() : InDir("saved.log");
    veskor::FindControl<QPushButton>(results, "btnSave")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!results->busy(), 60000);
    QCOMPARE(errors_, QStringList());
    if (cancel) {
      QVERIFY(!QFile::exists(InDir("saved.log")));
      return;
    }
    QByteArray expected;
    for (const QString& line : LogLines(Log(), kTrueKey)) {
      if (LineText(line).contains(filter, Qt::CaseInsensitive))
        expected += line.toLatin1() + "\r\n";
    }
    QCOMPARE(ReadBytes(InDir("saved.log")), expected);
    QVERIFY(veskor::FindControl<QLabel>(results, "lbCount")
                ->text()
                .endsWith(" saved to " + InDir("saved.log")));
  }

  void AChangedFileIsSaidInsteadOfItsStrings() {
    RunOver(HiddenText());
    QFile input(InDir("input.bin"));
    QVERIFY(input.open(QIODevice::Append));
    QCOMPARE(input.write("x", 1), qint64(1));
    input.close();
    ResultsWindow* results = OpenRow(0);
    QCOMPARE(results->strings()->state(), StringListModel::State::kChanged);
    auto* stack = veskor::FindControl<QStackedWidget>(results, "StringStack");
    auto* message = veskor::FindControl<QLabel>(results, "lbMessage");
    QCOMPARE(stack->currentWidget(), message);
    QVERIFY(message->text().startsWith(
        "The file has changed since the run: its size, modification time, change time and "
        "content are not what the run read, so its strings are not shown."));
    QCOMPARE(results->strings()->rowCount(), 0);
    QVERIFY(!veskor::FindControl<QPushButton>(results, "btnSave")->isEnabled());
    // The ranking is the run's and stays.
    QVERIFY(veskor::FindControl<QTableView>(results, "KeyGrid")->model()->rowCount() > 1);
    // Typing into the filter keeps every key press and the focus; the count says why it has
    // no figures.
    auto* filter = veskor::FindControl<QLineEdit>(results, "edFilter");
    QTRY_VERIFY([results] {
      if (QApplication::activeWindow() != results) results->activateWindow();
      return QApplication::activeWindow() == results;
    }());
    filter->setFocus();
    QTest::keyClicks(filter, "station");
    QCOMPARE(filter->text(), QString("station"));
    QVERIFY(filter->isEnabled() && filter->hasFocus());
    QTRY_COMPARE_WITH_TIMEOUT(veskor::FindControl<QLabel>(results, "lbMatches")->text(),
                              QString(veskor::kChangedMatchesMessage), 60000);
    QVERIFY(filter->hasFocus());
  }

  // A key opens with the strings its score came from on top, marked and best first, the others
  // after them in the file's order; Enter on the key selects its best string in any order, and
  // the sorted orders sort.
  void AKeyOpensBestFirstAndEnterGoesToItsBestString() {
    RunOver(HiddenText());
    ResultsWindow* results = OpenRow(0);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    const StringListModel* model = results->strings();
    QCOMPARE(model->order(), StringListModel::Order::kBestFirst);
    const veskor::KeySummary& key = (*results->result()->summary)[kTrueKey];
    const std::vector<veskor::BestString>& best = key.Best();
    QVERIFY(!best.empty());
    auto position = [model](int row) { return model->StringAt(row)->position; };
    std::set<uint64_t> positions;
    for (int row = 0; row < model->rowCount(); ++row) {
      QCOMPARE(model->Marked(row), row < int(best.size()));
      if (row < int(best.size())) QCOMPARE(position(row), best[size_t(row)].position);
      if (row > int(best.size())) QVERIFY(position(row - 1) < position(row));
      positions.insert(position(row));
    }
    // Every string once: the log's strings.
    QCOMPARE(int(positions.size()), LogLines(Log(), kTrueKey).size());

    auto* keys = veskor::FindControl<QTableView>(results, "KeyGrid");
    auto* strings = veskor::FindControl<QTableView>(results, "StringGrid");
    const struct {
      const char* button;
      int column;  // whose numbers go down the list; -1: none
    } orders[] = {{"btnFileOrder", StringListModel::kPositionColumn},
                  {"btnByLength", StringListModel::kLengthColumn},
                  {"btnByScore", StringListModel::kScoreColumn},
                  {"btnBestFirst", -1}};
    for (const auto& order : orders) {
      QTest::mouseClick(veskor::FindControl<QToolButton>(results, order.button), Qt::LeftButton);
      QTRY_VERIFY_WITH_TIMEOUT(Complete(results) && model->rowCount() == int(positions.size()),
                               60000);
      for (int row = 1; order.column >= 0 && row < model->rowCount(); ++row) {
        const double above = model->index(row - 1, order.column).data().toDouble();
        const double here = model->index(row, order.column).data().toDouble();
        QVERIFY2(order.column == StringListModel::kPositionColumn ? above < here : above >= here,
                 order.button);
      }
      strings->setCurrentIndex(model->index(model->rowCount() - 1, 0));
      keys->setFocus();
      QTest::keyClick(keys, Qt::Key_Return);
      QTRY_VERIFY(strings->hasFocus());
      QCOMPARE(position(strings->currentIndex().row()), key.BestPosition());
    }
  }

  // Another file's bytes written over the input in place, its time put back: the listing is
  // complete and its rows are cached, yet a save, a copy or a rule reads the file again and
  // must give none of the other file's strings.
  void AFileRewrittenInPlaceGivesNoneOfItsStrings_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("save") << "save";
    QTest::newRow("copy") << "copy";
    QTest::newRow("YARA rule") << "rule";
  }
  void AFileRewrittenInPlaceGivesNoneOfItsStrings() {
    QFETCH(QString, action);
    RunOver(HiddenText());
    ResultsWindow* results = OpenRow(0);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    auto* grid = veskor::FindControl<QTableView>(results, "StringGrid");
    const QAbstractItemModel* model = grid->model();
    grid->selectionModel()->select(QItemSelection(model->index(0, 0), model->index(3, 0)),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QByteArray other = HiddenText();
    for (char& byte : other) byte = static_cast<char>(byte ^ 0x33);
    QVERIFY(veskor::RewriteKeepingTime(InDir("input.bin"), other));
    QGuiApplication::clipboard()->setText("as it was");
    save_to_ = InDir("saved.log");
    const QString changed =
        "The file has changed since the run: its change time and content are not what the run "
        "read, so its strings are not shown. Run the task again to see them.";
    auto* count = veskor::FindControl<QLabel>(results, "lbCount");
    if (action == "save") {
      veskor::FindControl<QPushButton>(results, "btnSave")->click();
      QTRY_VERIFY_WITH_TIMEOUT(!results->busy(), 60000);
      QCOMPARE(count->text(),
               "The file has changed, so nothing was saved; " + save_to_ + " is as it was");
      // Neither the name nor a temporary file beside it.
      QCOMPARE(QDir(dir_->path()).entryList({"*saved.log*"}, QDir::Files | QDir::Hidden),
               QStringList());
    } else if (action == "copy") {
      QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
      QTRY_VERIFY_WITH_TIMEOUT(!results->busy(), 60000);
      QCOMPARE(count->text(),
               QString("The file has changed, so nothing was copied; the clipboard is as it was"));
    } else {
      veskor::FindControl<QAction>(results, "actCopyYara")->trigger();
      QCOMPARE(count->text(), changed);
    }
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("as it was"));
    if (action != "rule") {
      QCOMPARE(results->strings()->state(), StringListModel::State::kChanged);
      QCOMPARE(veskor::FindControl<QLabel>(results, "lbMessage")->text(),
               changed + "\n\n" + InDir("input.bin"));
    }
    QCOMPARE(errors_, QStringList());
  }

  void AnXorkRowListsTheKeysItFoundAsTheirBytes() {
    RunOver(RepeatingKeyText(), "input.bin", "XORK");
    ResultsWindow* results = OpenRow(0);
    const QAbstractItemModel* keys = veskor::FindControl<QTableView>(results, "KeyGrid")->model();
    QCOMPARE(keys->index(0, 0).data().toString(), QString("0x8c61d263c5"));
    QCOMPARE(results->SelectedKey(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    // The log writes the key's place; the list is the key's strings found again.
    const QStringList lines = LogLines(InDir("input.bin_XORK.log"), 1);
    QCOMPARE(results->strings()->rowCount(), lines.size());
    QVERIFY(ListedTexts(results).contains(QString(kSentences[1])));
  }

  void ANoneRowShowsOneKeyAndResultsFollowTheirRowInASort() {
    RunOver(HiddenText());
    // Unchecked rows first: ADD8, XOR8, NONE.
    window_->tasks().SortByColumn(veskor::NxUseColumn);
    ResultsWindow* results = OpenRow(2);
    QCOMPARE(veskor::FindControl<QTableView>(results, "KeyGrid")->model()->rowCount(), 1);
    QCOMPARE(results->SelectedKey(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    QCOMPARE(results->strings()->rowCount(), LogLines(InDir("input.bin_NONE.log"), 1).size());
  }

  void AResetEndsTheRowsResultsAndTheirWindows() {
    RunOver(HiddenText());
    QPointer<ResultsWindow> results = OpenRow(0);
    QVERIFY(results);
    veskor::FindControl<QPushButton>(window_.get(), "btnReset")->click();
    QTRY_VERIFY_WITH_TIMEOUT(results.isNull(), 60000);
    QCOMPARE(window_->results().size(), size_t{0});
    QCOMPARE(window_->ShowResults(0), nullptr);
  }

  void AScreenshotOnRequest() {
    const QString folder = qEnvironmentVariable("VESKOR_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("VESKOR_SCREENSHOT_DIR is not set");
    QVERIFY(QDir().mkpath(folder));
    // /usr/bin/ls as it is, a URL and a password stored in it under XOR8 0x5A between zero
    // bytes, which the key reads as "Z": best first, they open the key's list.
    QByteArray program = ReadBytes("/usr/bin/ls");
    const struct {
      int at;
      const char* text;
    } hidden[] = {{0x3000, "https://update.example.net/gate.php?id=7731&os=linux"},
                  {0x9000, "password: Tr0ub4dor&3 (the archive on the backup share)"}};
    for (const auto& plant : hidden) {
      QByteArray text = QByteArray(1, '\0') + plant.text + QByteArray(1, '\0');
      for (char& byte : text) byte = static_cast<char>(byte ^ kTrueKey);
      program.replace(plant.at, text.size(), text);
    }
    RunOver(program, "ls.xor");
    ResultsWindow* results = OpenRow(0);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    QCOMPARE(results->SelectedKey(), kTrueKey);
    const QString first = QString::fromStdString(results->strings()->StringAt(0)->text);
    QVERIFY2(first.contains("example.net") || first.contains("password"), qPrintable(first));
    auto* grid = veskor::FindControl<QTableView>(results, "StringGrid");
    grid->setCurrentIndex(grid->model()->index(0, 0));
    QVERIFY(results->grab().save(QDir(folder).filePath("results-window.png")));

    // An ANY row over the same sentences under XOR8ROL 0x35A.
    RunOver(RotatedHiddenText(), "input.bin", "ANY");
    results = OpenRow(0);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    grid = veskor::FindControl<QTableView>(results, "StringGrid");
    grid->setCurrentIndex(grid->model()->index(0, 0));
    QVERIFY(results->grab().save(QDir(folder).filePath("results-any.png")));
  }
};

QTEST_MAIN(ResultsWindowTest)
#include "results_window_test.moc"
