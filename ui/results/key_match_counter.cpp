// The count of every key's matching strings on its own thread, by the search of all keys on
// every core, its news queued to the window's.
#include "ui/results/key_match_counter.h"

#include <QMetaObject>
#include <cmath>
#include <exception>
#include <utility>

#include "engine/run/match_counts.h"
#include "engine/search/job_runner.h"

namespace veskor {

KeyMatchCounter::KeyMatchCounter(QObject* parent) : QObject(parent) {}

KeyMatchCounter::~KeyMatchCounter() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void KeyMatchCounter::Post(int generation, std::function<void()> call) {
  // Queued with this object as the context: a call still queued when it is deleted is dropped,
  // and the thread never outlives it.
  QMetaObject::invokeMethod(
      this,
      [this, generation, call = std::move(call)] {
        if (generation == generation_) call();
      },
      Qt::QueuedConnection);
}

void KeyMatchCounter::Stop() {
  if (stop_) stop_->store(true);
  ++generation_;
  running_ = false;
}

void KeyMatchCounter::Start(std::shared_ptr<const RunSearch> search, std::vector<int> keys,
                            Filter filter) {
  Stop();
  // The count before saw its stop at its next checkpoint, within one batch of the scan.
  if (thread_.joinable()) thread_.join();
  stop_ = std::make_shared<std::atomic<bool>>(false);
  running_ = true;
  const int generation = generation_;
  thread_ = std::thread([this, generation, stop = stop_, search = std::move(search),
                         keys = std::move(keys), filter = std::move(filter)] {
    // The share is told in steps of a thousandth: finer steps would only queue more calls.
    int told = -1;
    auto tell = [&](double share) {
      const int step = static_cast<int>(std::floor(share * 1000.0));
      if (step == told) return;
      told = step;
      Post(generation, [this, step] { emit Progressed(step / 1000.0); });
    };
    Outcome outcome = Outcome::kCounted;
    QString message;
    try {
      ScanOptions options;
      options.workers = DefaultWorkerCount();
      const MatchCountsOutcome counted = CountMatchesOfKeys(
          *search, keys, filter, *stop,
          [&](int key, uint64_t count) {
            Post(generation,
                 [this, key, count] { emit Counted(key, static_cast<quint64>(count)); });
          },
          tell, options);
      switch (counted) {
        case MatchCountsOutcome::kCounted:
          break;
        case MatchCountsOutcome::kStopped:
          return;  // a later count, or none, has taken its place
        case MatchCountsOutcome::kChanged:
          outcome = Outcome::kChanged;
          break;
        case MatchCountsOutcome::kCannotRead:
          outcome = Outcome::kCannotRead;
          break;
      }
    } catch (const std::exception& e) {
      outcome = Outcome::kFailed;
      message = QString::fromUtf8(e.what());
    }
    Post(generation, [this, outcome, message] {
      running_ = false;
      emit Finished(outcome, message);
    });
  });
}

}  // namespace veskor
