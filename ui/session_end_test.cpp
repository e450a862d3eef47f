// The window's end from outside: signals sent to the real program (offscreen, in a folder of
// its own) and the loss of its X display leave its files saved; in this process, a signal
// during a run stops the run before the window closes, and one during a dialog dismisses it.
#include "ui/session_end.h"

#include <signal.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cerrno>
#include <random>

#include "engine/search/scan_context.h"
#include "presets/preset.h"
#include "presets/preset_file.h"
#include "tasks/table_file.h"
#include "ui/error_box.h"
#include "ui/main_window.h"
#include "ui/test_files.h"

using veskor::TfrmMain;

using veskor::ReadBytes;

namespace {

std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Whether the process has a handler for the signal yet (SigCgt in /proc/PID/status), so that
// a signal sent now is not met by its default action.
bool Catches(qint64 pid, int signal_number) {
  QFile status(QString("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (!line.startsWith("SigCgt:")) continue;
    bool ok = false;
    const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
    return ok && (mask >> (signal_number - 1) & 1) != 0;
  }
  return false;
}

bool WaitUntilCatching(const QProcess& process, int signal_number) {
  const QDeadlineTimer deadline(60000);
  while (process.state() == QProcess::Running && !deadline.hasExpired()) {
    if (Catches(process.processId(), signal_number)) return true;
    QTest::qWait(20);
  }
  return false;
}

}  // namespace

class SessionEndTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  QStringList boxes_;

  QString InDir(const QString& name) const { return dir_->filePath(name); }

  // The program, copied into the folder, so that the folder is its program folder.
  void StartProgram(QProcess& program, const QString& platform, const QString& display = {}) {
    const QString copy = InDir("veskor");
    QVERIFY(QFile::copy(VESKOR_PROGRAM, copy));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", platform);
    environment.insert("XDG_CONFIG_HOME", InDir("config"));
    if (!display.isEmpty()) environment.insert("DISPLAY", display);
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(copy, {});
    QVERIFY(program.waitForStarted());
    // SIGPIPE is taken last.
    QVERIFY2(WaitUntilCatching(program, SIGPIPE), "the program never took over its signals");
  }
  // What the first shut-down in an empty folder writes.
  void VerifyFirstSessionSaved() {
    QCOMPARE(ReadBytes(InDir("grid.cfg")).size(), 188);
    QCOMPARE(ReadBytes(InDir("presets.dat")), QByteArray());
    QCOMPARE(ReadBytes(InDir("config.ini")),
             QByteArray("[Config]\r\nFormatStr=%3d | %*d | %s\r\n"));
  }

