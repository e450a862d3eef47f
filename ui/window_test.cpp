// The window's behaviour: start-up and shut-down over a temporary program folder, the path's
// existence test, browsing, drops, runs with "Analyze" and "Stop", the close request during a
// run and the log links, with the boxes, the dialog, the beep and the opener replaced.
#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "engine/search/row_search.h"
#include "engine/search/scan_context.h"
#include "files/write_fully.h"
#include "presets/preset.h"
#include "presets/preset_file.h"
#include "tasks/table_file.h"
#include "ui/desktop.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/test_files.h"

using veskor::TfrmMain;

using veskor::ReadBytes;

namespace {

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes), bytes.size());
}

std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

veskor::TPreset MakePreset(const char* name, const std::string& alphabet, int min_length) {
  veskor::TPreset preset = veskor::NewPreset();
  veskor::SetShortString(preset.Name, name);
  veskor::SetShortString(preset.Alphabet, alphabet);
  preset.MinLength = static_cast<uint8_t>(min_length);
  preset.MaxLength = 0;
  return preset;
}

struct Row {
  bool use;
  const char* algorithm;
  const char* preset;
  const char* key;
};

// presets.dat with the presets and grid.cfg with the rows, as an earlier session left them.
void WriteSession(const QString& dir, std::initializer_list<veskor::TPreset> presets,
                  std::initializer_list<Row> rows) {
  veskor::PresetList list;
  for (const veskor::TPreset& preset : presets) list.Append(preset);
  veskor::SavePresets(list, Bytes(dir + "/presets.dat"));
  veskor::TaskTable table;
  for (const Row& row : rows) {
    table.AddTaskRow(row.use, veskor::kStatusNone, row.algorithm, row.preset, row.key, 0, "0",
                     veskor::kLinkNone);
  }
  veskor::SaveTableText(table, Bytes(dir + "/grid.cfg"), u',');
}

std::string LettersAlphabet() {
  std::string letters;
  for (char c = 'a'; c <= 'z'; ++c) letters.push_back(c);
  return letters;
}

// Printable ASCII: dense enough that random bytes give runs under every key.
std::string DenseAlphabet() {
  std::string dense;
  for (int c = 0x20; c < 0x7F; ++c) dense.push_back(static_cast<char>(c));
  return dense;
}

// An expression that asks for a last "b": short strings that end so pass at once, and on "b"
// and 3000 "a", or on "a" and 3000 "b", its search goes on for hours.
constexpr const char* kHeldExpression = "(.*)(.*)(.*)\\1\\2\\3b$";

// With kHeldExpression, a row that does not end until it is stopped: the first block of the
// run's search holds strings "ab" stored under XOR8 key 7, and the second opens with one of the
// endless strings under key 7 and the other under key 4. The progress of key 7 alone stays at
// the first block's end, that of all keys at key 3: strictly between 0 and 100.
QByteArray HeldInput() {
  const qsizetype block = static_cast<qsizetype>(veskor::ScanOptions().segment_bytes);
  QByteArray plain(2 * block, '\0');
  for (qsizetype at = 0; at + 64 <= block; at += 64) {
    plain[at] = 'a';
    plain[at + 1] = 'b';
  }
  plain.replace(block, 3001, "b" + QByteArray(3000, 'a'));
  for (char& byte : plain) byte = static_cast<char>(byte ^ 7);
  return plain;
}

