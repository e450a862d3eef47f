// The virtual list of one key's strings: its rows as they grow slice by slice, each row's string
// fetched again through the page cache, the filter, a changed file, the cell text.
#include "ui/results/string_list_model.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <string>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/search/scan_context.h"

using veskor::StringListModel;
using State = StringListModel::State;

namespace {

constexpr uint8_t kKey = 0x5A;
constexpr int kStrings = 3000;  // over two index steps of KeyStrings and many pages

struct Planted {
  uint64_t position;
  std::string text;
};

std::string Printable() {
  std::string alphabet;
  for (int c = 0x20; c < 0x7F; ++c) alphabet.push_back(static_cast<char>(c));
  return alphabet;
}

}  // namespace

class StringListModelTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString path_;
  std::vector<Planted> planted_;
  std::shared_ptr<veskor::RunSearch> search_;

  // kStrings strings "w00000-abc" .. between one to three zero bytes, all stored under XOR8
  // kKey, and the search the run would have made of it.
  void WriteInput() {
    std::string plain;
    planted_.clear();
    for (int i = 0; i < kStrings; ++i) {
      plain.append(static_cast<size_t>(1 + i % 3), '\0');
      char text[16];
      std::snprintf(text, sizeof text, "w%05d-abc", i);
      planted_.push_back({plain.size(), text});
      plain += text;
    }
    std::string stored = plain;
    for (char& c : stored) c = static_cast<char>(c ^ kKey);
    QFile file(path_);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(stored.data(), static_cast<qint64>(stored.size())),
             static_cast<qint64>(stored.size()));
    file.close();
    search_ = std::make_shared<veskor::RunSearch>();
    search_->input = QFile::encodeName(path_).toStdString();
    search_->stamp = veskor::StampOf(search_->input);
    QVERIFY(veskor::FindAlgorithm("XOR8", search_->algorithm));
    search_->fields = {Printable(), "", 7, 0};
    search_->format = "%3d | %*d | %s";
    search_->width = veskor::DecimalWidth(stored.size());
  }

  // The planted strings whose text holds `part`.
  std::vector<Planted> Containing(const std::string& part) const {
    std::vector<Planted> kept;
    for (const Planted& string : planted_) {
      if (string.text.find(part) != std::string::npos) kept.push_back(string);
    }
    return kept;
  }

  // Every row against the expected strings, through the cells the view reads.
  void VerifyRows(const StringListModel& model, const std::vector<Planted>& expected) {
    QCOMPARE(model.rowCount(), static_cast<int>(expected.size()));
    for (int row = 0; row < model.rowCount(); ++row) {
      const Planted& string = expected[row];
      QCOMPARE(model.index(row, StringListModel::kPositionColumn).data().toString(),
               QString::number(string.position));
      QCOMPARE(model.index(row, StringListModel::kHexColumn).data().toString(),
               QString::number(string.position, 16)
                   .toUpper()
                   .rightJustified(QString::number(search_->stamp.size - 1, 16).size(),
                                   QLatin1Char('0')));
      QCOMPARE(model.index(row, StringListModel::kLengthColumn).data().toString(),
               QString::number(string.text.size()));
      QCOMPARE(model.index(row, StringListModel::kTextColumn).data().toString(),
               QString::fromStdString(string.text));
    }
  }

 private slots:
  void initTestCase() {
    veskor::FillAlgorithms();
    QVERIFY(dir_.isValid());
    path_ = dir_.filePath("input.bin");
  }
  void init() { WriteInput(); }

  void RowsGrowSliceBySliceAndEachIsItsString_data() {
    QTest::addColumn<quint64>("slice");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("part");
    QTest::newRow("whole file at once") << quint64(64 << 20) << QString() << QString();
    QTest::newRow("1 KiB slices") << quint64(1024) << QString() << QString();
    QTest::newRow("1 KiB slices, filtered") << quint64(1024) << "7-a"
                                            << "7-a";
  }
  void RowsGrowSliceBySliceAndEachIsItsString() {
    QFETCH(quint64, slice);
    QFETCH(QString, filter);
    QFETCH(QString, part);
    const std::string needle = filter.toStdString();
    StringListModel model;
    model.SetPace(slice, 0, 0);
    model.Show(
        search_, kKey,
        needle.empty() ? StringListModel::Filter() : [needle](std::string_view text) {
          return text.find(needle) != std::string_view::npos;
        });
    const std::vector<Planted> expected = Containing(part.toStdString());
    // While the rows grow, the last row so far is always its string, also where its page was
    // fetched before the scan reached the page's end.
    int growths = 0;
    connect(&model, &QAbstractItemModel::rowsInserted, this,
            [&](const QModelIndex&, int, int last) {
              ++growths;
              QCOMPARE(model.index(last, StringListModel::kPositionColumn).data().toString(),
                       QString::number(expected[last].position));
            });
    QTRY_VERIFY_WITH_TIMEOUT(model.state() == State::kComplete, 60000);
    QCOMPARE(model.found(), static_cast<uint64_t>(expected.size()));
    QCOMPARE(model.progress(), 1.0);
    VerifyRows(model, expected);
    if (slice < 4096)
      QVERIFY(growths > 10);
    else
      QCOMPARE(growths, 1);
  }

  // Best first, the marked strings lead in the order marked, found however late in the scan;
  // a sort beyond the strings the list holds stays in the file's order and says so.
  void EachOrderListsEveryStringOnce_data() {
    QTest::addColumn<int>("order");
    QTest::addColumn<quint64>("limit");
    QTest::addColumn<bool>("sorted");
    QTest::newRow("best first") << int(StringListModel::Order::kBestFirst) << quint64(0) << false;
    QTest::newRow("by score") << int(StringListModel::Order::kScore) << quint64(kStrings) << true;
    QTest::newRow("by score, too many")
        << int(StringListModel::Order::kScore) << quint64(kStrings - 1) << false;
  }
  void EachOrderListsEveryStringOnce() {
    QFETCH(int, order);
    QFETCH(quint64, limit);
    QFETCH(bool, sorted);
    const auto shown = static_cast<StringListModel::Order>(order);
    const std::vector<uint64_t> marked = {planted_[2900].position, planted_[7].position,
                                          planted_[1500].position};
    StringListModel model;
    model.SetPace(1024, 0, 0);
    model.SetSortLimit(limit);
    model.Show(search_, kKey, nullptr, marked, shown);
    QTRY_VERIFY_WITH_TIMEOUT(model.state() == State::kComplete, 60000);
    QCOMPARE(model.rowCount(), kStrings);
    const bool best_first = shown == StringListModel::Order::kBestFirst;
    QCOMPARE(model.too_many_to_sort(), !best_first && !sorted);
    std::vector<uint64_t> positions;
    for (int row = 0; row < model.rowCount(); ++row) {
      positions.push_back(model.StringAt(row)->position);
      QCOMPARE(
          model.Marked(row),
          best_first ? row < 3 : std::count(marked.begin(), marked.end(), positions.back()) == 1);
      QCOMPARE(model.RowOf(positions.back()),
               std::count(marked.begin(), marked.end(), positions.back()) == 1 ? row : -1);
    }
    const size_t lead = best_first ? marked.size() : 0;
    if (best_first) QVERIFY(std::equal(marked.begin(), marked.end(), positions.begin()));
    if (!sorted) QVERIFY(std::is_sorted(positions.begin() + lead, positions.end()));
    for (int row = 1; sorted && row < model.rowCount(); ++row) {
      QVERIFY(model.index(row - 1, StringListModel::kScoreColumn).data().toDouble() >=
              model.index(row, StringListModel::kScoreColumn).data().toDouble());
    }
    std::sort(positions.begin(), positions.end());
    QVERIFY(std::adjacent_find(positions.begin(), positions.end()) == positions.end());
    // The lines of rows follow the rows: the marked ones first.
    struct : veskor::ByteSink {
      std::string text;
      void Write(std::string_view bytes) override { text += bytes; }
    } lines;
    QVERIFY(model.WriteLines(0, 2, lines));
    QCOMPARE(QString::fromStdString(lines.text).count('\n'), 2);
    QVERIFY(QString::fromStdString(lines.text)
                .contains(" " + QString::number(model.StringAt(1)->position) + " | "));
  }

  void AFileThatIsNoLongerTheRunsIsNotListed_data() {
    QTest::addColumn<bool>("during_scan");
    QTest::addColumn<bool>("remove");
    QTest::addColumn<int>("state");
    QTest::newRow("changed before") << false << false << int(State::kChanged);
    QTest::newRow("changed while scanned") << true << false << int(State::kChanged);
    QTest::newRow("removed before") << false << true << int(State::kCannotRead);
  }
  void AFileThatIsNoLongerTheRunsIsNotListed() {
    QFETCH(bool, during_scan);
    QFETCH(bool, remove);
    QFETCH(int, state);
    auto change = [&] {
      if (remove) {
        QVERIFY(QFile::remove(path_));
        return;
      }
      QFile file(path_);
      QVERIFY(file.open(QIODevice::Append));
      QCOMPARE(file.write("x", 1), qint64(1));
    };
    StringListModel model;
    model.SetPace(256, 0, 0);
    if (!during_scan) change();
    model.Show(search_, kKey, nullptr);
    if (during_scan) {
      connect(&model, &QAbstractItemModel::rowsInserted, this, [&] {
        if (QFileInfo(path_).size() == static_cast<qint64>(search_->stamp.size)) change();
      });
    }
    QTRY_COMPARE_WITH_TIMEOUT(int(model.state()), state, 60000);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.StringAt(0), nullptr);
    QVERIFY(!model.Finish());
  }

  void ShownTextDrawsControlsAndCuts_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint64>("length");
    QTest::addColumn<int>("max");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QByteArray("abc") << quint64(3) << 10 << "abc";
    QTest::newRow("tab and DEL") << QByteArray("a\tb\x7f") << quint64(4) << 10
                                 << QString::fromUtf16(u"a\u2409b\u2421");
    QTest::newRow("Windows-1251") << QByteArray("\xc0\xff") << quint64(2) << 10
                                  << QString::fromUtf16(u"\u0410\u044f");
    QTest::newRow("cut at max") << QByteArray("abcdef") << quint64(6) << 4
                                << QString::fromUtf16(u"abcd\u2026");
    QTest::newRow("longer than held")
        << QByteArray("abc") << quint64(9000) << 10 << QString::fromUtf16(u"abc\u2026");
  }
  void ShownTextDrawsControlsAndCuts() {
    QFETCH(QByteArray, bytes);
    QFETCH(quint64, length);
    QFETCH(int, max);
    QFETCH(QString, shown);
    QCOMPARE(veskor::ShownText(std::string_view(bytes.constData(), bytes.size()), length, max),
             shown);
  }
};

QTEST_MAIN(StringListModelTest)
#include "string_list_model_test.moc"
