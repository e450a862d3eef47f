// The Results window's search across every key: the Matches column against the run's log for a
// text and an expression filter, "Only keys with matches", the selected key's matching strings;
// and over millions of strings, a window that answers while it counts and a filter changed in
// the middle of a count.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/search/scan_context.h"
#include "tasks/table_file.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/main_window.h"
#include "ui/results/key_match_pane.h"
#include "ui/results/key_rank_model.h"
#include "ui/results/results_test_run.h"
#include "ui/results/results_window.h"
#include "ui/results/string_list_model.h"
#include "ui/run_texts.h"
#include "ui/test_files.h"

using veskor::KeyMatchCounter;
using veskor::KeyMatchPane;
using veskor::ResultsWindow;
using veskor::StringListModel;

namespace {

struct Planted {
  int key;
  const char* text;
};
// Each stored under XOR8 with its key, between bytes that end a string under its key and under
// the key that swaps the letters' case (a zero byte would make that key's space).
const Planted kPlanted[] = {
    {0x5A, "http://cdn1.example.com/gate.php?id=7"},
    {0x5A, "https://cdn2.example.com/gate.php?id=8"},
    {0x5A, "The quick brown fox jumps over the lazy dog."},
    {0x5A, "See HTTP://UPPER.EXAMPLE/PATH for the rest"},
    {0x5A, "see http://paste.example/raw/x1 now"},
    {0x17, "https://mirror.example.org/files/a1.zip"},
    {0x17, "ftp://old.example.net/pub/readme.txt"},
    {0x17, "https://mirror.example.org/files/a2.zip"},
    {0x17, "Contact the admin at http://intranet.local/help"},
};

// 256 KiB of random bytes with the planted strings.
QByteArray PlantedUrls() {
  QByteArray bytes(256 << 10, Qt::Uninitialized);
  std::mt19937 random(26);
  for (char& byte : bytes) byte = static_cast<char>(random());
  int at = 2000;
  for (const Planted& planted : kPlanted) {
    const QByteArray text = QByteArray(1, '\xFF') + planted.text + QByteArray(1, '\xFF');
    for (int i = 0; i < text.size(); ++i) bytes[at + i] = static_cast<char>(text[i] ^ planted.key);
    at += 20000;
  }
  return bytes;
}

// The texts of a log's lines in the default format ("key | position | text"), by key.
QMap<int, QStringList> LogTexts(const QString& log) {
  QMap<int, QStringList> texts;
  for (const QByteArray& line : veskor::ReadBytes(log).split('\n')) {
    const QString text = QString::fromLatin1(line.chopped(line.endsWith('\r') ? 1 : 0));
    if (text.count(QStringLiteral(" | ")) < 2) continue;
    texts[text.section(QStringLiteral(" | "), 0, 0).trimmed().toInt()]
        << text.section(QStringLiteral(" | "), 2);
  }
  return texts;
}

std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The column whose header says `name`, or -1.
int ColumnNamed(const QAbstractItemModel* model, const QString& name) {
  for (int column = 0; column < model->columnCount(); ++column) {
    if (model->headerData(column, Qt::Horizontal).toString() == name) return column;
  }
  return -1;
}

// Random bytes, 8 at a time.
void WriteRandomFile(const QString& path, qint64 size) {
  std::mt19937_64 random(64);
  QByteArray bytes(size, Qt::Uninitialized);
  for (qint64 i = 0; i + 8 <= size; i += 8) {
    const uint64_t value = random();
    std::memcpy(bytes.data() + i, &value, 8);
  }
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
    qFatal("cannot write %s", qPrintable(path));
}

// The strings of `bytes` under XOR8 `key` of 0x20 to 0x7E, `min_length` or more, whose text holds
// `needle` in any case, counted straight from their definition.
uint64_t CountContaining(const QByteArray& bytes, int key, int min_length, std::string needle) {
  for (char& c : needle) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  uint64_t count = 0;
  std::string run;
  auto end_run = [&] {
    if (static_cast<int>(run.size()) >= min_length && run.find(needle) != std::string::npos) {
      ++count;
    }
    run.clear();
  };
  for (const char byte : bytes) {
    const auto decoded = static_cast<uint8_t>(static_cast<uint8_t>(byte) ^ key);
    if (decoded >= 0x20 && decoded <= 0x7E) {
      run.push_back(static_cast<char>(std::tolower(decoded)));
    } else {
      end_run();
    }
  }
  end_run();
  return count;
}

}  // namespace

class ResultsSearchTest : public veskor::ResultsTest {
  Q_OBJECT

 private:
  // A run of XOR8 over all keys of the file with the starter preset of printable text (tab and
  // 32 to 126, 7 or more), and its Results window.
  ResultsWindow* RunAndOpen(const QByteArray& input) {
    if (!veskor::StartRun(window_, dir_->path(), input, "input.bin", {{"XOR8"}})) return nullptr;
    if (!errors_.isEmpty()) return nullptr;
    return window_->ShowResults(0);
  }

