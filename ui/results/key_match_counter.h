// The Results window's count of every key's strings that pass the filter, made on a thread of its
// own (and its workers) so that typing in the filter never waits for a scan of the file.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/run/run_search.h"

namespace veskor {

class KeyMatchCounter : public QObject {
  Q_OBJECT

 public:
  using Filter = std::function<bool(std::string_view)>;
  enum class Outcome {
    kCounted,     // every key is counted
    kChanged,     // the input is not the file the run read
    kCannotRead,  // the input cannot be opened or mapped
    kFailed,      // the filter failed on a string (the message says how)
  };

  explicit KeyMatchCounter(QObject* parent = nullptr);
  // Stops the count and waits for its thread, which a stop ends within one batch of the scan.
  ~KeyMatchCounter() override;

  // Counts the strings of each of `keys` of the row that `search` describes that `filter`
  // accepts, in place of any count under way: all the keys of an algorithm in one search over the
  // file (CountMatchesOfKeys), each key's count told as its search ends. `filter` is called on
  // the counting threads, several at once: it must be safe so and keep no state that the
  // window's thread changes.
  void Start(std::shared_ptr<const RunSearch> search, std::vector<int> keys, Filter filter);
  // Ends the count under way: nothing more is told of it.
  void Stop();
  bool running() const { return running_; }

 signals:
  void Counted(int key, quint64 count);
  // The share of the whole count done, 0 to 1.
  void Progressed(double share);
  void Finished(Outcome outcome, const QString& message);

 private:
  // Runs a queued call of the counting thread on the window's thread, unless a later Start or
  // Stop made it stale.
  void Post(int generation, std::function<void()> call);

  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> stop_;
  // Counts the Starts and Stops: what a count tells arrives only while it is the latest.
  int generation_ = 0;
  bool running_ = false;
};

}  // namespace veskor
