// One key's strings of a row that has run, as a Qt table model that holds none of them: scanned
// again from the input file in timed slices, its rows growing, the rows shown fetched in pages.
#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/results/key_strings.h"

class QTimer;

namespace veskor {

class StringListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kHexColumn, kPositionColumn, kLengthColumn, kTextColumn, kColumnCount };
  enum class State {
    kIdle,        // nothing shown
    kScanning,    // rows still grow
    kComplete,    // every string of the key that passes the filter is counted
    kChanged,     // the input is not the file the run read (engine/input/mapped_input.h)
    kCannotRead,  // the input cannot be opened or mapped
    kFailed,      // the filter failed on a string (error())
  };
  using Filter = std::function<bool(std::string_view)>;

  // Strings fetched at once, and pages kept.
  static constexpr int kPageRows = 256;
  static constexpr size_t kCachedPages = 16;
  // What one scan slice covers, and how long the slices of one timer tick may take.
  static constexpr uint64_t kSliceBytes = uint64_t{2} << 20;
  static constexpr int kTickMilliseconds = 15;
  // Rows are added to the view at most this often while a scan lasts, and at most this many at
  // once: the view's work grows with the rows added.
  static constexpr int kGrowMilliseconds = 100;
  static constexpr uint64_t kGrowRows = 500'000;
  // The view keeps a few bytes per row: beyond this many rows the strings are counted, and
  // saved, but not listed.
  static constexpr int kMaxListedRows = 10'000'000;
  // Characters of a string's text shown in its cell.
  static constexpr int kShownCharacters = 1024;

  explicit StringListModel(QObject* parent = nullptr);
  ~StringListModel() override;

  // Shows the strings of `key` that `filter` (when set) accepts, found again in the input of
  // `search`; the scan begins at the next turn of the event loop.
  void Show(std::shared_ptr<const RunSearch> search, int key, Filter filter);
  // Shows nothing.
  void Clear();
  // How one timer tick scans: slices of `slice_bytes` for up to `tick_ms`, and how often the
  // rows grow (at least one slice a tick; 0 ms grows after every tick).
  void SetPace(uint64_t slice_bytes, int tick_ms, int grow_ms);

  State state() const { return state_; }
  int key() const { return key_; }
  // The share of the file scanned, 0 to 1.
  double progress() const;
  // The strings found so far (may exceed the rows listed).
  uint64_t found() const;
  // The filter's error when the state is kFailed.
  const QString& error() const { return error_; }
  // What differed from the run's file when the state is kChanged.
  const StampChange& change() const { return change_; }

  // Scans the rest of the file now; false when the strings cannot be had (the state says why).
  bool Finish();
  // The lines of strings first .. first + n - 1 in the run's report format, each ending in
  // CR LF. Raises the format's error, or the filter's. False when the file was found changed
  // before or after the lines were read: what `sink` got is not the run's, and the listing has
  // ended in kChanged.
  bool WriteLines(uint64_t first, uint64_t n, ByteSink& sink);
  // The string listed at `row`, fetched with its page when not cached; null when none.
  const FoundString* StringAt(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 signals:
  // The state, the progress or the count changed.
  void Progressed();

 private:
  struct Page {
    uint64_t first = 0;
    std::vector<FoundString> strings;
  };

  void Tick();
  // The strings found so far that may be listed.
  uint64_t Listable() const;
  // Lists up to `most` more of them.
  void Grow(uint64_t most);
  // Ends the listing in `state`: no rows, no scan.
  void Stop(State state, const QString& error = QString());
  // Stops later, from inside a const call.
  void StopSoon(State state, const QString& error) const;
  // The input no longer is what the run read: nothing more is shown from it. `change` is what
  // differed; a read that faulted (the file shrank) is told by the file now at the name.
  void StopChanged(const StampChange& change);
  StampChange ChangeNow() const;

  std::shared_ptr<const RunSearch> search_;
  std::unique_ptr<KeyStrings> strings_;
  int key_ = -1;
  State state_ = State::kIdle;
  QString error_;
  mutable StampChange change_;  // set by a const fetch, too
  int rows_ = 0;
  int hex_digits_ = 1;
  QTimer* timer_;
  QElapsedTimer since_grow_;
  uint64_t slice_bytes_ = kSliceBytes;
  int tick_ms_ = kTickMilliseconds;
  int grow_ms_ = kGrowMilliseconds;
  mutable std::list<Page> pages_;  // most recently used first
  // A fetch failed and the stop is on its way: no more fetches until then.
  mutable bool stopping_ = false;
  // Counts the listings, so that a stop meant for one never ends the next.
  int generation_ = 0;
};

// The text of a string as a cell shows it: Windows-1251 decoded, each control character drawn
// as its picture (a tab as U+2409), cut after `max_characters` with an ellipsis, and an
// ellipsis also when the string is longer than the text held (`length` characters).
QString ShownText(std::string_view cp1251, uint64_t length, int max_characters);

}  // namespace veskor
