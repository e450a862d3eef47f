// The run's numbers in words: digit grouping at every length, the singular, both progress forms,
// and keys as each algorithm writes them.
#include "ui/run_texts.h"

#include <QtTest>
#include <algorithm>

#include "engine/decoding/algorithms.h"
#include "engine/run/run_search.h"
#include "ui/results/row_results.h"

class RunTextsTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { veskor::FillAlgorithms(); }
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
    const struct {
      const char* algorithm;
      bool single_key;
      int key;
      int64_t lines;
      int percent;
      const char* text;
    } cases[] = {
        {"XOR8", false, 37, 12345, 14, "XOR8: all 255 keys at once, 14% done, 12,345 strings"},
        {"XOR8", true, 65, 1204, 50, "XOR8 key 65: 1,204 strings"},
        {"NONE", true, 0, 1, 0, "NONE key 0: 1 string"},
        {"XOR8ROL", false, 0x35A, 2, 41, "XOR8ROL: key 0x35A of 0x7FF, 2 strings"},
        {"ROL8ADD", true, 0x100, 1, 3, "ROL8ADD key 0x100: 1 string"},
        {"XOR8INC", false, 7, 3, 0, "XOR8INC: all 256 keys at once, 0% done, 3 strings"},
        {"ANY", false, 0x35A, 3, 62, "ANY: every algorithm over all keys, 62% done"},
    };
    for (const auto& c : cases) {
      QCOMPARE(veskor::RunProgressText(c.algorithm, c.single_key, c.key, c.lines, c.percent),
               QString(c.text));
    }
  }

  // A key as the Results window and the Result cell write it, on its own row and as a pair of
  // an ANY row.
  void KeysAsTheirAlgorithmWritesThem() {
    const struct {
      const char* algorithm;
      int key;
      const char* shown;  // on a row of the algorithm
      const char* named;  // as a pair of an ANY row, in the Result cell
    } cases[] = {{"XOR8", 0x5A, "90 (0x5A)", "XOR8 90 (0x5A)"},
                 {"XOR8", 7, "7 (0x07)", "XOR8 7 (0x07)"},
                 {"XOR8ROL", 0x35A, "858 (0x35A)", "XOR8ROL 858 (0x35A)"},
                 {"ROL8ADD", 0x7FF, "2047 (0x7FF)", "ROL8ADD 2047 (0x7FF)"},
                 {"XOR8INC", 0, "0 (0x00)", "XOR8INC 0 (0x00)"},
                 {"NONEW", 1, "1 (0x01)", "NONEW"}};
    for (const auto& c : cases) {
      veskor::RunSearch row;
      QVERIFY(veskor::FindAlgorithm(c.algorithm, row.algorithm));
      QCOMPARE(veskor::ListedKeyText(row, c.key), QString(c.shown));
      veskor::RunSearch any;
      any.algorithm.Name = veskor::kAnyAlgorithmName;
      any.any = true;
      const int place = static_cast<int>(
          std::find_if(veskor::Algorithms.begin(), veskor::Algorithms.end(),
                       [&](const veskor::TAlgorithm& a) { return a.Name == c.algorithm; }) -
          veskor::Algorithms.begin());
      const int pair = veskor::RowSummary::PairId(place, c.key);
      QCOMPARE(veskor::NamedKeyText(any, pair), QString(c.named));
      QCOMPARE(veskor::KeyAlgorithm(any, pair).Name, std::string(c.algorithm));
    }
  }
};

QTEST_MAIN(RunTextsTest)
#include "run_texts_test.moc"