  static void SetFilter(ResultsWindow* results, const QString& text, bool expression) {
    veskor::FindControl<QCheckBox>(results, "chkExpression")->setChecked(expression);
    QLineEdit* filter = veskor::FindControl<QLineEdit>(results, "edFilter");
    filter->clear();
    QTest::keyClicks(filter, text);
  }
  static bool Counting(ResultsWindow* results) {
    return veskor::FindControl<KeyMatchPane>(results, "KeyMatches")->counting();
  }
  // The keys the key list shows, in order, and their Matches cells.
  static QList<int> ListedKeys(ResultsWindow* results) {
    const QAbstractItemModel* model = veskor::FindControl<QTableView>(results, "KeyGrid")->model();
    QList<int> keys;
    for (int row = 0; row < model->rowCount(); ++row) {
      keys << model->index(row, ColumnNamed(model, "Key"))
                  .data()
                  .toString()
                  .section(' ', 0, 0)
                  .toInt();
    }
    return keys;
  }
  static QMap<int, QString> MatchesCells(ResultsWindow* results) {
    const QAbstractItemModel* model = veskor::FindControl<QTableView>(results, "KeyGrid")->model();
    const QList<int> keys = ListedKeys(results);
    QMap<int, QString> cells;
    for (int row = 0; row < model->rowCount(); ++row) {
      cells[keys[row]] = model->index(row, ColumnNamed(model, "Matches")).data().toString();
    }
    return cells;
  }

 private slots:
  void initTestCase() { StartCase(); }
  void cleanupTestCase() { EndCase(); }
  void init() { StartTest(); }
  void cleanup() { EndTest(); }

