// The error box's text rule and the handler wrapper.
#include "ui/error_box.h"

#include <QApplication>
#include <QtTest>

#include "text/error.h"

class ErrorBoxTest : public QObject {
  Q_OBJECT
 private slots:
  void AppendsAPeriodAfterLettersAndDigits() {
    struct Case {
      const char* message;
      const char* shown;
    } cases[] = {{"File access denied", "File access denied."},
                 {"I/O error 5", "I/O error 5."},
                 {"'65 ' is not a valid integer value", "'65 ' is not a valid integer value."},
                 {"RegExp(comp): ParseReg Unmatched () (pos 3)",
                  "RegExp(comp): ParseReg Unmatched () (pos 3)"},
                 {"Cannot open file \"x\". Permission denied.",
                  "Cannot open file \"x\". Permission denied."},
                 {"List index out of bounds (-1)", "List index out of bounds (-1)"},
                 {"", ""}};
    for (const Case& c : cases) QCOMPARE(veskor::ErrorBoxText(c.message), QString(c.shown));
  }

  void GuardedShowsTheErrorAndGoesOn() {
    QStringList shown;
    veskor::SetMessageBoxSeamForTesting([&](bool error, const QString& text) {
      QVERIFY(error);
      shown << text;
    });
    bool after = false;
    veskor::Guarded(nullptr, [] { throw veskor::Error("Disk full"); });
    veskor::Guarded(nullptr, [&] { after = true; });
    veskor::SetMessageBoxSeamForTesting(nullptr);
    QCOMPARE(shown, QStringList{"Disk full."});
    QVERIFY(after);
  }
};

QTEST_MAIN(ErrorBoxTest)
#include "error_box_test.moc"
