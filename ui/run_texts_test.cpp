// The run's numbers in words: digit grouping at every length, the singular, both progress forms.
#include "ui/run_texts.h"

#include <QtTest>

class RunTextsTest : public QObject {
  Q_OBJECT
 private slots:
  void GroupsDigitsInThrees() {
    const struct {
      int64_t value;
      const char* text;
    } cases[] = {{0, "0"},
                 {7, "7"},
                 {999, "999"},
                 {1000, "1,000"},
                 {12345, "12,345"},
                 {123456, "123,456"},
                 {1234567, "1,234,567"},
                 {-1234, "-1,234"},
                 {INT64_MAX, "9,223,372,036,854,775,807"},
                 {INT64_MIN, "-9,223,372,036,854,775,808"}};
    for (const auto& c : cases) QCOMPARE(veskor::GroupedNumber(c.value), QString(c.text));
  }

  void CountsAndProgressInWords() {
    QCOMPARE(veskor::StringCountText(0), QString("0 strings"));
    QCOMPARE(veskor::StringCountText(1), QString("1 string"));
    QCOMPARE(veskor::StringCountText(12345), QString("12,345 strings"));
    QCOMPARE(veskor::RunProgressText("XOR8", false, 37, 12345),
             QString("XOR8: key 37 of 255, 12,345 strings"));
    QCOMPARE(veskor::RunProgressText("XOR8", true, 65, 1204),
             QString("XOR8 key 65: 1,204 strings"));
    QCOMPARE(veskor::RunProgressText("NONE", true, 0, 1), QString("NONE key 0: 1 string"));
  }
};

QTEST_MAIN(RunTextsTest)
#include "run_texts_test.moc"
