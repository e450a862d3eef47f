// The Results window's detail pane and copies, driven as a user would after a real run: a URL
// hidden under XOR8 0x5A near the file's start and a string of 5,000 characters, shown whole with
// the bytes around them; "Copy text only", "Copy line", "Copy key"; a changed file shows nothing;
// an ANY row's pair read under its own algorithm.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <random>

#include "tasks/table_file.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/main_window.h"
#include "ui/results/results_test_run.h"
#include "ui/results/results_window.h"
#include "ui/task_table_model.h"
#include "ui/test_files.h"

using veskor::ResultsWindow;
using veskor::StringListModel;

namespace {

constexpr int kKey = 0x5A;
const QByteArray kUrl = "http://update.example-cdn.net/gate.php?id=7731&k=zq90";  // 53
constexpr int kUrlAt = 100;  // fewer than 256 bytes before it
constexpr int kLongAt = 20000;
// Where a line's decoded text begins: its 8 offset digits, two spaces, 16 bytes in hex with a
// gap after the eighth, two spaces.
constexpr int kTextColumn = 8 + 2 + 16 * 3 + 1 + 1;

// 5,000 characters of sentences, each ending in a tab.
QByteArray LongString() {
  QByteArray text;
  for (int i = 0; text.size() < 5000; ++i) {
    text += "The archive holds record " + QByteArray::number(i) + " of the ledger;\t";
  }
  return text.left(5000);
}

// 64 KiB of random bytes with the URL and the long string between zero bytes, all stored under
// XOR8 kKey; `tail` appended as it is.
QByteArray HiddenStrings(const QByteArray& tail = QByteArray()) {
  QByteArray bytes(64 << 10, Qt::Uninitialized);
  std::mt19937 random(26);
  for (char& byte : bytes) byte = static_cast<char>(random());
  for (const auto& [at, text] : {std::pair{kUrlAt, kUrl}, std::pair{kLongAt, LongString()}}) {
    bytes.replace(at, text.size(), text);
    bytes[at - 1] = '\0';
    bytes[at + text.size()] = '\0';
  }
  for (char& byte : bytes) byte = static_cast<char>(byte ^ kKey);
  return bytes + tail;
}

// The lines of `key` in a log in the default format, without their CR LF.
QStringList LogLines(const QString& log, int key) {
  const QString prefix = QStringLiteral("%1 | ").arg(key, 3);
  QStringList lines;
  for (const QByteArray& line : veskor::ReadBytes(log).split('\n')) {
    const QString text = QString::fromLatin1(line.chopped(line.endsWith('\r') ? 1 : 0));
    if (text.startsWith(prefix)) lines << text;
  }
  return lines;
}

}  // namespace

class ResultsDetailTest : public veskor::ResultsTest {
  Q_OBJECT

 private:
  // `algorithm` over all keys with the starter preset of printable text, its Results window open on
  // the best key with every string listed.
  ResultsWindow* RunAndOpen(const QByteArray& input, const QString& name = "input.bin",
                            const char* algorithm = "XOR8") {
    if (!veskor::StartRun(window_, dir_->path(), input, name, {{algorithm}})) return nullptr;
    ResultsWindow* results = window_->ShowResults(0);
    if (results == nullptr) return nullptr;
    if (!QTest::qWaitFor(
            [&] { return results->strings()->state() == StringListModel::State::kComplete; },
            60000)) {
      return nullptr;
    }
    return results;
  }

  // The listed row whose text begins with `text`, or -1.
  static int RowOf(ResultsWindow* results, const QByteArray& text) {
    const StringListModel* model = results->strings();
    for (int row = 0; row < model->rowCount(); ++row) {
      const veskor::FoundString* found = model->StringAt(row);
      if (found != nullptr && found->text.starts_with(text.toStdString())) return row;
    }
    return -1;
  }

  // The middle of the row's text cell, scrolled into sight.
  static QPoint CellCenter(QTableView* grid, int row) {
    const QModelIndex index = grid->model()->index(row, StringListModel::kTextColumn);
    grid->scrollTo(index);
    return grid->visualRect(index).center();
  }

  // The byte view's lines: the offset of each, and their decoded texts one after another.
  static void ReadByteView(ResultsWindow* results, QList<qulonglong>& offsets, QString& text) {
    const QString view =
        veskor::FindControl<QPlainTextEdit>(results, "edDetailBytes")->toPlainText();
    for (const QString& line : view.split(QLatin1Char('\n'))) {
      offsets << line.left(8).toULongLong(nullptr, 16);
      text += line.mid(kTextColumn);
    }
  }

