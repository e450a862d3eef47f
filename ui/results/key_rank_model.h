// The keys of a row that has run, best first, as a Qt table model: each key as its algorithm
// writes it, its score and the score's band, its string count and its best string, from the
// run's per-key summary, and how many of its strings pass the window's filter. An ANY row lists
// pairs, each with its algorithm in a column before the key.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/score/score_band.h"
#include "ui/results/row_results.h"

namespace veskor {

class KeyRankModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The columns of an ANY row; the other rows have no Algorithm column, so theirs start at Key.
  enum Column {
    kAlgorithmColumn,
    kKeyColumn,
    kScoreColumn,
    kBandColumn,
    kStringsColumn,
    kMatchesColumn,
    kBestColumn,
    kColumnCount
  };
  // Characters of the best string shown in its cell.
  static constexpr int kShownCharacters = 200;

  explicit KeyRankModel(std::shared_ptr<const RowResult> result, QObject* parent = nullptr);

  // The key listed at `row`, or -1.
  int KeyAt(int row) const;
  // The row of `key`, or -1.
  int RowOf(int key) const;
  // The column listed at `section`.
  Column ColumnAt(int section) const { return static_cast<Column>(section + first_column_); }

  // The Matches column: empty while no filter is set (ClearMatches); "…" for each key until its
  // count arrives (AwaitMatches, SetMatches), or empty once none will (StopAwaiting).
  void ClearMatches();
  void AwaitMatches();
  void SetMatches(int key, uint64_t count);
  void StopAwaiting();
  // The count of the key at `row`, once it has arrived.
  std::optional<uint64_t> MatchesAt(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // DisplayRole: the cells' words; ToolTipRole: the key's lengths on the key, its best strings
  // on the best string; ForegroundRole: the band's colour on the band.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  // The band of a key of this row: of its score, by the row's bands; a key that carries a bound
  // was proved below the "maybe" band.
  ScoreBand KeyBand(const KeySummary& key) const;

  std::shared_ptr<const RowResult> result_;
  // Called after the Matches column changed.
  void MatchesChanged(int first_row, int last_row);

  std::vector<int> keys_;
  std::vector<std::optional<uint64_t>> matches_;  // by row
  bool awaiting_ = false;
  int first_column_ = kKeyColumn;
};

// A key's figures in words: "score 812.5; 1,234 strings, 45,678 characters, the longest 312".
QString KeyFiguresText(const KeySummary& key);

// What the bands of the scores mean, with their thresholds (an ANY row's, or those of a row of
// one algorithm): the Score and Band headers' tooltip.
QString ScoreBandsText(bool any = false);

}  // namespace veskor
