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
  enum Column {
    kHexColumn,
    kPositionColumn,
    kLengthColumn,
    kScoreColumn,
    kTextColumn,
    kColumnCount
  };
  // The order of the rows. Best first: the strings the key's score came from (marked), best
  // first, then the others in file order. Length and score: the longest or best scored first,
  // equal ones in file order, once the scan is over and only while the key's strings are few
  // enough to hold (kMaxSortedStrings); beyond that the file's order.
  enum class Order { kBestFirst, kFileOrder, kLength, kScore };
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
  // The most strings a sorted list holds, and the most bytes of their text.
  static constexpr uint64_t kMaxSortedStrings = 100'000;
  static constexpr uint64_t kMaxSortedBytes = uint64_t{64} << 20;

  explicit StringListModel(QObject* parent = nullptr);
  ~StringListModel() override;

  // Shows the strings of `key` that `filter` (when set) accepts, found again in the input of
  // `search`, in `order`; the strings that start at `marked` (best first) are the strings the
  // key's score came from. The scan begins at the next turn of the event loop.
  void Show(std::shared_ptr<const RunSearch> search, int key, Filter filter,
            std::vector<uint64_t> marked = {}, Order order = Order::kFileOrder);
  // The same strings in another order.
  void SetOrder(Order order);
  Order order() const { return order_; }
  // The order asked for sorts, but the key has too many strings to hold: they are listed in the
  // file's order.
  bool too_many_to_sort() const { return too_many_to_sort_; }
  // Whether the string listed at `row` is one the key's score came from.
  bool Marked(int row) const;
  // The row of the string that starts at `position`, or -1 while it is not listed.
  int RowOf(uint64_t position) const;
  // Shows nothing.
  void Clear();
  // How one timer tick scans: slices of `slice_bytes` for up to `tick_ms`, and how often the
  // rows grow (at least one slice a tick; 0 ms grows after every tick).
  void SetPace(uint64_t slice_bytes, int tick_ms, int grow_ms);
  // The most strings a sorted order holds (kMaxSortedStrings unless set).
  void SetSortLimit(uint64_t strings) { sort_limit_ = strings; }

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
  // The lines of the strings listed at rows first .. first + n - 1 in the run's report format,
  // each ending in CR LF. Raises the format's error, or the filter's. False when the file was found
  // changed before or after the lines were read: what `sink` got is not the run's, and the listing
  // has ended in kChanged. With `in_file_order`, first and n count the key's strings in the file's
  // order instead.
  bool WriteLines(uint64_t first, uint64_t n, ByteSink& sink, bool in_file_order = false);
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
    std::vector<float> scores;
  };
  // A string by its place among the key's strings in the file, and its text's score.
  const FoundString* InFile(uint64_t place, float* score = nullptr) const;
  // The place in the file of the string listed at `row`.
  uint64_t PlaceOf(int row) const;
  // The marked strings' places found so far, in the order marked.
  std::vector<uint64_t> MarkedPlaces() const;
  // Reads, scores and sorts every string for a sorted order; false when they are too many.
  bool HoldSorted();

  void Tick();
  // The strings found so far that may be listed.
  uint64_t Listable() const;
  // Lists up to `most` more of them.
  void Grow(uint64_t most);
  // A sorted order waits for the scan's end to list its rows.
  bool Sorting() const;
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
  // Strings of the file listed so far; in best-first order the marked ones among them lead.
  uint64_t listed_ = 0;
  std::vector<uint64_t> marked_;      // positions, in the order marked (best first)
  std::vector<uint64_t> led_places_;  // best first: the marked rows on top, their places
  std::vector<uint64_t> led_sorted_;  // the same places in ascending order
  Order order_ = Order::kFileOrder;
  bool too_many_to_sort_ = false;
  uint64_t sort_limit_ = kMaxSortedStrings;
  std::vector<FoundString> held_;  // a sorted order's strings, in that order
  std::vector<float> held_scores_;
  std::vector<uint64_t> held_places_;
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