  void TheFilterCountsEveryKeyAndListsTheSelectedKeysMatches_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("expression");
    QTest::addColumn<QString>("pattern");  // what the matching texts match
    QTest::newRow("text, in any case") << "http" << false << "(?i)http";
    QTest::newRow("expression") << "^https?://[a-z0-9.]+/" << true << "^https?://[a-z0-9.]+/";
    QTest::newRow("expression of one key")
        << "/files/a[0-9]\\.zip$" << true << "/files/a[0-9]\\.zip$";
    QTest::newRow("expression that nothing matches") << "gopher://" << true << "gopher://";
  }
  void TheFilterCountsEveryKeyAndListsTheSelectedKeysMatches() {
    QFETCH(QString, filter);
    QFETCH(bool, expression);
    QFETCH(QString, pattern);
    ResultsWindow* results = RunAndOpen(PlantedUrls());
    // The strings in the log's order.
    results->SetOrder(StringListModel::Order::kFileOrder);
    QVERIFY(results != nullptr);
    QCOMPARE(errors_, QStringList());
    const QMap<int, QStringList> log = LogTexts(InDir("input.bin_XOR8.log"));
    const QList<int> all_keys = ListedKeys(results);
    QVERIFY(all_keys.size() > 100);
    // No filter, no counts.
    QCOMPARE(MatchesCells(results).values(), QStringList(all_keys.size(), QString()));

    SetFilter(results, filter, expression);
    QTRY_VERIFY_WITH_TIMEOUT(!Counting(results), 120000);
    QMap<int, QStringList> expected;  // the matching texts of the keys that have some
    QMap<int, QString> expected_cells;
    for (int key : all_keys) {
      const QStringList texts = log.value(key).filter(QRegularExpression(pattern));
      if (!texts.isEmpty()) expected[key] = texts;
      expected_cells[key] = QString::number(texts.size());
    }
    QCOMPARE(MatchesCells(results), expected_cells);
    // The planted strings are where the matches are.
    for (int key : expected.keys())
      QVERIFY2(key == 0x5A || key == 0x17, qPrintable(QString::number(key)));
    const QString of_all = QString::number(all_keys.size());
    const QString matches_text[] = {"No key has matches", "1 key of " + of_all + " has matches",
                                    "2 keys of " + of_all + " have matches"};
    QCOMPARE(veskor::FindControl<QLabel>(results, "lbMatches")->text(),
             matches_text[expected.size()]);

    auto* only = veskor::FindControl<QCheckBox>(results, "chkOnlyMatches");
    QTest::mouseClick(only, Qt::LeftButton, Qt::NoModifier, QPoint(4, only->height() / 2));
    QVERIFY(only->isChecked());
    QList<int> listed = ListedKeys(results);
    std::sort(listed.begin(), listed.end());
    QCOMPARE(listed, expected.keys());
    if (expected.isEmpty()) return;

    // The last key listed, clicked: its matching strings.
    auto* grid = veskor::FindControl<QTableView>(results, "KeyGrid");
    const int last = grid->model()->rowCount() - 1;
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier,
                      grid->visualRect(grid->model()->index(last, 0)).center());
    const int key = ListedKeys(results).at(last);
    QCOMPARE(results->SelectedKey(), key);
    QTRY_VERIFY_WITH_TIMEOUT(results->strings()->state() == StringListModel::State::kComplete,
                             60000);
    QStringList listed_texts;
    for (int row = 0; row < results->strings()->rowCount(); ++row) {
      listed_texts
          << results->strings()->index(row, StringListModel::kTextColumn).data().toString();
    }
    QCOMPARE(listed_texts, expected.value(key));
    // Without the filter every key is back, uncounted.
    veskor::FindControl<QLineEdit>(results, "edFilter")->clear();
    QCOMPARE(ListedKeys(results).size(), all_keys.size());
    QCOMPARE(MatchesCells(results).values(), QStringList(all_keys.size(), QString()));
  }

  void OverMillionsOfStringsTheWindowAnswersAndAChangeCountsAgain() {
    // 64 MiB of random bytes: under every key about 800,000 strings of four or more of 0x20 to
    // 0x7E. The summary stands in for a run's: the count reads nothing else of it.
    constexpr int kKeys = 16;
    constexpr int kMinLength = 4;
    const QString path = InDir("random.bin");
    WriteRandomFile(path, qint64{64} << 20);
    auto search = std::make_shared<veskor::RunSearch>();
    search->input = Bytes(path);
    search->stamp = veskor::StampOf(search->input);
    QVERIFY(veskor::FindAlgorithm("XOR8", search->algorithm));
    std::string printable;
    for (int c = 0x20; c < 0x7F; ++c) printable.push_back(static_cast<char>(c));
    search->fields = {printable, "", kMinLength, 0};
    search->format = "%3d | %*d | %s";
    search->width = veskor::DecimalWidth(search->stamp.size);
    auto summary = std::make_shared<veskor::RowSummary>();
    for (int key = 1; key <= kKeys; ++key) (*summary)[key].Count(0, kMinLength, "");
    auto result = std::make_shared<veskor::RowResult>();
    result->summary = summary;
    result->search = search;
    result->preset = "Printable";
    ResultsWindow results(result);
    results.show();

    auto* counter = results.findChild<KeyMatchCounter*>();
    QVERIFY(counter != nullptr);
    QSignalSpy progressed(counter, &KeyMatchCounter::Progressed);
    SetFilter(&results, "ab", false);
    QTRY_VERIFY_WITH_TIMEOUT(!progressed.isEmpty(), 60000);
    // The count has begun: an event queued now is handled while it goes on.
    bool fired = false;
    bool counting_when_fired = false;
    QTimer::singleShot(0, &results, [&] {
      fired = true;
      counting_when_fired = Counting(&results);
    });
    QTRY_VERIFY_WITH_TIMEOUT(fired, 60000);
    QVERIFY(counting_when_fired);
    QVERIFY(veskor::FindControl<QProgressBar>(&results, "barMatches")->isVisible());

    // Another letter in the middle of the count: every key waits for its new count.
    QTest::keyClicks(veskor::FindControl<QLineEdit>(&results, "edFilter"), "C");
    QCOMPARE(MatchesCells(&results).values(), QStringList(kKeys, QString(QChar(0x2026))));
    QTRY_VERIFY_WITH_TIMEOUT(!Counting(&results), 600000);
    QVERIFY(!veskor::FindControl<QProgressBar>(&results, "barMatches")->isVisible());
    const QByteArray bytes = veskor::ReadBytes(path);
    QMap<int, QString> expected;
    for (int key = 1; key <= kKeys; ++key) {
      expected[key] = veskor::GroupedNumber(
          static_cast<int64_t>(CountContaining(bytes, key, kMinLength, "abc")));
    }
    QCOMPARE(MatchesCells(&results), expected);
  }

  void AScreenshotOnRequest() {
    const QString folder = qEnvironmentVariable("VESKOR_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("VESKOR_SCREENSHOT_DIR is not set");
    // /usr/bin/ls stored under XOR8 0x5A: "gnu" in any case is found under the true key, under
    // the one that swaps the letters' case, and by chance under a few others.
    QByteArray program = veskor::ReadBytes("/usr/bin/ls");
    for (char& byte : program) byte = static_cast<char>(byte ^ 0x5A);
    ResultsWindow* results = RunAndOpen(program);
    QVERIFY(results != nullptr);
    SetFilter(results, "gnu", false);
    QTRY_VERIFY_WITH_TIMEOUT(!Counting(results), 120000);
    veskor::FindControl<QCheckBox>(results, "chkOnlyMatches")->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(results->strings()->state() == StringListModel::State::kComplete,
                             60000);
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(results->grab().save(QDir(folder).filePath("results-search.png")));
    if (qEnvironmentVariableIsSet("VESKOR_SCREENSHOT_WAIT")) {
      // For a look at the real window: it stays until closed.
      QTRY_VERIFY_WITH_TIMEOUT(!results->isVisible(), 600000);
    }
  }
};

QTEST_MAIN(ResultsSearchTest)
#include "results_search_test.moc"