 private slots:
  void initTestCase() {
    veskor::SetMessageBoxSeamForTesting(
        [this](bool error, const QString& text) { boxes_ << text; });
  }
  void cleanupTestCase() { veskor::SetMessageBoxSeamForTesting(nullptr); }
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    boxes_.clear();
    veskor::StopRequested.store(false);
  }

  void SigtermSighupAndSigintCloseTheWindowAndItSavesItsFiles_data() {
    QTest::addColumn<int>("signal_number");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("SIGINT") << SIGINT;
  }
  void SigtermSighupAndSigintCloseTheWindowAndItSavesItsFiles() {
    QFETCH(int, signal_number);
    QProcess program;
    StartProgram(program, "offscreen");
    QCOMPARE(::kill(static_cast<pid_t>(program.processId()), signal_number), 0);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    VerifyFirstSessionSaved();
  }

  void ALostDisplayStillSavesTheFiles() {
    const QString server = QStandardPaths::findExecutable("Xvfb");
    if (server.isEmpty()) QSKIP("no Xvfb to lose");
    QProcess xvfb;
    // -displayfd 1: the server picks a free display and prints its number once it listens.
    xvfb.start(server, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
    QVERIFY(xvfb.waitForStarted());
    QByteArray number;
    while (!number.contains('\n') && xvfb.waitForReadyRead(60000)) number += xvfb.readAll();
    QVERIFY2(number.contains('\n'), "Xvfb gave no display");
    QProcess program;
    StartProgram(program, "xcb", ":" + QString::fromLatin1(number.trimmed()));
    xvfb.terminate();
    QVERIFY(xvfb.waitForFinished(60000));
    QVERIFY(program.waitForFinished(60000));
    // Qt's exit(), no crash (a crash's exit code is the signal's number).
    QVERIFY2(program.exitStatus() == QProcess::NormalExit,
             qPrintable(QString("ended by signal %1").arg(program.exitCode())));
    VerifyFirstSessionSaved();
  }

  // Whether the display's socket is lost while the window paints or while it idles is a matter
  // of timing; a write to any lost connection shows what the painting would meet.
  void AWriteToALostConnectionFailsInsteadOfEndingTheProgram() {
    TfrmMain window(nullptr, dir_->path());
    veskor::SessionEnd session_end(window);
    int ends[2];
    QCOMPARE(::pipe(ends), 0);
    ::close(ends[0]);
    const char byte = 'x';
    QCOMPARE(::write(ends[1], &byte, 1), ssize_t{-1});
    QCOMPARE(errno, EPIPE);
    ::close(ends[1]);
  }

  void ASignalDuringARunStopsTheRunThenClosesTheWindow() {
    // 64 MiB of random bytes with printable ASCII under every key: the run lasts seconds.
    QByteArray bytes(64 << 20, Qt::Uninitialized);
    std::mt19937_64 random(7);
    for (qsizetype i = 0; i + 8 <= bytes.size(); i += 8) {
      const uint64_t value = random();
      memcpy(bytes.data() + i, &value, 8);
    }
    QFile big(InDir("big.bin"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QCOMPARE(big.write(bytes), bytes.size());
    big.close();
    veskor::PresetList presets;
    veskor::TPreset dense = veskor::NewPreset();
    veskor::SetShortString(dense.Name, "Dense");
    std::string alphabet;
    for (int c = 0x20; c < 0x7F; ++c) alphabet.push_back(static_cast<char>(c));
    veskor::SetShortString(dense.Alphabet, alphabet);
    dense.MinLength = 1;
    presets.Append(dense);
    veskor::SavePresets(presets, Bytes(InDir("presets.dat")));
    veskor::TaskTable table;
    table.AddTaskRow(true, veskor::kStatusNone, "XOR8", "Dense", "", 0, "0", veskor::kLinkNone);
    veskor::SaveTableText(table, Bytes(InDir("grid.cfg")), u',');

    TfrmMain window(nullptr, dir_->path());
    window.show();
    veskor::SessionEnd session_end(window);
    window.findChild<QTabWidget*>("tcMain")->setCurrentIndex(veskor::kTabTask);
    window.findChild<QLineEdit*>("edPath")->setText(InDir("big.bin"));
    bool running_at_signal = false;
    bool visible_after_signal = false;
    // The signal comes with the first events that the run processes; the close request it
    // makes sets the stop flag.
    QTimer signaller;
    connect(&signaller, &QTimer::timeout, this, [&] {
      signaller.stop();
      running_at_signal = window.running();
      ::raise(SIGTERM);
      QTRY_VERIFY_WITH_TIMEOUT(veskor::StopRequested.load(), 60000);
      visible_after_signal = window.isVisible();
    });
    signaller.start(0);
    window.findChild<QPushButton*>("btnAnalyze")->click();
    QVERIFY(running_at_signal);
    QVERIFY(visible_after_signal);  // the window waited for the run
    QVERIFY(!window.isVisible());
    QCOMPARE(window.tasks().WholeNumber(veskor::NxImageColumn, 0), veskor::kStatusStopped);
    window.FormDestroy();
    QCOMPARE(boxes_, QStringList());
    QVERIFY(QFile::exists(InDir("config.ini")));
  }

  void ASignalDismissesAnOpenDialogAndClosesTheWindow() {
    TfrmMain window(nullptr, dir_->path());
    window.show();
    veskor::SessionEnd session_end(window);
    QMessageBox box(QMessageBox::Information, "Veskor", "open", QMessageBox::Ok, &window);
    bool answered_by_hand = false;
    QTimer::singleShot(0, this, [] { ::raise(SIGHUP); });
    QTimer::singleShot(60000, &box, [&] {
      answered_by_hand = true;
      box.accept();
    });
    box.exec();
    QVERIFY(!answered_by_hand);
    QVERIFY(!window.isVisible());
  }
};

QTEST_MAIN(SessionEndTest)
#include "session_end_test.moc"
