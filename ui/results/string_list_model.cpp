// One key's strings for a view: the scan in timed slices, the rows as they grow, the page cache.
#include "ui/results/string_list_model.h"

#include <QColor>
#include <QFont>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>

#include "engine/run/run_search.h"
#include "engine/score/key_summary.h"
#include "engine/score/text_score.h"
#include "engine/search/scan_input.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

const char* const kHeaders[StringListModel::kColumnCount] = {"Position (hex)", "Position", "Length",
                                                             "Score", "Text"};
// The rows of the strings the key's score came from.
const QColor kMarkedRow(255, 243, 196);

int HexDigits(uint64_t value) {
  int digits = 1;
  while (value >>= 4) ++digits;
  return digits;
}

}  // namespace

QString ShownText(std::string_view cp1251, uint64_t length, int max_characters) {
  const size_t shown = std::min(cp1251.size(), static_cast<size_t>(std::max(max_characters, 0)));
  QString text;
  text.reserve(static_cast<qsizetype>(shown) + 1);
  for (size_t i = 0; i < shown; ++i) {
    const uint8_t byte = static_cast<uint8_t>(cp1251[i]);
    // The Control Pictures block draws each control character, and DEL, as a visible sign.
    if (byte < 0x20) {
      text += QChar(static_cast<char16_t>(0x2400 + byte));
    } else if (byte == 0x7F) {
      text += QChar(static_cast<char16_t>(0x2421));
    } else {
      text += QChar(Cp1251ToChar16(byte));
    }
  }
  if (shown < length) text += QChar(static_cast<char16_t>(0x2026));
  return text;
}

StringListModel::StringListModel(QObject* parent)
    : QAbstractTableModel(parent), timer_(new QTimer(this)) {
  // Each tick scans for kTickMilliseconds and then lets the window handle its events.
  timer_->setInterval(0);
  connect(timer_, &QTimer::timeout, this, &StringListModel::Tick);
}

StringListModel::~StringListModel() = default;

void StringListModel::Show(std::shared_ptr<const RunSearch> search, int key, Filter filter,
                           std::vector<uint64_t> marked, Order order) {
  beginResetModel();
  timer_->stop();
  strings_.reset();
  pages_.clear();
  stopping_ = false;
  ++generation_;
  rows_ = 0;
  listed_ = 0;
  led_places_.clear();
  led_sorted_.clear();
  held_.clear();
  held_scores_.clear();
  held_places_.clear();
  too_many_to_sort_ = false;
  marked_ = std::move(marked);
  order_ = order;
  error_.clear();
  change_ = {};
  search_ = std::move(search);
  key_ = search_ ? key : -1;
  state_ = State::kIdle;
  if (search_) {
    // An ANY row's pair is found again under its own algorithm and key.
    strings_ = std::make_unique<KeyStrings>(PairSearch(*search_, key), PairKeyOf(*search_, key),
                                            std::move(filter));
    strings_->Watch(marked_);
    switch (strings_->Open()) {
      case KeyStrings::Status::kReady:
        state_ = State::kScanning;
        hex_digits_ = HexDigits(search_->stamp.size > 0 ? search_->stamp.size - 1 : 0);
        since_grow_.start();
        timer_->start();
        break;
      case KeyStrings::Status::kChanged:
        state_ = State::kChanged;
        change_ = strings_->change();
        strings_.reset();
        break;
      case KeyStrings::Status::kCannotRead:
        state_ = State::kCannotRead;
        strings_.reset();
        break;
    }
  }
  endResetModel();
  emit Progressed();
}

void StringListModel::Clear() { Show(nullptr, -1, nullptr); }

void StringListModel::SetOrder(Order order) {
  if (order == order_) return;
  beginResetModel();
  order_ = order;
  rows_ = 0;
  listed_ = 0;
  led_places_.clear();
  led_sorted_.clear();
  held_.clear();
  held_scores_.clear();
  held_places_.clear();
  too_many_to_sort_ = false;
  endResetModel();
  if (state_ == State::kComplete && !HoldSorted()) Grow(kMaxListedRows);
  emit Progressed();
}

