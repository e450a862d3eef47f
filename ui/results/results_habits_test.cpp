// The Results window's habits, driven as a user would after real runs: a copy of a million lines
// that leaves the window answering and can be cancelled, windows that outlive a new run, the
// keyboard, header sorts, the remembered place, the filter's words and the log link.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <random>
#include <vector>

#include "tasks/table_file.h"
#include "ui/desktop.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/main_window.h"
#include "ui/results/key_list_view.h"
#include "ui/results/results_test_run.h"
#include "ui/results/results_window.h"
#include "ui/task_table_model.h"
#include "ui/test_files.h"

using veskor::KeyListView;
using veskor::ResultsWindow;
using veskor::StringListModel;
using veskor::TfrmMain;

namespace {

constexpr int kTrueKey = 0x5A;
constexpr int kMillion = 1'000'000;
const char kUrl[] = "http://update.example.org/gate.php?id=7731&os=linux";

// 256 KiB of random bytes with the URL planted a few times between zero bytes, all stored under
// XOR8 kTrueKey.
QByteArray HiddenUrl() {
  QByteArray bytes(256 << 10, Qt::Uninitialized);
  std::mt19937 random(21);
  for (char& byte : bytes) byte = static_cast<char>(random());
  for (int at = 4000; at < bytes.size() - 200; at += 50000) {
    const QByteArray text = QByteArray(1, '\0') + kUrl + QByteArray(1, '\0');
    bytes.replace(at, text.size(), text);
  }
  for (char& byte : bytes) byte = static_cast<char>(byte ^ kTrueKey);
  return bytes;
}

// A million strings of eight characters between zero bytes, as they are (NONE finds them).
QByteArray MillionStrings() {
  QByteArray bytes;
  bytes.reserve(kMillion * 9);
  char word[16];
  for (int i = 0; i < kMillion; ++i) {
    std::snprintf(word, sizeof word, "w%07d", i);
    bytes.append(word, 8).append('\0');
  }
  return bytes;
}

// The lines of `key` in a log in the default format, without their CR LF.
QStringList LogLines(const QString& log, int key) {
  const QByteArray prefix = QStringLiteral("%1 | ").arg(key, 3).toLatin1();
  QStringList lines;
  for (const QByteArray& line : veskor::ReadBytes(log).split('\n')) {
    if (line.startsWith(prefix)) lines << QString::fromLatin1(line.chopped(1));
  }
  return lines;
}

}  // namespace

class ResultsHabitsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir settings_dir_;
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TfrmMain> window_;
  QStringList errors_;
  QStringList messages_;

  QString InDir(const QString& name) const { return dir_->filePath(name); }

  // A run over `input` of one row per algorithm, all keys (or `key`), with the starter preset
  // of printable text (tab and 32 to 126, 7 or more).
  void RunOver(const QByteArray& input, std::initializer_list<const char*> algorithms,
               const char* key = "") {
    std::vector<veskor::TestRow> rows;
    for (const char* algorithm : algorithms) rows.push_back({algorithm, key});
    QVERIFY(veskor::StartRun(window_, dir_->path(), input, "input.bin", rows));
    QCOMPARE(errors_, QStringList());
  }
  void Analyze() {
    veskor::FindControl<QPushButton>(window_.get(), "btnAnalyze")->click();
    QCOMPARE(errors_, QStringList());
  }

  QTableView* TaskGrid() { return veskor::FindControl<QTableView>(window_.get(), "TaskGrid"); }
  QList<ResultsWindow*> OpenWindows() {
    QList<ResultsWindow*> open;
    for (ResultsWindow* results : window_->findChildren<ResultsWindow*>()) {
      if (results->isVisible()) open << results;
    }
    return open;
  }
  void ClickCell(int column, int row) {
    QTableView* grid = TaskGrid();
    const QPoint at = grid->visualRect(grid->model()->index(row, column)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  }
  // The row's Result cell, double-clicked: the window it opened or raised.
  ResultsWindow* OpenRow(int row) {
    QTableView* grid = TaskGrid();
    const QPoint at = grid->visualRect(grid->model()->index(row, veskor::NxResultColumn)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    // The window the double click opened, or raised.
    return window_->ShowResults(row);
  }
  static bool Complete(ResultsWindow* results) {
    return results->strings()->state() == StringListModel::State::kComplete;
  }
  // The window made the active one, for its shortcuts; the double click that opened it may
  // still have the main window's activation on its way.
  static void Activate(ResultsWindow* results) {
    QTRY_VERIFY([results] {
      if (QApplication::activeWindow() != results) results->activateWindow();
      return QApplication::activeWindow() == results;
    }());
  }
  // The keys in the order the list shows them.
  static std::vector<int> ShownKeys(ResultsWindow* results) {
    auto* keys = veskor::FindControl<KeyListView>(results, "KeyGrid");
    std::vector<int> shown;
    for (int row = 0; row < keys->model()->rowCount(); ++row) shown.push_back(keys->KeyAt(row));
    return shown;
  }
  // Clicks the key list's header of the column named `name`.
  static void ClickHeader(ResultsWindow* results, const QString& name) {
    QTableView* grid = veskor::FindControl<QTableView>(results, "KeyGrid");
    QHeaderView* header = grid->horizontalHeader();
    int section = 0;
    while (section < header->count() &&
           grid->model()->headerData(section, Qt::Horizontal).toString() != name) {
      ++section;
    }
    QVERIFY2(section < header->count(), qPrintable(name));
    const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  }
  // A window over a million strings, every one listed and selected.
  void SelectAMillion(ResultsWindow** results) {
    // NONE reads alike under every key: one is enough.
    RunOver(MillionStrings(), {"NONE"}, "1");
    *results = OpenRow(0);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(*results), 180000);
    QCOMPARE((*results)->strings()->rowCount(), kMillion);
    QTest::keyClick(veskor::FindControl<QTableView>(*results, "StringGrid"), Qt::Key_A,
                    Qt::ControlModifier);
  }

 private slots:
  void initTestCase() {
    veskor::ApplyLook(*qApp);
    QVERIFY(settings_dir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir_.path());
    veskor::SetMessageBoxSeamForTesting(
        [this](bool error, const QString& text) { (error ? errors_ : messages_) << text; });
  }
  void cleanupTestCase() { veskor::SetMessageBoxSeamForTesting(nullptr); }
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    // Each test starts with no window place remembered.
    QVERIFY(QDir(settings_dir_.path()).removeRecursively());
    QVERIFY(QDir().mkpath(settings_dir_.path()));
    errors_.clear();
    messages_.clear();
    veskor::StopRequested.store(false);
  }
  void cleanup() {
    veskor::SetOpenSeamForTesting(nullptr);
    window_.reset();
    dir_.reset();
  }

  void ACopyOfAMillionLinesLeavesTheWindowAnswering() {
    ResultsWindow* results = nullptr;
    SelectAMillion(&results);
    if (QTest::currentTestFailed()) return;
    const QStringList lines = LogLines(InDir("input.bin_NONE.log"), 1);
    QCOMPARE(lines.size(), kMillion);
    QGuiApplication::clipboard()->setText("before");
    // A zero-time timer stands for the window's other events: it must fire while the copy runs.
    bool answered_while_copying = false;
    QTimer beat;
    beat.setInterval(0);
    connect(&beat, &QTimer::timeout, this, [&] { answered_while_copying |= results->busy(); });
    beat.start();
    QTest::keyClick(veskor::FindControl<QTableView>(results, "StringGrid"), Qt::Key_C,
                    Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(!results->busy(), 180000);
    beat.stop();
    QVERIFY(answered_while_copying);
    QCOMPARE(errors_, QStringList());
    QCOMPARE(QGuiApplication::clipboard()->text(), lines.join('\n') + '\n');
    QCOMPARE(veskor::FindControl<QLabel>(results, "lbCount")->text(),
             QString("1,000,000 lines copied"));
    QVERIFY(!veskor::FindControl<QPushButton>(results, "btnCancel")->isVisible());
  }

  void ACopyEndsWithoutTouchingTheClipboard_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Cancel") << "Cancel" << false;
    QTest::newRow("Escape") << "Escape" << false;
    QTest::newRow("closing the window") << "close" << true;
    // What the end of the session does: the main window closes and takes its windows along.
    QTest::newRow("closing the main window") << "main" << true;
  }
  void ACopyEndsWithoutTouchingTheClipboard() {
    QFETCH(QString, how);
    QFETCH(bool, closes);
    ResultsWindow* opened = nullptr;
    SelectAMillion(&opened);
    if (QTest::currentTestFailed()) return;
    QPointer<ResultsWindow> results = opened;
    Activate(results);
    QGuiApplication::clipboard()->setText("before");
    QTest::keyClick(veskor::FindControl<QTableView>(results, "StringGrid"), Qt::Key_C,
                    Qt::ControlModifier);
    QVERIFY(results->busy());
    auto* cancel = veskor::FindControl<QPushButton>(results, "btnCancel");
    QVERIFY(cancel->isVisible());
    if (how == "Cancel") {
      QTest::mouseClick(cancel, Qt::LeftButton);
    } else if (how == "Escape") {
      QTest::keyClick(veskor::FindControl<QTableView>(results, "StringGrid"), Qt::Key_Escape);
    } else if (how == "close") {
      results->close();
    } else {
      window_->close();
    }
    if (closes) {
      QTRY_VERIFY_WITH_TIMEOUT(results.isNull(), 60000);
    } else {
      QVERIFY(!results->busy());
      QVERIFY(results->isVisible());
      QCOMPARE(veskor::FindControl<QLabel>(results, "lbCount")->text(),
               QString("The copy was cancelled; the clipboard is as it was"));
    }
    // Nothing of the copy arrives from the events still queued.
    QCoreApplication::processEvents();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("before"));
  }

  void ANewRunLeavesTheOpenWindowOnItsRun() {
    RunOver(HiddenUrl(), {"XOR8"});
    QPointer<ResultsWindow> first = OpenRow(0);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(first), 60000);
    const std::shared_ptr<const veskor::RowResult> result = first->result();
    const QStringList texts = [&] {
      QStringList listed;
      for (int row = 0; row < first->strings()->rowCount(); ++row) {
        listed << first->strings()->index(row, StringListModel::kTextColumn).data().toString();
      }
      return listed;
    }();
    QVERIFY(texts.contains(kUrl));
    QVERIFY2(
        first->windowTitle().startsWith("Results: input.bin (XOR8, Printable text) \u2014 run 1, "),
        qPrintable(first->windowTitle()));
    Analyze();
    QVERIFY(first);
    QVERIFY(first->isVisible());
    QCOMPARE(first->result(), result);
    QCOMPARE(first->strings()->rowCount(), texts.size());
    // It still finds its strings again: another key, and back.
    first->SelectKey(ShownKeys(first).at(1));
    QTRY_VERIFY_WITH_TIMEOUT(Complete(first), 60000);
    first->SelectKey(kTrueKey);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(first), 60000);
    QCOMPARE(first->strings()->rowCount(), texts.size());
    // The row's results now are the new run's, in a window of their own.
    QPointer<ResultsWindow> second = OpenRow(0);
    QVERIFY(second != first);
    QCOMPARE(OpenWindows().size(), 2);
    QVERIFY(second->windowTitle().contains(" \u2014 run 2, "));
    QVERIFY(second->result() != result);
    // Closing the main window closes both.
    window_->close();
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull() && second.isNull(), 60000);
  }

  void TheKeyboardGoesFromKeysToFilterToStrings() {
    RunOver(HiddenUrl(), {"XOR8"});
    ResultsWindow* results = OpenRow(0);
    Activate(results);
    auto* keys = veskor::FindControl<QTableView>(results, "KeyGrid");
    auto* filter = veskor::FindControl<QLineEdit>(results, "edFilter");
    auto* strings = veskor::FindControl<QTableView>(results, "StringGrid");
    keys->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), keys);
    QTest::keyClick(keys, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), filter);
    QTest::keyClick(filter, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), strings);
    QTest::keyClick(strings, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), filter);
    // Home and End go to the first and the last key.
    keys->setFocus();
    QTest::keyClick(keys, Qt::Key_End);
    QCOMPARE(results->SelectedKey(), ShownKeys(results).back());
    QTest::keyClick(keys, Qt::Key_Home);
    QCOMPARE(results->SelectedKey(), kTrueKey);
  }

  void TheKeysCloseTheWindow_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier);
    QTest::newRow("Ctrl+W") << int(Qt::Key_W) << int(Qt::ControlModifier);
  }
  void TheKeysCloseTheWindow() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    RunOver(HiddenUrl(), {"XOR8"});
    QPointer<ResultsWindow> results = OpenRow(0);
    Activate(results);
    QTest::keyClick(veskor::FindControl<QTableView>(results, "KeyGrid"), Qt::Key(key),
                    Qt::KeyboardModifiers(modifiers));
    QTRY_VERIFY_WITH_TIMEOUT(results.isNull(), 60000);
  }

  void HeaderClicksSortAndScoreBringsBackTheRanking() {
    RunOver(HiddenUrl(), {"XOR8"});
    ResultsWindow* results = OpenRow(0);
    const std::vector<int> ranking = results->result()->ShownKeys();
    QVERIFY(ranking.size() > 2);
    QCOMPARE(ShownKeys(results), ranking);
    const auto& summary = *results->result()->summary;
    // Key, then Strings (the most first), then Score: the ranking again. The selected key stays.
    ClickHeader(results, "Key");
    std::vector<int> by_key = ranking;
    std::sort(by_key.begin(), by_key.end());
    QCOMPARE(ShownKeys(results), by_key);
    ClickHeader(results, "Strings");
    const std::vector<int> by_count = ShownKeys(results);
    QVERIFY(std::is_sorted(by_count.begin(), by_count.end(),
                           [&](int a, int b) { return summary[a].Count() > summary[b].Count(); }));
    QVERIFY(by_count != ranking);
    QCOMPARE(results->SelectedKey(), kTrueKey);
    ClickHeader(results, "Score");
    QCOMPARE(ShownKeys(results), ranking);
    QCOMPARE(results->SelectedKey(), kTrueKey);
  }

  void ANewWindowTakesTheLastPlaceAndCascades() {
    RunOver(HiddenUrl(), {"XOR8", "NONE", "ADD8"});
    QPointer<ResultsWindow> first = OpenRow(0);
    // Inside the test screen, so that nothing moves it back in.
    first->setGeometry(40, 30, 600, 400);
    first->layout()->activate();
    auto* splitter = veskor::FindControl<QSplitter>(first, "ResultsSplitter");
    splitter->setSizes({180, 400});
    const QList<int> sizes = splitter->sizes();
    const QRect geometry = first->geometry();
    first->close();
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 60000);
    ResultsWindow* second = OpenRow(0);
    QCOMPARE(second->geometry(), geometry);
    QTRY_COMPARE(veskor::FindControl<QSplitter>(second, "ResultsSplitter")->sizes(), sizes);
    // Another window opens down and to the right of it.
    QPointer<ResultsWindow> third = OpenRow(1);
    QVERIFY(third != second);
    QVERIFY(third->frameGeometry().left() > second->frameGeometry().left());
    QVERIFY(third->frameGeometry().top() > second->frameGeometry().top());
    // With that one closed, the next cascades from the last one still open.
    third->close();
    QTRY_VERIFY_WITH_TIMEOUT(third.isNull(), 60000);
    ResultsWindow* fourth = OpenRow(2);
    QCOMPARE(fourth->frameGeometry().topLeft(), second->frameGeometry().topLeft() + QPoint(28, 28));
  }

  // Escape in the filter clears it; the next Escape closes the window.
  void EscapeClearsTheFilterThenCloses() {
    RunOver(HiddenUrl(), {"XOR8"});
    QPointer<ResultsWindow> results = OpenRow(0);
    Activate(results);
    auto* filter = veskor::FindControl<QLineEdit>(results, "edFilter");
    filter->setFocus();
    QTest::keyClicks(filter, "gate");
    QTest::keyClick(filter, Qt::Key_Escape);
    QCOMPARE(filter->text(), QString());
    QVERIFY(results->isVisible() && filter->hasFocus());
    QTest::keyClick(filter, Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(results.isNull() || !results->isVisible(), 60000);
  }

  // The header arrow of a descending sort is the one Fusion draws for values going down.
  void ADescendingSortDrawsTheArrowDown() {
    std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    auto arrow = [](const QStyle& style, QStyleOptionHeader::SortIndicator indicator) {
      QImage image(16, 16, QImage::Format_ARGB32);
      image.fill(Qt::white);
      QPainter painter(&image);
      QStyleOptionHeader option;
      option.rect = image.rect();
      option.palette = QApplication::palette();
      option.sortIndicator = indicator;
      style.drawPrimitive(QStyle::PE_IndicatorHeaderArrow, &option, &painter, nullptr);
      return image;
    };
    // A view asks SortUp for a descending sort.
    const QImage descending = arrow(*QApplication::style(), QStyleOptionHeader::SortUp);
    QCOMPARE(descending, arrow(*fusion, QStyleOptionHeader::SortDown));
    QVERIFY(descending != arrow(*fusion, QStyleOptionHeader::SortUp));
  }

  void TheFilterSaysWhenLetterCaseCounts() {
    RunOver(HiddenUrl(), {"XOR8"});
    ResultsWindow* results = OpenRow(0);
    auto* filter = veskor::FindControl<QLineEdit>(results, "edFilter");
    QVERIFY(filter->placeholderText().contains("in any case"));
    veskor::FindControl<QCheckBox>(results, "chkExpression")->setChecked(true);
    QVERIFY(!filter->placeholderText().contains("any case"));
    QVERIFY(filter->placeholderText().contains("letter case counts"));
    veskor::FindControl<QCheckBox>(results, "chkExpression")->setChecked(false);
    QVERIFY(filter->placeholderText().contains("in any case"));
  }

  void TheLogLinkSaysWhenNoProgramOpensTheLog() {
    RunOver(HiddenUrl(), {"XOR8"});
    QStringList asked;
    veskor::SetOpenSeamForTesting([&](const QString& path) {
      asked << path;
      return false;
    });
    ClickCell(veskor::NxGotoColumn, 0);
    const QString log = InDir("input.bin_XOR8.log");
    QCOMPARE(asked, QStringList{log});
    QCOMPARE(errors_, QStringList{QString(veskor::kNoLogProgramMessage).arg(log)});
  }

  void AScreenshotOnRequest() {
    const QString folder = qEnvironmentVariable("VESKOR_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("VESKOR_SCREENSHOT_DIR is not set");
    // The million strings stored under XOR8 kTrueKey, a copy of all of them under way.
    QByteArray input = MillionStrings();
    for (char& byte : input) byte = static_cast<char>(byte ^ kTrueKey);
    RunOver(input, {"XOR8"});
    ResultsWindow* results = OpenRow(0);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 180000);
    auto* grid = veskor::FindControl<QTableView>(results, "StringGrid");
    QTest::keyClick(grid, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    auto* count = veskor::FindControl<QLabel>(results, "lbCount");
    QTRY_VERIFY_WITH_TIMEOUT(results->busy() && !count->text().endsWith(": 0%"), 60000);
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(results->grab().save(QDir(folder).filePath("results-habits.png")));
    results->findChild<QPushButton*>("btnCancel")->click();
  }
};

QTEST_MAIN(ResultsHabitsTest)
#include "results_habits_test.moc"
