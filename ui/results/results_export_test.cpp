// The Results window's exports after a real run over a generated file: "Save ranking..." against
// the runner's --summary, "Copy as YARA rule" through the Debian `yara`, and the score bands.
#include <QApplication>
#include <QClipboard>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <random>

#include "tasks/table_file.h"
#include "ui/desktop.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/main_window.h"
#include "ui/results/results_test_run.h"
#include "ui/results/results_window.h"
#include "ui/task_table_model.h"
#include "ui/test_files.h"

using veskor::ReadBytes;
using veskor::ResultsWindow;
using veskor::StringListModel;
using veskor::TfrmMain;

namespace {

constexpr int kTrueKey = 0x5A;
constexpr const char* kPreset = "Printable text";  // tab and 32 to 126, 7 or more
const char* const kSecrets[] = {
    "https://northwind.example.com/gate.php?id=4471&mode=fetch",
    "Meet me at the old station at nine, bring the papers and the key.",
    "C:\\Users\\Orchid\\AppData\\Roaming\\lantern\\update.exe",
};

// 96 KiB of seeded random bytes; with the secrets planted between zero bytes when `hidden`, all
// stored under XOR8 kTrueKey.
QByteArray RandomFile(bool hidden) {
  QByteArray bytes(96 << 10, Qt::Uninitialized);
  std::mt19937 random(26);
  for (char& byte : bytes) byte = static_cast<char>(random());
  int at = 5000;
  for (const char* secret : kSecrets) {
    const QByteArray text = QByteArray(1, '\0') + secret + QByteArray(1, '\0');
    if (hidden) bytes.replace(at, text.size(), text);
    at += 30000;
  }
  for (char& byte : bytes) byte = static_cast<char>(byte ^ kTrueKey);
  return bytes;
}

}  // namespace

class ResultsExportTest : public veskor::ResultsTest {
  Q_OBJECT