bool StringListModel::HoldSorted() {
  if (order_ != Order::kLength && order_ != Order::kScore) return false;
  if (found() > sort_limit_) {
    too_many_to_sort_ = true;
    return false;
  }
  std::vector<FoundString> strings;
  try {
    strings = strings_->Get(0, static_cast<size_t>(found()));
  } catch (const InputChangedError& e) {
    StopChanged(e.change());
    return true;
  } catch (const InputReadError&) {
    StopChanged(ChangeNow());
    return true;
  }
  uint64_t bytes = 0;
  for (FoundString& string : strings) {
    if (string.text.size() > static_cast<size_t>(kShownCharacters)) {
      string.text.resize(static_cast<size_t>(kShownCharacters));
    }
    bytes += string.text.size() + sizeof(FoundString);
  }
  if (bytes > kMaxSortedBytes) {
    too_many_to_sort_ = true;
    return false;
  }
  std::vector<float> scores(strings.size());
  for (size_t i = 0; i < strings.size(); ++i) scores[i] = TextScore(strings[i].text);
  std::vector<uint64_t> places(strings.size());
  for (size_t i = 0; i < places.size(); ++i) places[i] = i;
  const bool by_length = order_ == Order::kLength;
  std::stable_sort(places.begin(), places.end(), [&](uint64_t a, uint64_t b) {
    return by_length ? strings[a].length > strings[b].length : scores[a] > scores[b];
  });
  if (places.empty()) return true;
  beginInsertRows(QModelIndex(), 0, static_cast<int>(places.size()) - 1);
  held_.reserve(places.size());
  held_scores_.reserve(places.size());
  for (uint64_t place : places) {
    held_.push_back(std::move(strings[place]));
    held_scores_.push_back(scores[place]);
  }
  held_places_ = std::move(places);
  rows_ = static_cast<int>(held_.size());
  listed_ = held_.size();
  endInsertRows();
  return true;
}

std::vector<uint64_t> StringListModel::MarkedPlaces() const {
  std::vector<uint64_t> places;
  if (!strings_) return places;
  for (uint64_t position : marked_) {
    for (const auto& [at, place] : strings_->watched()) {
      if (at == position) places.push_back(place);
    }
  }
  return places;
}

uint64_t StringListModel::PlaceOf(int row) const {
  if (!held_places_.empty()) return held_places_[static_cast<size_t>(row)];
  if (order_ != Order::kBestFirst) return static_cast<uint64_t>(row);
  if (static_cast<size_t>(row) < led_places_.size()) return led_places_[static_cast<size_t>(row)];
  uint64_t place = static_cast<uint64_t>(row) - led_places_.size();
  for (uint64_t led : led_sorted_) {
    if (led > place) break;
    ++place;
  }
  return place;
}

bool StringListModel::Marked(int row) const {
  if (row < 0 || row >= rows_ || !strings_) return false;
  const uint64_t place = PlaceOf(row);
  for (const auto& [at, watched] : strings_->watched()) {
    if (watched == place) return true;
  }
  return false;
}

int StringListModel::RowOf(uint64_t position) const {
  if (!strings_) return -1;
  for (const auto& [at, place] : strings_->watched()) {
    if (at != position) continue;
    if (!held_places_.empty()) {
      const auto found = std::find(held_places_.begin(), held_places_.end(), place);
      return found == held_places_.end() ? -1 : static_cast<int>(found - held_places_.begin());
    }
    if (place >= listed_) return -1;
    if (order_ != Order::kBestFirst) return static_cast<int>(place);
    const auto led = std::find(led_places_.begin(), led_places_.end(), place);
    if (led != led_places_.end()) return static_cast<int>(led - led_places_.begin());
    const auto before = std::lower_bound(led_sorted_.begin(), led_sorted_.end(), place);
    return static_cast<int>(led_places_.size() + place -
                            static_cast<uint64_t>(before - led_sorted_.begin()));
  }
  return -1;
}

void StringListModel::SetPace(uint64_t slice_bytes, int tick_ms, int grow_ms) {
  slice_bytes_ = std::max<uint64_t>(slice_bytes, 1);
  tick_ms_ = tick_ms;
  grow_ms_ = grow_ms;
}

double StringListModel::progress() const {
  if (state_ == State::kComplete) return 1.0;
  return strings_ ? strings_->progress() : 0.0;
}

uint64_t StringListModel::found() const { return strings_ ? strings_->count() : 0; }

StampChange StringListModel::ChangeNow() const {
  return ChangeAfterFault(search_->input, search_->stamp);
}

void StringListModel::StopChanged(const StampChange& change) {
  change_ = change;
  Stop(State::kChanged);
}

