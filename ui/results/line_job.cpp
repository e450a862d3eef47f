// The sliced writing of a key's lines: one slice a turn of the event loop, the lines counted.
#include "ui/results/line_job.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <string_view>

#include "ui/results/string_list_model.h"

namespace veskor {
namespace {

// Counts what goes through to the job's sink.
class CountingSink : public ByteSink {
 public:
  CountingSink(ByteSink& sink, uint64_t& bytes) : sink_(sink), bytes_(bytes) {}
  void Write(std::string_view bytes) override {
    bytes_ += bytes.size();
    sink_.Write(bytes);
  }

 private:
  ByteSink& sink_;
  uint64_t& bytes_;
};

constexpr uint64_t kMaxBatch = uint64_t{1} << 20;
// How often a job that waits for the scan looks at it.
constexpr int kWaitMilliseconds = 20;

}  // namespace

LineJob::LineJob(StringListModel* strings, std::vector<Rows> rows, ByteSink* sink,
                 uint64_t byte_limit, QObject* parent)
    : QObject(parent),
      strings_(strings),
      sink_(sink),
      rows_(std::move(rows)),
      byte_limit_(byte_limit),
      timer_(new QTimer(this)) {
  for (const Rows& range : rows_) total_ += range.count;
  timer_->setInterval(0);
  connect(timer_, &QTimer::timeout, this, &LineJob::Tick);
  // Another key, another filter or a changed file: the rows are no longer the ones asked for.
  connect(strings_, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
    if (running_) End(Outcome::kUnavailable);
  });
}

LineJob::LineJob(StringListModel* strings, ByteSink* sink, QObject* parent)
    : LineJob(strings, {}, sink, 0, parent) {
  waiting_ = true;
  whole_key_ = true;
}

void LineJob::Start() {
  running_ = true;
  Tick();
  if (running_) timer_->start(waiting_ ? kWaitMilliseconds : 0);
}

void LineJob::Cancel() {
  if (running_) End(Outcome::kCancelled);
}

double LineJob::progress() const {
  if (waiting_) return strings_->progress();
  return total_ == 0 ? 1.0 : static_cast<double>(done_) / static_cast<double>(total_);
}

void LineJob::Tick() {
  if (!running_) return;
  if (waiting_) {
    // The listing's own slices finish the scan meanwhile, and tell the window how far it is.
    switch (strings_->state()) {
      case StringListModel::State::kScanning:
        return;
      case StringListModel::State::kComplete:
        waiting_ = false;
        timer_->setInterval(0);
        rows_ = {Rows{0, strings_->found()}};
        total_ = strings_->found();
        break;
      default:
        return End(Outcome::kUnavailable);
    }
  }
  QElapsedTimer slice;
  slice.start();
  CountingSink sink(*sink_, bytes_);
  try {
    while (range_ < rows_.size()) {
      const Rows& range = rows_[range_];
      const uint64_t n = std::min(batch_, range.count - offset_);
      QElapsedTimer call;
      call.start();
      // A file found changed ends the listing, and with it this job (kUnavailable).
      if (!strings_->WriteLines(range.first + offset_, n, sink, whole_key_)) {
        if (running_) End(Outcome::kUnavailable);
        return;
      }
      offset_ += n;
      done_ += n;
      if (offset_ == range.count) {
        ++range_;
        offset_ = 0;
      }
      if (byte_limit_ > 0 && bytes_ > byte_limit_) return End(Outcome::kTooLarge);
      if (call.elapsed() < kTickMilliseconds / 4) batch_ = std::min(batch_ * 2, kMaxBatch);
      if (slice.elapsed() >= kTickMilliseconds) break;
    }
  } catch (const std::exception& e) {
    error_ = QString::fromUtf8(e.what());
    return End(Outcome::kFailed);
  }
  if (range_ == rows_.size()) return End(Outcome::kDone);
  emit Progressed();
}

void LineJob::End(Outcome outcome) {
  running_ = false;
  timer_->stop();
  emit Finished(outcome);
}

}  // namespace veskor