 private:
  static void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
  }

  // Runs one all-keys row of `algorithm` with the starter preset over `input` and opens its
  // Results window, its strings listed.
  ResultsWindow* RunAndOpen(const QByteArray& input, const char* algorithm) {
    if (!veskor::StartRun(window_, dir_->path(), input, "input.bin", {{algorithm}}, kPreset)) {
      qFatal("the run's files could not be written");
    }
    if (!errors_.isEmpty()) qFatal("the run failed: %s", qPrintable(errors_.join('\n')));
    ResultsWindow* results = window_->ShowResults(0);
    if (results == nullptr) qFatal("the row has no results");
    return results;
  }

  static bool Complete(ResultsWindow* results) {
    return results->strings()->state() == StringListModel::State::kComplete;
  }

  // The key list's column whose header is `name`, or -1.
  static int KeyColumn(ResultsWindow* results, const QString& name) {
    const QAbstractItemModel* keys = veskor::FindControl<QTableView>(results, "KeyGrid")->model();
    for (int column = 0; column < keys->columnCount(); ++column) {
      if (keys->headerData(column, Qt::Horizontal).toString() == name) return column;
    }
    return -1;
  }

 private slots:
  void initTestCase() { StartCase(); }
  void cleanupTestCase() { EndCase(); }
  void init() { StartTest(); }
  void cleanup() { EndTest(); }

  void SaveRankingWritesWhatTheRunnerPrints_data() {
    QTest::addColumn<QString>("algorithm");
    QTest::addColumn<bool>("menu");  // the key list's menu, else the button
    QTest::newRow("XOR8, button") << "XOR8" << false;
    QTest::newRow("ANY, menu") << "ANY" << true;
  }
  void SaveRankingWritesWhatTheRunnerPrints() {
    QFETCH(QString, algorithm);
    QFETCH(bool, menu);
    ResultsWindow* results = RunAndOpen(RandomFile(true), qPrintable(algorithm));
    save_to_ = InDir("ranking.tsv");
    if (menu) {
      veskor::FindControl<QAction>(results, "actSaveRanking")->trigger();
    } else {
      veskor::FindControl<QPushButton>(results, "btnSaveRanking")->click();
    }
    QCOMPARE(errors_, QStringList());
    QVERIFY(veskor::FindControl<QLabel>(results, "lbCount")->text().endsWith(save_to_));

    QProcess runner;
    runner.start(VESKOR_SCANNER, {"--algo", algorithm, "--preset", kPreset, "--dir", dir_->path(),
                                  "--summary", InDir("input.bin")});
    QVERIFY(runner.waitForFinished(120000));
    QCOMPARE(runner.exitCode(), 0);
    const QByteArray printed = runner.readAllStandardOutput();
    QVERIFY(printed.count('\n') > 10);  // the header and many keys
    QCOMPARE(ReadBytes(save_to_), printed);
  }

  void YaraRuleOfSelectedStringsFindsTheFile_data() {
    QTest::addColumn<QString>("algorithm");
    QTest::addColumn<QString>("pair");  // the rule's algorithm and key
    QTest::newRow("XOR8") << "XOR8"
                          << "XOR8_90";
    // The best pair reads the zero bytes around each secret as "Z" too: XOR8N keeps the key's
    // own byte. Its rule's strings are the stored bytes in hex.
    QTest::newRow("ANY") << "ANY"
                         << "XOR8N_90";
  }
  void YaraRuleOfSelectedStringsFindsTheFile() {
    QFETCH(QString, algorithm);
    QFETCH(QString, pair);
    ResultsWindow* results = RunAndOpen(RandomFile(true), qPrintable(algorithm));
    QCOMPARE(veskor::RowSummary::PairKey(results->SelectedKey()), kTrueKey);
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    // Select the first two secrets' rows.
    auto* grid = veskor::FindControl<QTableView>(results, "StringGrid");
    const StringListModel* strings = results->strings();
    QItemSelectionModel* selection = grid->selectionModel();
    selection->clearSelection();
    QStringList chosen;
    for (int row = 0; row < strings->rowCount(); ++row) {
      const QString text = strings->index(row, StringListModel::kTextColumn).data().toString();
      if (text.contains(kSecrets[0]) || text.contains(kSecrets[1])) {
        selection->select(strings->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        chosen << text;
      }
    }
    QCOMPARE(chosen.size(), 2);
    // The menu offers the rule only with a selection.
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            grid->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(grid->viewport(), &event);
    auto* copy_rule = veskor::FindControl<QAction>(results, "actCopyYara");
    QVERIFY(copy_rule->isEnabled());
    veskor::FindControl<QMenu>(results, "StringMenu")->hide();
    copy_rule->trigger();
    QCOMPARE(errors_, QStringList());

    const QString rule = QGuiApplication::clipboard()->text();
    const QString sha256 =
        QCryptographicHash::hash(ReadBytes(InDir("input.bin")), QCryptographicHash::Sha256).toHex();
    const QString name = "veskor_" + sha256.left(16) + "_" + pair;
    QVERIFY2(rule.startsWith("rule " + name + "\n"), qPrintable(rule));
    // The selected strings, as stored: their text under YARA's xor of the key, and no other.
    for (const QString& text : chosen) {
      if (algorithm == "XOR8") {
        QVERIFY2(rule.contains('"' + text + "\" xor(90) ascii"), qPrintable(rule));
      }
    }
    QCOMPARE(rule.count("    $s"), 2);

    // Every string selected: the strings that are no evidence are left out, and counted.
    grid->selectAll();
    copy_rule->trigger();
    const QString all_rule = QGuiApplication::clipboard()->text();
    const QRegularExpressionMatch said =
        QRegularExpression(
            "^A YARA rule of ([0-9,]+) strings? copied; ([0-9,]+) of the ([0-9,]+) "
            "selected left out as no evidence of hidden text")
            .match(veskor::FindControl<QLabel>(results, "lbCount")->text());
    QVERIFY2(said.hasMatch(), qPrintable(veskor::FindControl<QLabel>(results, "lbCount")->text()));
    const int written = said.captured(1).remove(',').toInt();
    QCOMPARE(all_rule.count("    $s"), written);
    QCOMPARE(said.captured(3).remove(',').toInt(), strings->rowCount());
    QCOMPARE(written + said.captured(2).remove(',').toInt(), strings->rowCount());
    for (const QString& text : chosen) {
      if (algorithm == "XOR8") QVERIFY(all_rule.contains('"' + text + "\" xor(90) ascii"));
    }

    const QString yara = QStandardPaths::findExecutable("yara");
    if (yara.isEmpty()) QSKIP("the yara program is not installed");
    Write(InDir("rule.yar"), rule.toUtf8());
    Write(InDir("other.bin"), RandomFile(false));
    // It compiles and finds the file it came from, and not the same bytes without the secrets.
    QProcess scan;
    scan.start(yara, {InDir("rule.yar"), InDir("input.bin")});
    QVERIFY(scan.waitForFinished(60000));
    QCOMPARE(scan.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(scan.readAllStandardOutput()),
             name + ' ' + InDir("input.bin") + '\n');
    scan.start(yara, {InDir("rule.yar"), InDir("other.bin")});
    QVERIFY(scan.waitForFinished(60000));
    QCOMPARE(scan.exitCode(), 0);
    QCOMPARE(scan.readAllStandardOutput(), QByteArray());
  }

  void TheTrueKeyReadsAsTextAndWrongKeysAsNoise() {
    ResultsWindow* results = RunAndOpen(RandomFile(true), "XOR8");
    const QAbstractItemModel* keys = veskor::FindControl<QTableView>(results, "KeyGrid")->model();
    const int band = KeyColumn(results, "Band");
    QVERIFY(band >= 0);
    QVERIFY(keys->headerData(KeyColumn(results, "Score"), Qt::Horizontal, Qt::ToolTipRole)
                .toString()
                .contains("noise"));
    QCOMPARE(keys->index(0, 0).data().toString(), QString("90 (0x5A)"));
    QCOMPARE(keys->index(0, band).data().toString(), QString("text"));
    // Every other key but the one that reads the secrets in the other letter case (90 ^ 32)
    // finds only random bytes.
    int noise = 0;
    for (int row = 1; row < keys->rowCount(); ++row) {
      if (keys->index(row, 0).data().toString().startsWith("122 ")) continue;
      QCOMPARE(keys->index(row, band).data().toString(), QString("noise"));
      ++noise;
    }
    QVERIFY(noise > 200);
    QVERIFY(keys->index(0, band).data(Qt::ForegroundRole) !=
            keys->index(keys->rowCount() - 1, band).data(Qt::ForegroundRole));
  }

  void AScreenshotOnRequest() {
    const QString folder = qEnvironmentVariable("VESKOR_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("VESKOR_SCREENSHOT_DIR is not set");
    ResultsWindow* results = RunAndOpen(RandomFile(true), "XOR8");
    QTRY_VERIFY_WITH_TIMEOUT(Complete(results), 60000);
    save_to_ = InDir("ranking.tsv");
    veskor::FindControl<QPushButton>(results, "btnSaveRanking")->click();
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(results->grab().save(QDir(folder).filePath("results-export.png")));
  }
};

QTEST_MAIN(ResultsExportTest)
#include "results_export_test.moc"