void StringListModel::Stop(State state, const QString& error) {
  if (state_ == State::kIdle || state_ == state) return;
  beginResetModel();
  timer_->stop();
  strings_.reset();
  pages_.clear();
  stopping_ = false;
  rows_ = 0;
  listed_ = 0;
  led_places_.clear();
  led_sorted_.clear();
  held_.clear();
  held_scores_.clear();
  held_places_.clear();
  state_ = state;
  error_ = error;
  endResetModel();
  emit Progressed();
}

void StringListModel::StopSoon(State state, const QString& error) const {
  stopping_ = true;
  auto* self = const_cast<StringListModel*>(this);
  QMetaObject::invokeMethod(
      self,
      [self, state, error, generation = generation_] {
        if (self->generation_ == generation) self->Stop(state, error);
      },
      Qt::QueuedConnection);
}

void StringListModel::Tick() {
  if (state_ != State::kScanning) {
    timer_->stop();
    return;
  }
  // Telling the view of new rows costs time with each row: it takes a tick of its own, never
  // more than kGrowRows rows, so that the window never waits long for a growth.
  const uint64_t behind = Sorting() ? 0 : Listable() - listed_;
  if (behind > 0 &&
      (strings_->complete() || behind >= kGrowRows || since_grow_.elapsed() >= grow_ms_)) {
    Grow(kGrowRows);
    emit Progressed();
    return;
  }
  if (strings_->complete()) {
    state_ = State::kComplete;
    timer_->stop();
    if (!HoldSorted()) Grow(kMaxListedRows);
    emit Progressed();
    return;
  }
  QElapsedTimer slice;
  slice.start();
  try {
    while (!strings_->Advance(slice_bytes_) && slice.elapsed() < tick_ms_) {
    }
  } catch (const InputChangedError& e) {
    return StopChanged(e.change());
  } catch (const InputReadError&) {
    return StopChanged(ChangeNow());
  } catch (const std::exception& e) {
    return Stop(State::kFailed, QString::fromUtf8(e.what()));
  }
  emit Progressed();
}

uint64_t StringListModel::Listable() const { return std::min<uint64_t>(found(), kMaxListedRows); }

bool StringListModel::Sorting() const {
  if (too_many_to_sort_ || (order_ != Order::kLength && order_ != Order::kScore)) return false;
  // Too many to hold already: the file's order, at once.
  if (found() > sort_limit_) {
    auto* self = const_cast<StringListModel*>(this);
    self->too_many_to_sort_ = true;
    return false;
  }
  return true;
}

void StringListModel::Grow(uint64_t most) {
  since_grow_.restart();
  if (!held_.empty()) return;
  const uint64_t listable = Listable();
  if (listable <= listed_) return;
  const uint64_t until = std::min(listable, listed_ + most);
  uint64_t led = 0;
  if (order_ == Order::kBestFirst) {
    // The marked strings among the new ones go to the top, in the order marked.
    const std::vector<uint64_t> marked = MarkedPlaces();
    for (size_t rank = 0; rank < marked.size(); ++rank) {
      const uint64_t place = marked[rank];
      if (place < listed_ || place >= until) continue;
      int at = 0;
      for (uint64_t earlier : led_places_) {
        if (std::find(marked.begin(), marked.begin() + static_cast<std::ptrdiff_t>(rank),
                      earlier) != marked.begin() + static_cast<std::ptrdiff_t>(rank)) {
          ++at;
        }
      }
      beginInsertRows(QModelIndex(), at, at);
      led_places_.insert(led_places_.begin() + at, place);
      led_sorted_.insert(std::lower_bound(led_sorted_.begin(), led_sorted_.end(), place), place);
      ++rows_;
      endInsertRows();
      ++led;
    }
  }
  const uint64_t appended = until - listed_ - led;
  if (appended > 0) {
    beginInsertRows(QModelIndex(), rows_, rows_ + static_cast<int>(appended) - 1);
    rows_ += static_cast<int>(appended);
    listed_ = until;
    endInsertRows();
  }
  listed_ = until;
}

bool StringListModel::Finish() {
  if (state_ == State::kComplete) return true;
  if (state_ != State::kScanning) return false;
  try {
    while (!strings_->Advance(uint64_t{1} << 30)) {
    }
  } catch (const InputChangedError& e) {
    StopChanged(e.change());
    return false;
  } catch (const InputReadError&) {
    StopChanged(ChangeNow());
    return false;
  } catch (const std::exception& e) {
    Stop(State::kFailed, QString::fromUtf8(e.what()));
    return false;
  }
  state_ = State::kComplete;
  timer_->stop();
  if (!HoldSorted()) Grow(kMaxListedRows);
  emit Progressed();
  return true;
}