// Whether this process still holds a descriptor on the file.
bool HoldsOpen(const QString& path) {
  const QString canonical = QFileInfo(path).canonicalFilePath();
  const QDir fds("/proc/self/fd");
  for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
    if (QFileInfo(fds.filePath(fd)).symLinkTarget() == canonical) return true;
  }
  return false;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private:
  struct Box {
    bool error;
    QString text;
  };
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TfrmMain> window_;
  QList<Box> boxes_;
  std::function<void(const QString&)> on_message_;
  QString chosen_file_;
  QStringList browsed_from_;  // the folder each browse dialog opened in
  int beeps_ = 0;
  QStringList opened_;
  QTemporaryDir big_dir_;
  QString big_file_;

  QString Dir() const { return dir_->path(); }
  QString InDir(const QString& name) const { return dir_->filePath(name); }

  TfrmMain& StartWindow() {
    window_ = std::make_unique<TfrmMain>(nullptr, Dir());
    window_->show();
    return *window_;
  }
  template <typename T>
  T* Find(const char* name) {
    T* widget = window_->findChild<T*>(name);
    if (widget == nullptr) qWarning("no control named %s", name);
    return widget;
  }
  QLineEdit* edPath() { return Find<QLineEdit>("edPath"); }
  QPushButton* btnAnalyze() { return Find<QPushButton>("btnAnalyze"); }
  QStringList ErrorTexts() const {
    QStringList texts;
    for (const Box& box : boxes_) {
      if (box.error) texts << box.text;
    }
    return texts;
  }
  QStringList MessageTexts() const {
    QStringList texts;
    for (const Box& box : boxes_) {
      if (!box.error) texts << box.text;
    }
    return texts;
  }
  // The idle form: every control that a run disables is enabled again, the button reads
  // "Analyze" with Tag 0.
  void VerifyIdle() {
    QCOMPARE(btnAnalyze()->property("Tag").toInt(), 0);
    QCOMPARE(btnAnalyze()->text(), QString("Analyze"));
    QVERIFY(!window_->running());
    for (const char* name : {"edPath", "btnAddTask", "btnDelTask", "btnReset", "TaskGrid"}) {
      QVERIFY2(Find<QWidget>(name)->isEnabled(), name);
    }
    auto* tabs = Find<QTabWidget>("tcMain");
    QVERIFY(tabs->isTabEnabled(veskor::kTabOptions));
    QVERIFY(tabs->isTabEnabled(veskor::kTabPreset));
  }
  // Drags the data over the widget and drops it there; returns whether the drop was accepted.
  bool DropOn(QWidget* target, QMimeData& data) {
    const QPoint pos = target->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && drop.isAccepted();
  }
  bool DropFiles(QWidget* target, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    // An edit that took the drop itself would insert this text.
    data.setText("inserted");
    return DropOn(target, data);
  }
  void ClickCell(int column, int row) {
    auto* grid = Find<QTableView>("TaskGrid");
    const QModelIndex index = grid->model()->index(row, column);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier,
                      grid->visualRect(index).center());
  }
  // A row over big.bin: a copy of the big file, or `input` when one is given.
  void SetUpBigRun(const char* key, const char* expression = "", const QByteArray& input = {}) {
    if (input.isEmpty()) {
      QFile::copy(big_file_, InDir("big.bin"));
    } else {
      WriteBytes(InDir("big.bin"), input);
    }
    veskor::TPreset dense = MakePreset("Dense", DenseAlphabet(), 1);
    veskor::SetShortString(dense.RegExp, expression);
    WriteSession(Dir(), {dense}, {{true, "XOR8", "Dense", key}});
    StartWindow();
    edPath()->setText(InDir("big.bin"));
    QVERIFY(btnAnalyze()->isEnabled());
    Find<QTabWidget>("tcMain")->setCurrentIndex(veskor::kTabTask);
  }

 private slots:
  void initTestCase() {
    veskor::ApplyLook(*qApp);
    veskor::SetMessageBoxSeamForTesting([this](bool error, const QString& text) {
      boxes_ << Box{error, text};
      if (!error && on_message_) on_message_(text);
    });
    veskor::SetChooseFileSeamForTesting([this](QWidget*, const QString& folder) {
      browsed_from_ << folder;
      return chosen_file_;
    });
    veskor::SetBeepSeamForTesting([this] { ++beeps_; });
    veskor::SetOpenSeamForTesting([this](const QString& path) {
      opened_ << path;
      return true;
    });
    // 64 MiB of random bytes: under every key a dense alphabet finds runs everywhere, so that
    // an all-keys row lasts many seconds.
    QVERIFY(big_dir_.isValid());
    big_file_ = big_dir_.filePath("big.bin");
    QByteArray bytes(64 << 20, Qt::Uninitialized);
    std::mt19937_64 random(7);
    for (qsizetype i = 0; i + 8 <= bytes.size(); i += 8) {
      const uint64_t value = random();
      memcpy(bytes.data() + i, &value, 8);
    }
    WriteBytes(big_file_, bytes);
  }
  void cleanupTestCase() {
    veskor::SetMessageBoxSeamForTesting(nullptr);
    veskor::SetChooseFileSeamForTesting(nullptr);
    veskor::SetBeepSeamForTesting(nullptr);
    veskor::SetOpenSeamForTesting(nullptr);
  }
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    boxes_.clear();
    on_message_ = nullptr;
    chosen_file_.clear();
    browsed_from_.clear();
    beeps_ = 0;
    opened_.clear();
    // An earlier test's close request leaves the flag set, as closing does.
    veskor::StopRequested.store(false);
  }
  void cleanup() {
    window_.reset();
    dir_.reset();
  }

  void FirstStartInAnEmptyFolder() {
    TfrmMain& window = StartWindow();
    QCOMPARE(ErrorTexts(), QStringList());
    QCOMPARE(window.files_dir(), Bytes(Dir() + "/"));
    QCOMPARE(Find<QTabWidget>("tcMain")->currentIndex(), veskor::kTabPreset);
    QCOMPARE(window.presets().Count(), 0);
    QCOMPARE(window.tasks().RowCount(), 4);
    const char* algorithms[] = {"XOR8", "ADD8", "SUB8", "NONE"};
    for (int row = 0; row < 4; ++row) {
      QCOMPARE(veskor::FromU16(window.tasks().Text(veskor::NxAlgoColumn, row)),
               QString(algorithms[row]));
      QCOMPARE(window.tasks().Text(veskor::NxPresetColumn, row), std::u16string());
      QCOMPARE(window.tasks().Checked(row), row != 2);
    }
    QCOMPARE(Find<QLineEdit>("edFormat")->text(), QString("%3d | %*d | %s"));
    QVERIFY(!Find<QLineEdit>("edExample")->text().isEmpty());
    QVERIFY(Find<QLineEdit>("edExample")->text() != QString("{ incorrect format }"));
    QVERIFY(!btnAnalyze()->isEnabled());
    QCOMPARE(btnAnalyze()->text(), QString("Analyze"));
    // Between start-up and shut-down no program file is written.
    QVERIFY(!QFile::exists(InDir("grid.cfg")));
  }

  void AFirstStartOnTheStarterPresetsNamesTheFirstInTheDefaultTasks() {
    QVERIFY(QFile::copy(VESKOR_STARTER_PRESETS, InDir("presets.dat")));
    TfrmMain& window = StartWindow();
    QCOMPARE(ErrorTexts(), QStringList());
    QVERIFY(window.presets().Count() >= 11);
    auto* list = Find<QListWidget>("lbPresets");
    QCOMPARE(list->count(), window.presets().Count());
    QCOMPARE(list->item(0)->text(), QString("Printable text"));
    QCOMPARE(Find<QLineEdit>("edName")->text(), QString("Printable text"));
    QCOMPARE(window.tasks().RowCount(), 4);
    for (int row = 0; row < 4; ++row) {
      QCOMPARE(veskor::FromU16(window.tasks().Text(veskor::NxPresetColumn, row)),
               QString("Printable text"));
    }
  }

  void StartAndImmediateCloseWritesTheThreeFiles() {
    TfrmMain& window = StartWindow();
    QVERIFY(window.close());
    window.FormDestroy();
    window.FormDestroy();  // runs once
    QCOMPARE(ErrorTexts(), QStringList());
    QCOMPARE(ReadBytes(InDir("grid.cfg")).size(), 188);
    QCOMPARE(ReadBytes(InDir("presets.dat")), QByteArray());
    QCOMPARE(ReadBytes(InDir("config.ini")),
             QByteArray("[Config]\r\nFormatStr=%3d | %*d | %s\r\n"));
  }

  void TheFilesOfAnEarlierSessionAreLoaded() {
    WriteSession(Dir(),
                 {MakePreset("Letters", LettersAlphabet(), 4), MakePreset("Digits", "0123", 2)},
                 {{true, "SUB8", "Digits", "7"}, {false, "NONE", "Letters", ""}});
    WriteBytes(InDir("config.ini"), "[Config]\r\nFormatStr=%s at %x\r\n");
    const QByteArray presets_before = ReadBytes(InDir("presets.dat"));
    TfrmMain& window = StartWindow();
    QCOMPARE(ErrorTexts(), QStringList());
    QCOMPARE(window.presets().Count(), 2);
    QCOMPARE(window.findChild<QLineEdit*>("edName")->text(), QString("Letters"));
    QCOMPARE(window.tasks().RowCount(), 2);
    QCOMPARE(window.tasks().SelectedRow(), 0);
    QCOMPARE(veskor::FromU16(window.tasks().Text(veskor::NxPresetColumn, 0)), QString("Digits"));
    QCOMPARE(veskor::FromU16(window.tasks().Text(veskor::NxKeyColumn, 0)), QString("7"));
    QVERIFY(!window.tasks().Checked(1));
    QCOMPARE(Find<QLineEdit>("edFormat")->text(), QString("%s at %x"));
    window.close();
    window.FormDestroy();
    QCOMPARE(ReadBytes(InDir("presets.dat")), presets_before);
    QCOMPARE(ReadBytes(InDir("config.ini")), QByteArray("[Config]\r\nFormatStr=%s at %x\r\n"));
  }

  void ATwoByteTableFileGivesAnEmptyTable() {
    WriteBytes(InDir("grid.cfg"), QByteArray("\xFF\xFE", 2));
    TfrmMain& window = StartWindow();
    QCOMPARE(ErrorTexts(), QStringList());
    QCOMPARE(window.tasks().RowCount(), 0);
    window.FormDestroy();
    QCOMPARE(ReadBytes(InDir("grid.cfg")), QByteArray("\xFF\xFE", 2));
  }

  void AFailedStartUpStepShowsItsErrorAndTheLaterStepsRun() {
    // Nine fields in a line: the table file cannot be read.
    const QString line = "True,-1,XOR8,,,0,0,-1,extra\r\n";
    QByteArray table("\xFF\xFE", 2);
    table += QByteArray(reinterpret_cast<const char*>(line.utf16()), line.size() * 2);
    WriteBytes(InDir("grid.cfg"), table);
    WriteBytes(InDir("config.ini"), "[Config]\r\nFormatStr=%d %s\r\n");
    TfrmMain& window = StartWindow();
    QCOMPARE(ErrorTexts(), QStringList{"Cell out of bounds (8, 0)"});
    QCOMPARE(Find<QLineEdit>("edFormat")->text(), QString("%d %s"));
    QCOMPARE(Find<QLineEdit>("edExample")->text().isEmpty(), false);
    WriteBytes(InDir("file"), "x");
    QVERIFY(DropFiles(edPath(), {InDir("file")}));
    QCOMPARE(edPath()->text(), InDir("file"));
    // What could not be read is not overwritten at shut-down.
    window.FormDestroy();
    QCOMPARE(ErrorTexts().size(), 1);
    QCOMPARE(ReadBytes(InDir("grid.cfg")), table);
    QCOMPARE(ReadBytes(InDir("config.ini")), QByteArray("[Config]\r\nFormatStr=%d %s\r\n"));
  }

  // Each line of the exit box names its file: a config.ini that cannot be written even by root,
  // and a full disk under grid.cfg ("Disk full" alone names none).
  void EverySaveIsAttemptedAndOneBoxNamesEachFailure() {
    // A link into a folder that does not exist: its save fails before it writes anything.
    QVERIFY(QFile::link("missing/config.ini", InDir("config.ini")));
    TfrmMain& window = StartWindow();
    QCOMPARE(ErrorTexts(), QStringList());
    window.presets().AddPreset();
    veskor::test::FailNextWrite(ENOSPC);
    window.FormDestroy();
    QCOMPARE(ErrorTexts(), QStringList{QString("Unable to write to %1.\n%2: Disk full.")
                                           .arg(InDir("config.ini"), InDir("grid.cfg"))});
    QCOMPARE(ReadBytes(InDir("presets.dat")).size(), qsizetype{sizeof(veskor::TPreset)});
  }

  // A presets.dat that cannot be read is said at start, once, with what will happen at exit;
  // it is left as it is then, whatever presets the session made.
  void APresetFileThatCannotBeReadIsNamedAtStart() {
    QVERIFY(QDir(Dir()).mkdir("presets.dat"));
    TfrmMain& window = StartWindow();
    QCOMPARE(MessageTexts(),
             QStringList{QString("Cannot open file \"%1\". Is a directory. This window starts "
                                 "without presets and will not save presets.dat at exit, so the "
                                 "presets made in it will not be kept.")
                             .arg(InDir("presets.dat"))});
    window.presets().AddPreset();
    window.FormDestroy();
    QCOMPARE(ErrorTexts(), QStringList());
    QVERIFY(QFileInfo(InDir("presets.dat")).isDir());
    QCOMPARE(MessageTexts().size(), 1);
  }

  void ASecondWindowInTheSameFolderIsRefusedAndSavesNothing() {
    // The first window's save in progress, and three presets that it keeps.
    TfrmMain& first = StartWindow();
    WriteBytes(InDir(".grid.cfg.Ab12Cd"), "being written");
    for (int i = 0; i < 3; ++i) first.presets().AddPreset();
    {
      TfrmMain second(nullptr, Dir());
      QVERIFY(second.refused());
      QCOMPARE(MessageTexts(),
               QStringList{QString("Veskor is already running with the files in %1.").arg(Dir())});
      QCOMPARE(second.files_dir(), std::string());
      second.presets().AddPreset();
      second.FormDestroy();
    }
    QVERIFY(QFile::exists(InDir(".grid.cfg.Ab12Cd")));
    QVERIFY(!QFile::exists(InDir("presets.dat")));
    first.FormDestroy();
    QCOMPARE(ReadBytes(InDir("presets.dat")).size(), qsizetype{3 * sizeof(veskor::TPreset)});
    // The folder is free once the first window is gone; what its killed save left goes.
    window_.reset();
    TfrmMain& third = StartWindow();
    QVERIFY(!third.refused());
    QCOMPARE(third.presets().Count(), 3);
    QVERIFY(!QFile::exists(InDir(".grid.cfg.Ab12Cd")));
    QCOMPARE(ErrorTexts(), QStringList());
  }

  void APresetFileCutInsideARecordIsKeptAndNamedAtStart() {
    const QByteArray cut(100, 'x');
    WriteBytes(InDir("presets.dat"), cut);
    TfrmMain& window = StartWindow();
    const QStringList kept = QDir(Dir()).entryList({"presets.dat.broken-*"}, QDir::Files);
    QCOMPARE(kept.size(), 1);
    QCOMPARE(ReadBytes(InDir(kept[0])), cut);
    QCOMPARE(MessageTexts(),
             QStringList{QString("The last 100 bytes of presets.dat are not a whole preset: the "
                                 "file as it was is kept as %1.")
                             .arg(InDir(kept[0]))});
    window.presets().AddPreset();
    window.FormDestroy();
    QCOMPARE(ReadBytes(InDir("presets.dat")).size(), qsizetype{sizeof(veskor::TPreset)});
    QCOMPARE(ReadBytes(InDir(kept[0])), cut);
  }

  void ThePathEnablesAnalyzeExactlyWhenItNamesAFile_data() {
    QTest::addColumn<QString>("create");  // a file made in the folder, if any
    QTest::addColumn<QString>("typed");   // relative to the folder
    QTest::addColumn<bool>("enabled");
    QTest::newRow("existing file") << QString("input.bin") << QString("input.bin") << true;
    QTest::newRow("missing file") << QString("input.bin") << QString("input.bi") << false;
    QTest::newRow("folder") << QString("") << QString("") << false;
    QTest::newRow("star is a plain character") << QString("a*b") << QString("a*b") << true;
    QTest::newRow("star is no wildcard") << QString("axb") << QString("a*b") << false;
    QTest::newRow("question mark is no wildcard") << QString("axb") << QString("a?b") << false;
    QTest::newRow("cyrillic name") << QString("файл.bin") << QString("файл.bin") << true;
  }
  void ThePathEnablesAnalyzeExactlyWhenItNamesAFile() {
    QFETCH(QString, create);
    QFETCH(QString, typed);
    QFETCH(bool, enabled);
    if (!create.isEmpty()) WriteBytes(InDir(create), "data");
    StartWindow();
    // Typed key by key; keyClicks takes ASCII only.
    for (const QChar c : Dir() + "/" + typed) {
      QTest::sendKeyEvent(QTest::Click, edPath(), Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    QCOMPARE(edPath()->text(), Dir() + "/" + typed);
    QCOMPARE(btnAnalyze()->isEnabled(), enabled);
  }

  void DeletingACharacterDisablesAnalyzeAgain() {
    WriteBytes(InDir("input.bin"), "data");
    StartWindow();
    QTest::keyClicks(edPath(), InDir("input.bin"));
    QVERIFY(btnAnalyze()->isEnabled());
    QTest::keyClick(edPath(), Qt::Key_Backspace);
    QVERIFY(!btnAnalyze()->isEnabled());
    QTest::keyClicks(edPath(), "n");
    QVERIFY(btnAnalyze()->isEnabled());
    QVERIFY(QFile::remove(InDir("input.bin")));
    QTest::keyClick(edPath(), Qt::Key_End);  // no change of the text, no new test
    QVERIFY(btnAnalyze()->isEnabled());
  }

  void BrowseTakesAConfirmedFileAndIgnoresACancel() {
    WriteBytes(InDir("chosen.bin"), "data");
    StartWindow();
    edPath()->setText("typed");
    auto* button = Find<QToolButton>("edPathButton");
    chosen_file_.clear();  // cancelled
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(edPath()->text(), QString("typed"));
    QVERIFY(!btnAnalyze()->isEnabled());
    chosen_file_ = InDir("chosen.bin");
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(edPath()->text(), InDir("chosen.bin"));
    QVERIFY(btnAnalyze()->isEnabled());
  }

  void BrowseOpensInTheFolderOfThePath_data() {
    QTest::addColumn<QString>("path");    // in the field, relative to the test's folder
    QTest::addColumn<QString>("folder");  // where the dialog opens; empty: its default
    QTest::newRow("empty path") << QString() << QString();
    QTest::newRow("an existing file") << QString("sub/file.bin") << QString("sub");
    QTest::newRow("a missing file in a folder") << QString("sub/missing.bin") << QString("sub");
    QTest::newRow("a folder") << QString("sub") << QString("sub");
    QTest::newRow("a missing folder") << QString("gone/file.bin") << QString();
  }
  void BrowseOpensInTheFolderOfThePath() {
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QVERIFY(QDir(Dir()).mkpath("sub"));
    WriteBytes(InDir("sub/file.bin"), "data");
    StartWindow();
    edPath()->setText(path.isEmpty() ? QString() : InDir(path));
    QTest::mouseClick(Find<QToolButton>("edPathButton"), Qt::LeftButton);
    QCOMPARE(browsed_from_, QStringList{folder.isEmpty() ? QString() : InDir(folder)});
  }

  void DropsPutEachNameIntoThePath_data() {
    QTest::addColumn<QString>("target");
    QTest::newRow("onto the path") << QString("edPath");
    QTest::newRow("onto the format edit") << QString("edFormat");
    QTest::newRow("onto the window") << QString("frmMain");
    QTest::newRow("onto the grid") << QString("TaskGrid");
  }
  void DropsPutEachNameIntoThePath() {
    QFETCH(QString, target);
    for (const char* name : {"one", "two", "three"}) WriteBytes(InDir(name), "data");
    StartWindow();
    const QString format = Find<QLineEdit>("edFormat")->text();
    QWidget* widget = target == "frmMain" ? window_.get() : Find<QWidget>(qPrintable(target));
    QStringList seen;
    connect(edPath(), &QLineEdit::textChanged, this, [&](const QString& text) { seen << text; });
    QVERIFY(DropFiles(widget, {InDir("one"), InDir("two"), InDir("three")}));
    QCOMPARE(beeps_, 1);
    QCOMPARE(seen, (QStringList{InDir("one"), InDir("two"), InDir("three")}));
    QCOMPARE(edPath()->text(), InDir("three"));
    QVERIFY(btnAnalyze()->isEnabled());
    QCOMPARE(Find<QLineEdit>("edFormat")->text(), format);

    QVERIFY(DropFiles(widget, {Dir()}));
    QCOMPARE(beeps_, 2);
    QCOMPARE(edPath()->text(), Dir());
    QVERIFY(!btnAnalyze()->isEnabled());
  }

  void DropsWithoutFilesPassTheFilter() {
    StartWindow();
    QMimeData text_only;
    text_only.setText("some text");
    DropOn(Find<QWidget>("edFormat"), text_only);
    QMimeData web;
    web.setUrls({QUrl("https://example.org/file")});
    DropOn(Find<QWidget>("edFormat"), web);
    QCOMPARE(beeps_, 0);
    QCOMPARE(edPath()->text(), QString());
  }

  void ARunFromTheWindowWritesCellsAndLogAndOpensTheLink() {
    WriteSession(Dir(), {MakePreset("Letters", LettersAlphabet(), 4)},
                 {{true, "XOR8", "Letters", "$41"}, {false, "ADD8", "Letters", ""}});
    // "secret" at 10 and "hidden" at 26 under XOR 0x41; the filler decodes to '@'.
    QByteArray input(10, '\x01');
    for (char c : std::string("secret")) input += char(c ^ 0x41);
    input += QByteArray(10, '\x01');
    for (char c : std::string("hidden")) input += char(c ^ 0x41);
    input += QByteArray(5, '\x01');
    WriteBytes(InDir("input.bin"), input);
    TfrmMain& window = StartWindow();
    Find<QTabWidget>("tcMain")->setCurrentIndex(veskor::kTabTask);
    QTest::keyClicks(edPath(), InDir("input.bin"));
    QTest::mouseClick(btnAnalyze(), Qt::LeftButton);
    QCOMPARE(boxes_.size(), 0);
    VerifyIdle();
    const veskor::TaskTable& tasks = window.tasks();
    QCOMPARE(tasks.WholeNumber(veskor::NxImageColumn, 0), veskor::kStatusDone);
    QCOMPARE(tasks.WholeNumber(veskor::NxProgressColumn, 0), 100);
    QCOMPARE(veskor::FromU16(tasks.Text(veskor::NxResultColumn, 0)), QString("2"));
    QCOMPARE(tasks.WholeNumber(veskor::NxGotoColumn, 0), veskor::kLinkOpen);
    QCOMPARE(tasks.WholeNumber(veskor::NxImageColumn, 1), veskor::kStatusNone);
    const QString log = InDir("input.bin_XOR8.log");
    QCOMPARE(tasks.LogPath(0), Bytes(log));
    QCOMPARE(ReadBytes(log), QByteArray(" 65 | 10 | secret\r\n 65 | 26 | hidden\r\n"));
    QVERIFY(!HoldsOpen(log));

    ClickCell(veskor::NxResultColumn, 0);
    ClickCell(veskor::NxGotoColumn, 1);  // not run since the reset
    QCOMPARE(opened_, QStringList());
    ClickCell(veskor::NxGotoColumn, 0);
    QCOMPARE(opened_, QStringList{log});
    QVERIFY(QFile::remove(log));
    ClickCell(veskor::NxGotoColumn, 0);
    QCOMPARE(opened_, QStringList{log});
    window.TaskGridCellClick(veskor::NxGotoColumn, 5);  // no such row
    QCOMPARE(opened_.size(), 1);
  }

  void ARowThatDidNotRunShowsWhyOnItsStatusPicture() {
    WriteSession(Dir(), {MakePreset("Letters", LettersAlphabet(), 4)},
                 {{true, "LOCAL", "Letters", "0"},
                  {true, "XOR8", "Gone", "0"},
                  {true, "NONE", "Letters", "0"}});
    WriteBytes(InDir("input.bin"), "letters");
    TfrmMain& window = StartWindow();
    Find<QTabWidget>("tcMain")->setCurrentIndex(veskor::kTabTask);
    edPath()->setText(InDir("input.bin"));
    QTest::mouseClick(btnAnalyze(), Qt::LeftButton);
    const QStringList messages = MessageTexts();
    QCOMPARE(messages.size(), 2);
    auto* grid = Find<QTableView>("TaskGrid");
    for (int row = 0; row < 2; ++row) {
      QCOMPARE(window.tasks().WholeNumber(veskor::NxImageColumn, row), veskor::kStatusNotRun);
      const QRect cell = grid->visualRect(grid->model()->index(row, veskor::NxImageColumn));
      QHelpEvent help(QEvent::ToolTip, cell.center(), grid->viewport()->mapToGlobal(cell.center()));
      QCoreApplication::sendEvent(grid->viewport(), &help);
      QTRY_COMPARE_WITH_TIMEOUT(QToolTip::text(), messages[row], 60000);
      QToolTip::hideText();
    }
    QCOMPARE(window.tasks().WholeNumber(veskor::NxImageColumn, 2), veskor::kStatusDone);
    // Nothing of it is saved: the table file holds the rows without their results.
    window.FormDestroy();
    veskor::TaskTable saved;
    veskor::LoadTableText(saved, Bytes(InDir("grid.cfg")), u',');
    for (int row = 0; row < 3; ++row) {
      QCOMPARE(saved.WholeNumber(veskor::NxImageColumn, row), veskor::kStatusNone);
    }
  }

  void StopDuringARowEndsItAsStopped_data() {
    QTest::addColumn<QString>("key");
    QTest::newRow("all keys") << QString("");
    QTest::newRow("one key") << QString("7");
  }
  void StopDuringARowEndsItAsStopped() {
    QFETCH(QString, key);
    SetUpBigRun(qPrintable(key), kHeldExpression, HeldInput());
    auto* viewport = Find<QTableView>("TaskGrid")->viewport();
    // Whether the grid painted while the row ran with its progress strictly between 0 and 100.
    bool painted_between = false;
    struct PaintWatch : QObject {
      std::function<void()> on_paint;
      bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) on_paint();
        return false;
      }
    } watch;
    watch.on_paint = [&] {
      const int percent = window_->tasks().WholeNumber(veskor::NxProgressColumn, 0);
      if (window_->running() && percent > 0 && percent < 100) painted_between = true;
    };
    viewport->installEventFilter(&watch);
    QList<int> progress;
    QStringList infos;
    int stop_progress = -1;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
      progress << window_->tasks().WholeNumber(veskor::NxProgressColumn, 0);
      infos << Find<QLabel>("lbInfo")->text();
      QVERIFY(window_->running());
      QVERIFY(btnAnalyze()->isEnabled());
      QCOMPARE(btnAnalyze()->text(), QString("Stop"));
      QCOMPARE(btnAnalyze()->property("Tag").toInt(), 1);
      QVERIFY(!edPath()->isEnabled());
      QVERIFY(!Find<QWidget>("TaskGrid")->isEnabled());
      QVERIFY(!Find<QTabWidget>("tcMain")->isTabEnabled(veskor::kTabOptions));
      QVERIFY(!Find<QTabWidget>("tcMain")->isTabEnabled(veskor::kTabPreset));
      QVERIFY(Find<QTabWidget>("tcMain")->isTabEnabled(veskor::kTabTask));
      // Stop while the row still runs, once the grid has painted its progress rising.
      if (!painted_between) return;
      sampler.stop();
      QTest::mouseClick(btnAnalyze(), Qt::LeftButton);
      stop_progress = window_->tasks().WholeNumber(veskor::NxProgressColumn, 0);
    });
    // The held row ends only by a stop: one that the window never gives fails the test.
    bool gave_up = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [&] {
      gave_up = true;
      veskor::RequestStop();
    });
    sampler.start(10);
    deadline.start(60000);
    QTest::mouseClick(btnAnalyze(), Qt::LeftButton);
    sampler.stop();
    deadline.stop();
    viewport->removeEventFilter(&watch);
    QVERIFY2(!gave_up, "the row was not stopped from the window within a minute");
    QCOMPARE(boxes_.size(), 0);
    const veskor::TaskTable& tasks = window_->tasks();
    QCOMPARE(tasks.WholeNumber(veskor::NxImageColumn, 0), veskor::kStatusStopped);
    const int last = tasks.WholeNumber(veskor::NxProgressColumn, 0);
    QVERIFY2(last < 100, qPrintable(QString::number(last)));
    QVERIFY2(last - stop_progress <= 1, qPrintable(QString("%1 %2").arg(stop_progress).arg(last)));
    // While the row ran, events were processed and the progress never fell.
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    QVERIFY(!veskor::StopRequested.load());
    VerifyIdle();
    QVERIFY(btnAnalyze()->isEnabled());
    QVERIFY(!HoldsOpen(InDir("big.bin_XOR8.log")));
    // The status bar told the progress in words while the row ran, and its own text after.
    const QRegularExpression words(
        key.isEmpty() ? R"(^XOR8: all 255 keys at once, \d{1,3}% done, \d{1,3}(,\d{3})* strings?$)"
                      : R"(^XOR8 key 7: \d{1,3}(,\d{3})* strings?$)");
    for (const QString& info : infos) QVERIFY2(words.match(info).hasMatch(), qPrintable(info));
    QCOMPARE(Find<QLabel>("lbInfo")->text(), QString(veskor::kCreditCaption));
    // The stopped row's log is in place under its name, and no temporary file is left.
    QVERIFY(QFile::exists(InDir("big.bin_XOR8.log")));
    QCOMPARE(QDir(Dir()).entryList(QDir::Files | QDir::Hidden).filter("big.bin_XOR8.log").size(),
             1);
  }

  void TheStatusBarDropsARowsProgressWhenTheRowEnds() {
    QFile::copy(big_file_, InDir("big.bin"));
    WriteSession(Dir(), {MakePreset("Dense", DenseAlphabet(), 1)},
                 {{true, "XOR8", "Dense", "7"}, {true, "ADD8", "Gone", ""}});
    StartWindow();
    edPath()->setText(InDir("big.bin"));
    QString during_message;
    on_message_ = [&](const QString&) { during_message = Find<QLabel>("lbInfo")->text(); };
    QTest::mouseClick(btnAnalyze(), Qt::LeftButton);
    QCOMPARE(MessageTexts().size(), 1);
    QCOMPARE(during_message, QString(veskor::kCreditCaption));
  }

  void CloseDuringARunClosesAfterTheRunReturns() {
    SetUpBigRun("");
    bool visible_after_close_request = false;
    // The close request comes with the first events that the run processes.
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
      closer.stop();
      QVERIFY(window_->running());
      window_->close();
      visible_after_close_request = window_->isVisible();
    });
    closer.start(0);
    btnAnalyze()->click();
    QVERIFY(visible_after_close_request);
    QVERIFY(!window_->isVisible());
    QCOMPARE(window_->tasks().WholeNumber(veskor::NxImageColumn, 0), veskor::kStatusStopped);
    window_->FormDestroy();
    QCOMPARE(ErrorTexts(), QStringList());
    window_.reset();
    // The saved table holds no run results.
    veskor::TaskTable saved;
    veskor::LoadTableText(saved, Bytes(InDir("grid.cfg")), u',');
    QCOMPARE(saved.RowCount(), 1);
    QCOMPARE(saved.WholeNumber(veskor::NxImageColumn, 0), veskor::kStatusNone);
    QCOMPARE(saved.WholeNumber(veskor::NxProgressColumn, 0), 0);
    QCOMPARE(saved.Text(veskor::NxResultColumn, 0), std::u16string(u"0"));
    QCOMPARE(saved.WholeNumber(veskor::NxGotoColumn, 0), veskor::kLinkNone);
  }

  void AnExpressionThatTakesForeverStillLetsStopAndCloseThrough() {
    // A backreference search that no technique makes quick, over a small file of letters: the
    // window still repaints, and Stop ends the row; then a close request ends the window.
    veskor::TPreset slow = MakePreset("Slow", LettersAlphabet(), 1);
    veskor::SetShortString(slow.RegExp, kHeldExpression);
    WriteSession(Dir(), {slow}, {{true, "NONE", "Slow", "0"}});
    WriteBytes(InDir("letters.bin"), "b" + QByteArray(3000, 'a'));
    TfrmMain& window = StartWindow();
    Find<QTabWidget>("tcMain")->setCurrentIndex(veskor::kTabTask);
    edPath()->setText(InDir("letters.bin"));
    // Stop and then the close request come with the first events that each run processes.
    bool stopped = false;
    QTimer stopper;
    connect(&stopper, &QTimer::timeout, this, [&] {
      if (!window.running()) return;
      stopper.stop();
      QTest::mouseClick(btnAnalyze(), Qt::LeftButton);
      stopped = true;
    });
    stopper.start(0);
    QTest::mouseClick(btnAnalyze(), Qt::LeftButton);
    stopper.stop();
    QVERIFY(stopped);  // events went on while the expression searched
    QCOMPARE(window.tasks().WholeNumber(veskor::NxImageColumn, 0), veskor::kStatusStopped);
    QVERIFY(!window.running());
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
      if (!window.running()) return;
      closer.stop();
      window.close();
    });
    closer.start(0);
    QTest::mouseClick(btnAnalyze(), Qt::LeftButton);
    closer.stop();
    QVERIFY(!window.isVisible());
  }

  void AnErrorThatEndsARunLeavesTheWindowIdle() {
    WriteSession(Dir(), {MakePreset("Letters", LettersAlphabet(), 4)},
                 {{true, "XOR8", "Letters", "zz"}, {true, "ADD8", "Letters", "1"}});
    WriteBytes(InDir("input.bin"), "abcdefgh");
    WriteBytes(InDir("input.bin_XOR8.log"), "earlier");
    TfrmMain& window = StartWindow();
    Find<QTabWidget>("tcMain")->setCurrentIndex(veskor::kTabTask);
    edPath()->setText(InDir("input.bin"));
    veskor::StopRequested.store(true);
    QTest::mouseClick(btnAnalyze(), Qt::LeftButton);
    QCOMPARE(ErrorTexts(), QStringList{"'zz' is not a valid integer value."});
    QCOMPARE(window.tasks().WholeNumber(veskor::NxImageColumn, 0), veskor::kStatusNotRun);
    QCOMPARE(window.tasks().Reason(0), std::string("'zz' is not a valid integer value"));
    VerifyIdle();
    QVERIFY(btnAnalyze()->isEnabled());
    QVERIFY(!veskor::StopRequested.load());
    QCOMPARE(ReadBytes(InDir("input.bin_XOR8.log")), QByteArray("earlier"));  // left whole
    QVERIFY(!HoldsOpen(InDir("input.bin_XOR8.log")));
    QVERIFY(!HoldsOpen(InDir("input.bin")));
    QCOMPARE(window.tasks().WholeNumber(veskor::NxImageColumn, 1), veskor::kStatusNone);
    // The window runs again.
    window.tasks().SetText(veskor::NxKeyColumn, 0, u"1");
    QTest::mouseClick(btnAnalyze(), Qt::LeftButton);
    QCOMPARE(ErrorTexts().size(), 1);
    QCOMPARE(window.tasks().WholeNumber(veskor::NxImageColumn, 1), veskor::kStatusDone);
  }

  void ADropDuringARunChangesThePathOfTheLaterRows_data() {
    QTest::addColumn<bool>("drop_folder");
    QTest::newRow("a file") << false;
    QTest::newRow("a folder") << true;
  }
  void ADropDuringARunChangesThePathOfTheLaterRows() {
    QFETCH(bool, drop_folder);
    WriteSession(Dir(), {MakePreset("Letters", LettersAlphabet(), 1)},
                 {{true, "XOR8", "Letters", "0"}, {true, "ADD8", "Letters", "0"}});
    WriteBytes(InDir("empty.bin"), "");
    WriteBytes(InDir("other.bin"), "abc");
    const QString dropped = drop_folder ? InDir("sub") : InDir("other.bin");
    QVERIFY(QDir(Dir()).mkpath("sub"));
    TfrmMain& window = StartWindow();
    Find<QTabWidget>("tcMain")->setCurrentIndex(veskor::kTabTask);
    edPath()->setText(InDir("empty.bin"));
    bool stop_enabled = false;
    // Row 0's empty file gives the mapping message; the drop arrives while it is shown.
    on_message_ = [&](const QString&) {
      if (edPath()->text() != InDir("empty.bin")) return;
      QVERIFY(!edPath()->isEnabled());
      QVERIFY(DropFiles(edPath(), {dropped}));
      stop_enabled = btnAnalyze()->isEnabled() && btnAnalyze()->text() == "Stop";
    };
    QTest::mouseClick(btnAnalyze(), Qt::LeftButton);
    QVERIFY(stop_enabled);
    QCOMPARE(beeps_, 1);
    QCOMPARE(edPath()->text(), dropped);
    QCOMPARE(window.tasks().LogPath(0), Bytes(InDir("empty.bin_XOR8.log")));
    // A folder cannot be read: its row makes no log, and names none.
    QCOMPARE(window.tasks().LogPath(1), drop_folder ? std::string() : Bytes(dropped + "_ADD8.log"));
    QCOMPARE(QFile::exists(dropped + "_ADD8.log"), !drop_folder);
    VerifyIdle();
    if (drop_folder) {
      QCOMPARE(MessageTexts().size(), 2);
      QVERIFY(!btnAnalyze()->isEnabled());
    } else {
      QCOMPARE(MessageTexts().size(), 1);
      QCOMPARE(window.tasks().WholeNumber(veskor::NxImageColumn, 1), veskor::kStatusDone);
      QCOMPARE(veskor::FromU16(window.tasks().Text(veskor::NxResultColumn, 1)), QString("1"));
      QVERIFY(btnAnalyze()->isEnabled());
    }
  }

  void CloseWhenIdleSetsTheStopFlagAndCloses() {
    TfrmMain& window = StartWindow();
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
    QVERIFY(veskor::StopRequested.load());
  }

  void AScreenshotAfterARunOnRequest() {
    const QString folder = qEnvironmentVariable("VESKOR_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("VESKOR_SCREENSHOT_DIR is not set");
    WriteSession(Dir(), {MakePreset("Letters", LettersAlphabet(), 3)},
                 {{true, "XOR8", "Letters", ""},
                  {false, "ADD8", "Letters", ""},
                  {true, "NONE", "Letters", "0"}});
    WriteBytes(InDir("input.bin"), "the quick brown fox jumps over the lazy dog");
    StartWindow();
    Find<QTabWidget>("tcMain")->setCurrentIndex(veskor::kTabTask);
    edPath()->setText(InDir("input.bin"));
    btnAnalyze()->click();
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(window_->grab().save(QDir(folder).filePath("frmMain_after_run.png")));
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