 private slots:
  void initTestCase() { StartCase(); }
  void cleanupTestCase() { EndCase(); }
  void init() { StartTest(); }
  void cleanup() {
    EndTest();
    QCOMPARE(errors_, QStringList());
  }

  void AClickShowsTheHiddenUrlWithTheBytesAroundIt() {
    ResultsWindow* results = RunAndOpen(HiddenStrings());
    QVERIFY(results != nullptr);
    QCOMPARE(results->SelectedKey(), kKey);
    auto* detail = veskor::FindControl<QWidget>(results, "detailPane");
    auto* header = veskor::FindControl<QLabel>(detail, "lbDetail");
    auto* text = veskor::FindControl<QPlainTextEdit>(detail, "edDetailText");
    QVERIFY(text->toPlainText().isEmpty());
    auto* grid = veskor::FindControl<QTableView>(results, "StringGrid");
    const int row = RowOf(results, kUrl);
    QVERIFY(row >= 0);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, CellCenter(grid, row));
    QCOMPARE(grid->currentIndex().row(), row);

    QCOMPARE(text->toPlainText(), QString::fromLatin1(kUrl));
    QCOMPARE(header->text(), QString("Key 90 (0x5A), position 0x64 (100), 53 characters"));
    // From the file's start, fewer than 256 bytes before the URL, to 256 and more after it.
    QList<qulonglong> offsets;
    QString decoded;
    ReadByteView(results, offsets, decoded);
    QCOMPARE(offsets.first(), 0ull);
    QVERIFY(offsets.last() + 16 >= qulonglong(kUrlAt + kUrl.size() + 256));
    QVERIFY2(decoded.contains(QString::fromLatin1(kUrl)), qPrintable(decoded));
    // The URL's bytes are marked: in hex, then as text, line by line.
    QString marked;
    const auto marks =
        veskor::FindControl<QPlainTextEdit>(detail, "edDetailBytes")->extraSelections();
    for (int i = 1; i < marks.size(); i += 2) marked += marks[i].cursor.selectedText();
    QCOMPARE(marked, QString::fromLatin1(kUrl));
    QString stored;
    for (char c : kUrl.left(3)) stored += QString::asprintf("%02X ", uint8_t(c ^ kKey));
    QVERIFY(marks[0].cursor.selectedText().startsWith(stored));
  }

  void ADoubleClickShowsALongStringWholeAndKeysMoveOn() {
    ResultsWindow* results = RunAndOpen(HiddenStrings());
    QVERIFY(results != nullptr);
    results->SetOrder(StringListModel::Order::kFileOrder);
    auto* text = veskor::FindControl<QPlainTextEdit>(results, "edDetailText");
    auto* header = veskor::FindControl<QLabel>(results, "lbDetail");
    auto* grid = veskor::FindControl<QTableView>(results, "StringGrid");
    auto* splitter = veskor::FindControl<QSplitter>(results, "StringSplitter");
    const int row = RowOf(results, LongString().left(40));
    QVERIFY(row > 0);
    // The cell cuts the string; the pane, dragged shut, opens again on a double click.
    QVERIFY(grid->model()->index(row, StringListModel::kTextColumn).data().toString().size() <
            5000);
    splitter->setSizes({500, 0});
    const QPoint at = CellCenter(grid, row);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QVERIFY(splitter->sizes().value(1) > 0);
    QString whole = QString::fromLatin1(LongString());
    whole.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    QCOMPARE(text->toPlainText(), whole);
    QCOMPARE(header->text(),
             QStringLiteral("Key 90 (0x5A), position 0x4E20 (20000), 5,000 characters"));
    QList<qulonglong> offsets;
    QString decoded;
    ReadByteView(results, offsets, decoded);
    QCOMPARE(offsets.first(), qulonglong((kLongAt - 256) / 16 * 16));
    QCOMPARE(offsets.last(), qulonglong((kLongAt + 5000 + 256 - 1) / 16 * 16));
    // The string's beginning in sight: the text from its start, the bytes from three lines before.
    QCOMPARE(text->verticalScrollBar()->value(), 0);
    QCOMPARE(
        veskor::FindControl<QPlainTextEdit>(results, "edDetailBytes")->verticalScrollBar()->value(),
        (kLongAt - int(offsets.first())) / 16 - 3);

    // The key above moves the pane to the string before.
    QTest::keyClick(grid, Qt::Key_Up);
    QCOMPARE(grid->currentIndex().row(), row - 1);
    QString before = QString::fromStdString(results->strings()->StringAt(row - 1)->text);
    QCOMPARE(text->toPlainText(), before.replace(QLatin1Char('\t'), QStringLiteral("\\t")));
    QVERIFY(header->text().startsWith("Key 90 (0x5A), position 0x"));
  }

  void TheCopiesPutTextLineAndKeyOnTheClipboard() {
    ResultsWindow* results = RunAndOpen(HiddenStrings());
    QVERIFY(results != nullptr);
    results->SetOrder(StringListModel::Order::kFileOrder);
    auto* grid = veskor::FindControl<QTableView>(results, "StringGrid");
    const int url = RowOf(results, kUrl);
    const int long_row = RowOf(results, LongString().left(40));
    QVERIFY(url >= 0 && long_row > url);
    QItemSelectionModel* selection = grid->selectionModel();
    const QAbstractItemModel* model = grid->model();
    selection->select(QItemSelection(model->index(url, 0), model->index(url, 0)),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selection->select(QItemSelection(model->index(long_row, 0), model->index(long_row, 0)),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QApplication::setActiveWindow(results);
    QVERIFY(QTest::qWaitForWindowActive(results, 60000));
    grid->setFocus();
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QStringList lines = LogLines(InDir("input.bin_XOR8.log"), kKey);
    QStringList expected_lines;
    for (const QString& line : lines) {
      if (line.endsWith(QStringLiteral(" | ") + QString::fromLatin1(kUrl)) ||
          line.contains(" | The archive holds record 0 ")) {
        expected_lines << line;
      }
    }
    QCOMPARE(expected_lines.size(), 2);
    struct Copy {
      const char* name;
      const char* action;
      QKeySequence keys;
      QString expected;
    } copies[] = {
        {"text only", "actCopyText", QKeySequence("Ctrl+Shift+C"),
         QString::fromLatin1(kUrl + '\n' + LongString() + '\n')},
        {"line", "actCopy", QKeySequence::Copy, expected_lines.join('\n') + '\n'},
        {"key", "actCopyKey", QKeySequence("Ctrl+Shift+K"), "90 (0x5A)"},
    };
    for (const Copy& copy : copies) {
      // By the keys, then by the menu.
      clipboard->clear();
      QTest::keySequence(grid, copy.keys);
      QVERIFY2(clipboard->text() == copy.expected, copy.name);
      clipboard->clear();
      veskor::FindControl<QAction>(results, copy.action)->trigger();
      QVERIFY2(clipboard->text() == copy.expected, copy.name);
    }
  }

  // The header says what tells the file apart from the run's, whole: it wraps at the pane's
  // edge.
  void AChangedFileShowsNoBytes_data() {
    QTest::addColumn<bool>("append");
    QTest::addColumn<QString>("what");
    QTest::newRow("a byte appended")
        << true << "its size, modification time, change time and content are";
    QTest::newRow("rewritten in place, its time put back")
        << false << "its change time and content are";
  }
  void AChangedFileShowsNoBytes() {
    QFETCH(bool, append);
    QFETCH(QString, what);
    ResultsWindow* results = RunAndOpen(HiddenStrings());
    QVERIFY(results != nullptr);
    auto* grid = veskor::FindControl<QTableView>(results, "StringGrid");
    auto* bytes = veskor::FindControl<QPlainTextEdit>(results, "edDetailBytes");
    const int url = RowOf(results, kUrl);
    grid->setCurrentIndex(grid->model()->index(url, 0));
    QVERIFY(!bytes->toPlainText().isEmpty());
    if (append) {
      // Past the change time the run saw, so that the append gives the file new times.
      QVERIFY(veskor::RewriteKeepingTime(InDir("input.bin"), QByteArray()));
      QFile input(InDir("input.bin"));
      QVERIFY(input.open(QIODevice::Append));
      QCOMPARE(input.write("x", 1), qint64(1));
      input.close();
    } else {
      QByteArray other = HiddenStrings();
      for (char& byte : other) byte = static_cast<char>(byte ^ 0x33);
      QVERIFY(veskor::RewriteKeepingTime(InDir("input.bin"), other));
    }
    // Another string, from the rows already fetched or not: no bytes of the changed file.
    grid->setCurrentIndex(grid->model()->index(url + 1, 0));
    QVERIFY(bytes->toPlainText().isEmpty());
    QVERIFY(veskor::FindControl<QPlainTextEdit>(results, "edDetailText")->toPlainText().isEmpty());
    auto* header = veskor::FindControl<QLabel>(results, "lbDetail");
    QCOMPARE(header->text(), "The file has changed since the run: " + what +
                                 " not what the run read, so its strings are not shown. Run the "
                                 "task again to see them.");
    // Longer than the pane is wide, and shown whole on the lines it takes.
    QVERIFY(header->fontMetrics().horizontalAdvance(header->text()) > header->width());
    QTRY_VERIFY_WITH_TIMEOUT(header->heightForWidth(header->width()) > 0 &&
                                 header->height() >= header->heightForWidth(header->width()),
                             60000);
  }

  void AnAnyRowsPairIsShownUnderItsOwnAlgorithm() {
    // The URL stored as XOR8ROL 0x35A reads it back: each byte d as ror(d, 3) ^ 0x5A.
    QByteArray input = HiddenStrings();
    for (char& byte : input) byte = static_cast<char>(byte ^ kKey);
    for (int i = kUrlAt; i < kUrlAt + kUrl.size(); ++i) {
      const auto d = static_cast<uint8_t>(input[i]);
      input[i] = static_cast<char>(static_cast<uint8_t>((d >> 3) | (d << 5)) ^ 0x5A);
    }
    input[kUrlAt - 1] = input[kUrlAt + kUrl.size()] = 0x5A;  // zero bytes under the pair
    ResultsWindow* results = RunAndOpen(input, "input.bin", "ANY");
    QVERIFY(results != nullptr);
    results->SelectKey(veskor::RowSummary::PairId(8, 0x35A));  // XOR8ROL's place in the table
    QTRY_VERIFY_WITH_TIMEOUT(results->strings()->state() == StringListModel::State::kComplete,
                             60000);
    auto* grid = veskor::FindControl<QTableView>(results, "StringGrid");
    const int row = RowOf(results, kUrl);
    QVERIFY(row >= 0);
    grid->setCurrentIndex(grid->model()->index(row, 0));
    QCOMPARE(veskor::FindControl<QPlainTextEdit>(results, "edDetailText")->toPlainText(),
             QString::fromLatin1(kUrl));
    QCOMPARE(veskor::FindControl<QLabel>(results, "lbDetail")->text(),
             QString("XOR8ROL key 858 (0x35A), position 0x64 (100), 53 characters"));
    QList<qulonglong> offsets;
    QString decoded;
    ReadByteView(results, offsets, decoded);
    QVERIFY2(decoded.contains(QString::fromLatin1(kUrl)), qPrintable(decoded));
  }

  void AScreenshotOnRequest() {
    const QString folder = qEnvironmentVariable("VESKOR_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("VESKOR_SCREENSHOT_DIR is not set");
    // /usr/bin/ls with the URL appended, stored under XOR8 0x5A.
    QByteArray program = veskor::ReadBytes("/usr/bin/ls") + '\0' + kUrl + '\0';
    for (char& byte : program) byte = static_cast<char>(byte ^ kKey);
    ResultsWindow* results = RunAndOpen(program, "ls.xor");
    QVERIFY(results != nullptr);
    results->resize(1100, 720);
    // The search across keys for "http", its count ended, beside the detail pane.
    veskor::FindControl<QLineEdit>(results, "edFilter")->setText("http");
    QTRY_VERIFY_WITH_TIMEOUT(!veskor::FindControl<QLabel>(results, "lbMatches")->text().isEmpty(),
                             60000);
    auto* grid = veskor::FindControl<QTableView>(results, "StringGrid");
    QTRY_VERIFY_WITH_TIMEOUT(RowOf(results, kUrl) >= 0, 60000);
    const int row = RowOf(results, kUrl);
    QVERIFY(row >= 0);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, CellCenter(grid, row));
    QCOMPARE(veskor::FindControl<QPlainTextEdit>(results, "edDetailText")->toPlainText(),
             QString::fromLatin1(kUrl));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(results->grab().save(QDir(folder).filePath("results-detail.png")));
  }
};

QTEST_MAIN(ResultsDetailTest)
#include "results_detail_test.moc"