bool StringListModel::WriteLines(uint64_t first, uint64_t n, ByteSink& sink, bool in_file_order) {
  if (!strings_) return true;
  try {
    if (in_file_order) {
      strings_->WriteLines(first, n, sink);
    } else {
      // The rows in runs of strings that follow one another in the file: one walk each.
      const uint64_t end = first + n;
      for (uint64_t row = first; row < end;) {
        const uint64_t place = PlaceOf(static_cast<int>(row));
        uint64_t run = 1;
        while (row + run < end && PlaceOf(static_cast<int>(row + run)) == place + run) ++run;
        strings_->WriteLines(place, run, sink);
        row += run;
      }
    }
  } catch (const InputChangedError& e) {
    StopChanged(e.change());
    return false;
  } catch (const InputReadError&) {
    StopChanged(ChangeNow());
    return false;
  }
  return true;
}

const FoundString* StringListModel::StringAt(int row) const {
  if (row < 0 || row >= rows_ || !strings_ || stopping_) return nullptr;
  if (!held_.empty()) return &held_[static_cast<size_t>(row)];
  return InFile(PlaceOf(row));
}

const FoundString* StringListModel::InFile(uint64_t place, float* score) const {
  const uint64_t first = place / kPageRows * kPageRows;
  const uint64_t offset = place - first;
  auto page = std::find_if(pages_.begin(), pages_.end(),
                           [first](const Page& cached) { return cached.first == first; });
  // A page fetched while the scan had not yet reached its end may lack the row.
  if (page != pages_.end() && offset < page->strings.size()) {
    pages_.splice(pages_.begin(), pages_, page);
    if (score != nullptr) *score = pages_.front().scores[offset];
    return &pages_.front().strings[offset];
  }
  if (page != pages_.end()) pages_.erase(page);
  Page fetched{first, {}};
  try {
    fetched.strings = strings_->Get(first, kPageRows);
  } catch (const InputChangedError& e) {
    change_ = e.change();
    StopSoon(State::kChanged, QString());
    return nullptr;
  } catch (const InputReadError&) {
    change_ = ChangeNow();
    StopSoon(State::kChanged, QString());
    return nullptr;
  } catch (const std::exception& e) {
    StopSoon(State::kFailed, QString::fromUtf8(e.what()));
    return nullptr;
  }
  for (const FoundString& string : fetched.strings)
    fetched.scores.push_back(TextScore(string.text));
  pages_.push_front(std::move(fetched));
  if (pages_.size() > kCachedPages) pages_.pop_back();
  if (offset >= pages_.front().strings.size()) return nullptr;
  if (score != nullptr) *score = pages_.front().scores[offset];
  return &pages_.front().strings[offset];
}

int StringListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int StringListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant StringListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  if (role == Qt::TextAlignmentRole) {
    return index.column() == kTextColumn ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                         : QVariant(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (role == Qt::FontRole || role == Qt::BackgroundRole || role == Qt::ToolTipRole) {
    if (!Marked(index.row())) return {};
    if (role == Qt::BackgroundRole) return kMarkedRow;
    if (role == Qt::ToolTipRole) {
      return QStringLiteral("One of the strings the key's score came from");
    }
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  if (role != Qt::DisplayRole) return {};
  float score = 0;
  const FoundString* found = nullptr;
  if (!held_.empty()) {
    found = StringAt(index.row());
    if (found != nullptr) score = held_scores_[static_cast<size_t>(index.row())];
  } else if (index.row() < rows_ && strings_ && !stopping_) {
    found = InFile(PlaceOf(index.row()), &score);
  }
  if (found == nullptr) return {};
  switch (index.column()) {
    case kHexColumn:
      return QString::number(found->position, 16)
          .toUpper()
          .rightJustified(hex_digits_, QLatin1Char('0'));
    case kPositionColumn:
      return QString::number(found->position);
    case kLengthColumn:
      return QString::number(found->length);
    case kScoreColumn:
      return QString::fromStdString(ScoreText(score));
    default:
      return ShownText(found->text, found->length, kShownCharacters);
  }
}

QVariant StringListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
      section < kColumnCount) {
    return QString::fromLatin1(kHeaders[section]);
  }
  return QAbstractTableModel::headerData(section, orientation, role);
}

}  // namespace veskor
