// The ranked keys of a row for the Results window's key list.
#include "ui/results/key_rank_model.h"

#include <QColor>
#include <QStringList>
#include <algorithm>

#include "engine/export/summary_table.h"
#include "ui/qt_text.h"
#include "ui/results/string_list_model.h"
#include "ui/run_texts.h"

namespace veskor {
namespace {

const char* const kHeaders[KeyRankModel::kColumnCount] = {
    "Algorithm", "Key", "Score", "Band", "Strings", "Matches", "Best string"};

// A band's colour: text stands out, noise steps back.
QColor BandColour(ScoreBand band) {
  switch (band) {
    case ScoreBand::kText:
      return QColor(0, 120, 40);
    case ScoreBand::kMaybe:
      return QColor(170, 100, 0);
    default:
      return QColor(128, 128, 128);
  }
}

// The best strings, one a line: position in hex, score, text.
QString BestStringsText(const KeySummary& key) {
  QStringList lines;
  for (const BestString& best : key.Best()) {
    lines << QStringLiteral("0x%1  %2  %3")
                 .arg(QString::number(best.position, 16).toUpper())
                 .arg(QString::fromStdString(ScoreText(best.score)))
                 .arg(ShownText(best.text, best.length, KeyRankModel::kShownCharacters));
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

QString KeyFiguresText(const KeySummary& key) {
  return QStringLiteral("score %1; %2, %3 characters, the longest %4")
      .arg(QString::fromStdString(ListedScoreText(key)),
           StringCountText(static_cast<int64_t>(key.Count())),
           GroupedNumber(static_cast<int64_t>(key.TotalLength())),
           GroupedNumber(static_cast<int64_t>(key.Longest())));
}

QString ScoreBandsText(bool any) {
  const BandScores& bands = RowBands(any);
  return QStringLiteral(
             "How strongly the key hides text: the evidence of its best strings under a model "
             "of text.\n"
             "\u201Ctext\u201D from %1: hidden text. Fewer than 1 in 100 wrong keys score as "
             "high, but a key that reads text in the other letter case does.\n"
             "\u201Cmaybe\u201D from %2: short words, names or passwords, or the text-like "
             "noise of programs and documents: look at its strings.\n"
             "\u201Cnoise\u201D below %2: what wrong keys score on random bytes.\n"
             "\u201C<B\u201D: a key proved to rank below the first keys and below "
             "\u201Cmaybe\u201D; its score is less than B.")
      .arg(QString::fromStdString(ScoreText(bands.text)),
           QString::fromStdString(ScoreText(bands.maybe)));
}

ScoreBand KeyRankModel::KeyBand(const KeySummary& key) const {
  if (key.Bounded()) return ScoreBand::kNoise;
  return BandOf(key.Score(), RowBands(result_->search && result_->search->any));
}

KeyRankModel::KeyRankModel(std::shared_ptr<const RowResult> result, QObject* parent)
    : QAbstractTableModel(parent), result_(std::move(result)) {
  if (result_) keys_ = result_->ShownKeys();
  matches_.resize(keys_.size());
  if (result_ && result_->search && result_->search->any) first_column_ = kAlgorithmColumn;
}

int KeyRankModel::KeyAt(int row) const {
  return row >= 0 && row < static_cast<int>(keys_.size()) ? keys_[row] : -1;
}

int KeyRankModel::RowOf(int key) const {
  const auto found = std::find(keys_.begin(), keys_.end(), key);
  return found == keys_.end() ? -1 : static_cast<int>(found - keys_.begin());
}

void KeyRankModel::ClearMatches() {
  std::fill(matches_.begin(), matches_.end(), std::nullopt);
  awaiting_ = false;
  MatchesChanged(0, rowCount() - 1);
}

void KeyRankModel::AwaitMatches() {
  std::fill(matches_.begin(), matches_.end(), std::nullopt);
  awaiting_ = true;
  MatchesChanged(0, rowCount() - 1);
}

void KeyRankModel::SetMatches(int key, uint64_t count) {
  const int row = RowOf(key);
  if (row < 0) return;
  matches_[static_cast<size_t>(row)] = count;
  MatchesChanged(row, row);
}

void KeyRankModel::StopAwaiting() {
  awaiting_ = false;
  MatchesChanged(0, rowCount() - 1);
}

std::optional<uint64_t> KeyRankModel::MatchesAt(int row) const {
  return row >= 0 && row < rowCount() ? matches_[static_cast<size_t>(row)] : std::nullopt;
}

void KeyRankModel::MatchesChanged(int first_row, int last_row) {
  if (first_row > last_row) return;
  const int column = kMatchesColumn - first_column_;
  emit dataChanged(index(first_row, column), index(last_row, column), {Qt::DisplayRole});
}

int KeyRankModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(keys_.size());
}

int KeyRankModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount - first_column_;
}

QVariant KeyRankModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  const KeySummary& key = (*result_->summary)[keys_[index.row()]];
  const Column column = ColumnAt(index.column());
  const RunSearch& search = *result_->search;
  switch (role) {
    case Qt::DisplayRole:
      switch (column) {
        case kAlgorithmColumn:
          return From1251(KeyAlgorithm(search, keys_[index.row()]).Name);
        case kKeyColumn:
          return ListedKeyText(search, keys_[index.row()]);
        case kScoreColumn:
          return QString::fromStdString(ListedScoreText(key));
        case kBandColumn:
          return QString::fromLatin1(BandName(KeyBand(key)));
        case kStringsColumn:
          return GroupedNumber(static_cast<int64_t>(key.Count()));
        case kMatchesColumn: {
          const std::optional<uint64_t>& matches = matches_[static_cast<size_t>(index.row())];
          if (matches) return GroupedNumber(static_cast<int64_t>(*matches));
          return awaiting_ ? QString(QChar(0x2026)) : QString();
        }
        default:
          return ShownText(key.BestText(), key.BestLength(), kShownCharacters);
      }
    case Qt::TextAlignmentRole:
      return column == kScoreColumn || column == kStringsColumn || column == kMatchesColumn
                 ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                 : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ForegroundRole:
      if (column == kBandColumn) return BandColour(KeyBand(key));
      // A bound is no score: it steps back.
      if (column == kScoreColumn && key.Bounded()) return BandColour(ScoreBand::kNoise);
      return {};
    case Qt::ToolTipRole:
      if (column == kBestColumn && !key.Best().empty()) return BestStringsText(key);
      return KeyFiguresText(key);
    default:
      return {};
  }
}

QVariant KeyRankModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
      section < columnCount()) {
    return QString::fromLatin1(kHeaders[ColumnAt(section)]);
  }
  if (orientation == Qt::Horizontal && role == Qt::ToolTipRole && section >= 0 &&
      section < columnCount() && ColumnAt(section) == kMatchesColumn) {
    return QStringLiteral("The key's strings that pass the filter");
  }
  if (orientation == Qt::Horizontal && role == Qt::ToolTipRole && section >= 0 &&
      section < columnCount() &&
      (ColumnAt(section) == kScoreColumn || ColumnAt(section) == kBandColumn)) {
    return ScoreBandsText(result_ && result_->search && result_->search->any);
  }
  return QAbstractTableModel::headerData(section, orientation, role);
}

}  // namespace veskor
