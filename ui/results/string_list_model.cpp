// One key's strings for a view: the scan in timed slices, the rows as they grow, the page cache.
#include "ui/results/string_list_model.h"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>

#include "engine/run/run_search.h"
#include "engine/search/scan_input.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

const char* const kHeaders[StringListModel::kColumnCount] = {"Position (hex)", "Position", "Length",
                                                             "Text"};

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

void StringListModel::Show(std::shared_ptr<const RunSearch> search, int key, Filter filter) {
  beginResetModel();
  timer_->stop();
  strings_.reset();
  pages_.clear();
  stopping_ = false;
  ++generation_;
  rows_ = 0;
  error_.clear();
  change_ = {};
  search_ = std::move(search);
  key_ = search_ ? key : -1;
  state_ = State::kIdle;
  if (search_) {
    // An ANY row's pair is found again under its own algorithm and key.
    strings_ = std::make_unique<KeyStrings>(PairSearch(*search_, key), PairKeyOf(*search_, key),
                                            std::move(filter));
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
  const uint64_t behind = Listable() - static_cast<uint64_t>(rows_);
  if (behind > 0 &&
      (strings_->complete() || behind >= kGrowRows || since_grow_.elapsed() >= grow_ms_)) {
    Grow(kGrowRows);
    emit Progressed();
    return;
  }
  if (strings_->complete()) {
    state_ = State::kComplete;
    timer_->stop();
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

void StringListModel::Grow(uint64_t most) {
  since_grow_.restart();
  const uint64_t listable = Listable();
  if (listable <= static_cast<uint64_t>(rows_)) return;
  const int rows = static_cast<int>(std::min(listable, rows_ + most));
  beginInsertRows(QModelIndex(), rows_, rows - 1);
  rows_ = rows;
  endInsertRows();
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
  Grow(kMaxListedRows);
  emit Progressed();
  return true;
}

bool StringListModel::WriteLines(uint64_t first, uint64_t n, ByteSink& sink) {
  if (!strings_) return true;
  try {
    strings_->WriteLines(first, n, sink);
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
  const uint64_t first = static_cast<uint64_t>(row) / kPageRows * kPageRows;
  const uint64_t offset = static_cast<uint64_t>(row) - first;
  auto page = std::find_if(pages_.begin(), pages_.end(),
                           [first](const Page& cached) { return cached.first == first; });
  // A page fetched while the scan had not yet reached its end may lack the row.
  if (page != pages_.end() && offset < page->strings.size()) {
    pages_.splice(pages_.begin(), pages_, page);
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
  pages_.push_front(std::move(fetched));
  if (pages_.size() > kCachedPages) pages_.pop_back();
  return offset < pages_.front().strings.size() ? &pages_.front().strings[offset] : nullptr;
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
  if (role != Qt::DisplayRole) return {};
  const FoundString* found = StringAt(index.row());
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
