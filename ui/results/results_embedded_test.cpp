// The Results window's hidden executables after a real run: found on a worker and listed above
// the strings, saved decoded byte for byte, and decoded bytes saved from a string on.
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <random>

#include "engine/carve/test_executables.h"
#include "ui/desktop.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/main_window.h"
#include "ui/results/decoded_save.h"
#include "ui/results/embedded_pane.h"
#include "ui/results/results_test_run.h"
#include "ui/results/results_window.h"

using veskor::EmbeddedPane;
using veskor::ReadBytes;
using veskor::ResultsWindow;
using veskor::TfrmMain;

namespace {

constexpr int kPeAt = 4096;
constexpr int kTextAt = 60002;  // not a multiple of the XORK key's length
const char kSecret[] = "Meet me at the old station at nine, bring the papers and the key.";

// The file's bytes under XOR8 90 (0x5A), and under XORK 0x8c61d263.
const QByteArray kXor8Key("\x5A", 1);
const QByteArray kXorkKey("\x8C\x61\xD2\x63", 4);

// Random bytes holding a made PE at kPeAt and a sentence at kTextAt: `plain` as written, and the
// file's bytes, all of them stored under XOR with `key` repeated from offset 0.
struct Input {
  QByteArray plain, pe, stored;
};
Input MakeInput(const QByteArray& key) {
  Input input;
  input.plain = QByteArray(96 << 10, Qt::Uninitialized);
  std::mt19937 random(38);
  for (char& byte : input.plain) byte = static_cast<char>(random());
  const std::string pe = veskor::test::MakePe({});
  input.pe = QByteArray(pe.data(), static_cast<qsizetype>(pe.size()));
  input.plain.replace(kPeAt, input.pe.size(), input.pe);
  const QByteArray text = QByteArray(1, '\0') + kSecret + QByteArray(1, '\0');
  input.plain.replace(kTextAt - 1, text.size(), text);
  input.stored = input.plain;
  for (qsizetype i = 0; i < input.stored.size(); ++i) input.stored[i] ^= key[i % key.size()];
  return input;
}

}  // namespace

class ResultsEmbeddedTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TfrmMain> window_;
  QStringList errors_;
  QString save_to_;
  Input input_;

  ResultsWindow* RunAndOpen(const std::vector<veskor::TestRow>& rows,
                            const QByteArray& stored_key) {
    input_ = MakeInput(stored_key);
    if (!veskor::StartRun(window_, dir_->path(), input_.stored, "input.bin", rows)) {
      qFatal("the run's files could not be written");
    }
    ResultsWindow* results = window_->ShowResults(0);
    if (results == nullptr) qFatal("the row has no results");
    return results;
  }

 private slots:
  void initTestCase() {
    veskor::ApplyLook(*qApp);
    veskor::SetMessageBoxSeamForTesting([this](bool, const QString& text) { errors_ << text; });
    veskor::SetSaveFileSeamForTesting([this](QWidget*, const QString&) { return save_to_; });
  }
  void cleanupTestCase() {
    veskor::SetMessageBoxSeamForTesting(nullptr);
    veskor::SetSaveFileSeamForTesting(nullptr);
    veskor::SetDecodeEndSeamForTesting(nullptr);
  }
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    errors_.clear();
    veskor::StopRequested.store(false);
  }
  void cleanup() {
    window_.reset();
    dir_.reset();
  }

  void ListsAndSavesTheHiddenFile_data() {
    QTest::addColumn<QString>("algorithm");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("shown");  // the Key cell
    QTest::addColumn<QByteArray>("stored_key");
    QTest::newRow("every key") << "XOR8"
                               << ""
                               << "90 (0x5A)" << kXor8Key;
    QTest::newRow("the key") << "XOR8"
                             << "90"
                             << "90 (0x5A)" << kXor8Key;
    QTest::newRow("ANY") << "ANY"
                         << ""
                         << "XOR8 90 (0x5A)" << kXor8Key;
    QTest::newRow("XORK, the key") << "XORK"
                                   << "8c:61:d2:63"
                                   << "0x8c61d263" << kXorkKey;
    // The key the file gives away where its plain bytes are zeros.
    QTest::newRow("XORK, recovered") << "XORK"
                                     << ""
                                     << "0x8c61d263" << kXorkKey;
    QTest::newRow("ANY, recovered") << "ANY"
                                    << ""
                                    << "XORK 0x8c61d263" << kXorkKey;
  }
  void ListsAndSavesTheHiddenFile() {
    QFETCH(QString, algorithm);
    QFETCH(QString, key);
    QFETCH(QString, shown);
    QFETCH(QByteArray, stored_key);
    const QByteArray name = algorithm.toLatin1(), key_text = key.toLatin1();
    ResultsWindow* results = RunAndOpen({{name.constData(), key_text.constData()}}, stored_key);
    EmbeddedPane* pane = results->embedded();
    QTRY_VERIFY_WITH_TIMEOUT(pane->state() == EmbeddedPane::State::kDone, 60000);
    auto* grid = veskor::FindControl<QTableWidget>(results, "EmbeddedGrid");
    QCOMPARE(grid->rowCount(), 1);
    const QStringList expected = {"PE", QString::number(kPeAt), QString::number(input_.pe.size()),
                                  shown};
    for (int column = 0; column < 4; ++column)
      QCOMPARE(grid->item(0, column)->text(), expected[column]);
    save_to_ = dir_->filePath("hidden.exe");
    veskor::FindControl<QPushButton>(results, "btnSaveEmbedded")->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        veskor::FindControl<QLabel>(results, "lbEmbedded")->text().endsWith(save_to_), 60000);
    QCOMPARE(ReadBytes(save_to_), input_.pe);
    QCOMPARE(errors_, QStringList());
  }

  // From the string on to the chosen end, decoded under the selected key: a key of many bytes at
  // the string's own offset.
  void SavesDecodedBytesFromAString_data() {
    QTest::addColumn<QString>("algorithm");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("stored_key");
    QTest::newRow("XOR8") << "XOR8"
                          << "90" << kXor8Key;
    QTest::newRow("XORK") << "XORK"
                          << "0x8c61d263" << kXorkKey;
  }
  void SavesDecodedBytesFromAString() {
    QFETCH(QString, algorithm);
    QFETCH(QString, key);
    QFETCH(QByteArray, stored_key);
    const QByteArray name = algorithm.toLatin1(), key_text = key.toLatin1();
    ResultsWindow* results = RunAndOpen({{name.constData(), key_text.constData()}}, stored_key);
    auto* strings = veskor::FindControl<QTableView>(results, "StringGrid");
    QTRY_VERIFY_WITH_TIMEOUT(results->strings()->rowCount() > 0, 60000);
    int row = 0;
    while (results->strings()->StringAt(row)->position != kTextAt) {
      ++row;
      QTRY_VERIFY_WITH_TIMEOUT(results->strings()->rowCount() > row, 60000);
    }
    strings->setCurrentIndex(results->strings()->index(row, 0));
    const int end = kTextAt + 5000;
    veskor::SetDecodeEndSeamForTesting([&](uint64_t start, uint64_t size) {
      return start == kTextAt && size == static_cast<uint64_t>(input_.stored.size())
                 ? std::optional<uint64_t>(end)
                 : std::nullopt;
    });
    save_to_ = dir_->filePath("decoded.bin");
    veskor::FindControl<QAction>(results, "actSaveDecoded")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(
        veskor::FindControl<QLabel>(results, "lbCount")->text().endsWith(save_to_), 60000);
    QCOMPARE(ReadBytes(save_to_), input_.plain.mid(kTextAt, end - kTextAt));
  }

  // A file written after the run is not the run's: nothing is listed from it.
  void AChangedFileListsNothing() {
    input_ = MakeInput(kXor8Key);
    if (!veskor::StartRun(window_, dir_->path(), input_.stored, "input.bin", {{"XOR8", "90"}})) {
      QFAIL("the run's files could not be written");
    }
    QFile file(dir_->filePath("input.bin"));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(kPeAt));
    QCOMPARE(file.write("x", 1), qint64{1});
    file.close();
    ResultsWindow* results = window_->ShowResults(0);
    QVERIFY(results != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(results->embedded()->state() == EmbeddedPane::State::kChanged, 60000);
    QCOMPARE(veskor::FindControl<QTableWidget>(results, "EmbeddedGrid")->rowCount(), 0);
  }

  void AScreenshotOnRequest() {
    const QString folder = qEnvironmentVariable("VESKOR_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("VESKOR_SCREENSHOT_DIR is not set");
    QVERIFY(QDir().mkpath(folder));
    ResultsWindow* results = RunAndOpen({{"XOR8", ""}}, kXor8Key);
    QTRY_VERIFY_WITH_TIMEOUT(results->embedded()->state() == EmbeddedPane::State::kDone, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(results->strings()->rowCount() > 0, 60000);
    QVERIFY(results->grab().save(QDir(folder).filePath("results-embedded.png")));
  }
};

QTEST_MAIN(ResultsEmbeddedTest)
#include "results_embedded_test.moc"
