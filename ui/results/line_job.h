// Lines of one key's strings written out in slices from the event loop, so that copying or
// saving millions of them leaves the window answering, with a share done and a way to cancel.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

#include "text/line_output.h"

class QTimer;

namespace veskor {

class StringListModel;

class LineJob : public QObject {
  Q_OBJECT

 public:
  struct Rows {
    uint64_t first = 0;
    uint64_t count = 0;
  };
  enum class Outcome {
    kDone,
    kCancelled,    // Cancel()
    kTooLarge,     // more bytes than the limit
    kUnavailable,  // the listing ended or changed under the job (another key, a changed file)
    kFailed,       // the line format or the filter raised error()
  };
  // How long one turn of the event loop may write.
  static constexpr int kTickMilliseconds = 15;

  // Writes the lines of `rows` of `strings` (in that order) to `sink`, which must outlive the
  // job; `byte_limit` (0: none) ends it as kTooLarge once the lines written exceed it.
  LineJob(StringListModel* strings, std::vector<Rows> rows, ByteSink* sink, uint64_t byte_limit,
          QObject* parent);
  // Writes every string of the key that passes the filter, in the file's order as the log has
  // them, once the scan has found them all.
  LineJob(StringListModel* strings, ByteSink* sink, QObject* parent);

  // Writes the first slice now and the others from the event loop.
  void Start();
  // Ends the job as kCancelled, unless it has ended.
  void Cancel();

  bool running() const { return running_; }
  // The scan is still being finished before the lines are written (a whole key's job).
  bool waiting() const { return waiting_; }
  // The share of the scan while waiting, else of the lines, 0 to 1.
  double progress() const;
  // The lines to write (known once the wait is over).
  uint64_t total() const { return total_; }
  const QString& error() const { return error_; }

 signals:
  void Progressed();
  // Once, when the job ends; nothing is written after it.
  void Finished(LineJob::Outcome outcome);

 private:
  void Tick();
  void End(Outcome outcome);

  StringListModel* strings_;
  ByteSink* sink_;
  std::vector<Rows> rows_;
  uint64_t byte_limit_ = 0;
  uint64_t bytes_ = 0;
  size_t range_ = 0;     // the range being written
  uint64_t offset_ = 0;  // lines of it written
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  // Lines a WriteLines call takes: grows while calls stay short, so that a few lines go out at
  // once and a million in a few hundred calls.
  uint64_t batch_ = 1024;
  bool waiting_ = false;
  bool whole_key_ = false;  // the file's order, whatever the list's
  bool running_ = false;
  QString error_;
  QTimer* timer_;
};

}  // namespace veskor
