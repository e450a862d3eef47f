// The jobs of one search run on worker threads, or on the calling thread alone, while the
// calling thread writes their lines in job order, paces the run (ScanServices::Pace) and sees a
// stop: it alone talks to the run's services. A job's lines wait in bounded buffers: a job ahead of
// the one being written waits once it holds kJobBufferBytes, so memory stays bounded however many
// lines a job makes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "text/line_output.h"

namespace veskor {

class ScanServices;

// What one job writes into: its lines in order. On a worker the bytes gather in chunks handed
// to the writing thread; on the calling thread they go straight to the log.
class JobOutput : public ByteSink {
 public:
  // Part of a line (a long line arrives in pieces).
  void Write(std::string_view bytes) override;
  // A whole line, with its CR LF.
  void WriteLine(std::string_view line) {
    Write(line);
    EndLine();
  }
  // The bytes written since the last line end, CR LF included, end a line.
  void EndLine();
  // `count` whole lines were appended to Buffer() since the last line end.
  void EndLines(int64_t count);
  // Where a line may be appended directly (then EndLine); what is there before must stay.
  LineBuffer& Buffer() { return chunk_; }
  // Between two batches of a job's work: false when the job must end at once (a stop, or an
  // error elsewhere). On the calling thread this is where the run is paced.
  bool Checkpoint();
  // For long work inside one step (an expression that takes its time): the flag to watch, set
  // when the job must end, and Pace() to call now and then, which paces the run when the job runs
  // on the calling thread.
  const std::atomic<bool>& StopFlag() const;
  void Pace();

  struct Shared;

 private:
  friend class JobRunner;
  JobOutput(Shared& shared, size_t job) : shared_(shared), job_(job) {}
  // Hands the chunk on: up to `end` bytes, of which `lines` lines end there. Without `more`
  // (the job's end) no room is made for further lines.
  void Publish(size_t end, bool more = true);
  // The job has ended: its whole lines are handed on, a line it left unfinished is dropped.
  void Finish();

  Shared& shared_;
  size_t job_;
  LineBuffer chunk_;
  size_t line_end_ = 0;      // just past the chunk's last whole line
  int64_t chunk_lines_ = 0;  // whole lines in the chunk
  bool starts_mid_line_ = false;
};

// Runs the jobs of one search: each call starts its worker threads and joins them before it
// returns (none with one worker or one job), while the calling thread writes the lines.
class JobRunner {
 public:
  // How much of one job's output may wait ahead of the job being written.
  static constexpr size_t kJobBufferBytes = size_t{8} << 20;

  // `workers` threads (1: the calling thread does the jobs itself between its other work).
  // `services` is the calling thread's: the log (Write), SetProgress, Pace. Pace is called about
  // every `event_interval`, measured from `last_events`.
  JobRunner(int workers, ScanServices& services, std::chrono::nanoseconds event_interval,
            std::chrono::steady_clock::time_point& last_events);

  int workers() const { return workers_; }
  // Runs task(0) .. task(count - 1), in any order and at once where there are workers; returns
  // when all are done, or false as soon as a stop is seen. A task's error is raised here. The
  // tasks write no lines.
  bool RunAll(size_t count, const std::function<void(size_t, JobOutput&)>& task);

  // Runs job(0) .. job(count - 1) and writes their lines in job order; after the last line of job
  // i, after(i) runs on the calling thread and the jobs go on only while it returns true.
  // Returns false when a stop (or `after`) ended them; the lines written are then whole jobs
  // and a line-order prefix of the next. A job's error is raised once the lines before it have
  // been written.
  bool RunOrdered(size_t count, const std::function<void(size_t, JobOutput&)>& job,
                  const std::function<bool(size_t)>& after);

  // Lines written to the log so far.
  int64_t lines_written() const { return lines_written_; }

  // Paces the run when the interval has passed (the calling thread only).
  void PaceEvents();
  // The same from a job's checkpoint, looking at the clock at a few of them only.
  void PaceJobEvents();

 private:
  friend class JobOutput;
  bool Run(size_t count, const std::function<void(size_t, JobOutput&)>& job,
           const std::function<bool(size_t)>* after, bool ordered);
  bool RunOnWorkers(JobOutput::Shared& shared, size_t count,
                    const std::function<void(size_t, JobOutput&)>& job,
                    const std::function<bool(size_t)>* after);
  bool WriteInOrder(JobOutput::Shared& shared, size_t count,
                    const std::function<bool(size_t)>* after);
  void AddLines(int64_t lines) { lines_written_ += lines; }

  const int workers_;
  ScanServices& services_;
  const std::chrono::nanoseconds event_interval_;
  std::chrono::steady_clock::time_point& last_events_;
  uint32_t pace_calls_ = 0;
  int64_t lines_written_ = 0;
};

// The number of workers a search may use: every core this process may run on.
int DefaultWorkerCount();

}  // namespace veskor
