// The worker threads of a search, the chunks of lines they hand to the writing thread, and the
// writing thread's loop: lines in job order, events about every 20 ms, a stop seen at once.
#include "engine/search/job_runner.h"

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/search/scan_context.h"

namespace veskor {
namespace {

// Lines are handed on in chunks of about this size.
constexpr size_t kChunkBytes = size_t{256} << 10;

// Raised inside a job that waits for room when the search is ending; ends the job quietly.
struct Cancelled {};

struct Chunk {
  LineBuffer bytes;
  int64_t lines = 0;
  bool ends_line = true;  // false: a long line goes on in the next chunk
};

struct Slot {
  std::deque<Chunk> chunks;
  size_t buffered = 0;
  bool done = false;
  std::exception_ptr error;
};

}  // namespace

struct JobOutput::Shared {
  JobRunner* runner = nullptr;
  ScanServices* services = nullptr;
  bool inline_mode = false;
  bool ordered = false;
  size_t job_buffer_bytes = JobRunner::kJobBufferBytes;
  size_t window = 1;  // jobs may start this far ahead of the one being written

  std::mutex mutex;
  std::condition_variable to_writer;   // a chunk, or a job done
  std::condition_variable to_workers;  // room, the written job moved on, or the end
  std::vector<Slot> slots;
  size_t head = 0;  // the job being written
  size_t next = 0;  // the next job to start
  bool cancel = false;
  std::atomic<bool> halt{false};
  // Chunks the writer is done with, kept for the workers: a fresh buffer costs a page fault per
  // page, and a search of all keys hands on thousands of chunks.
  std::vector<LineBuffer> spare;
};

void JobOutput::Write(std::string_view bytes) {
  chunk_.Append(bytes);
  // A line longer than a chunk is handed on in pieces, so it is never held whole.
  if (chunk_.size() - line_end_ >= kChunkBytes) Publish(chunk_.size());
}

void JobOutput::EndLine() { EndLines(1); }

void JobOutput::EndLines(int64_t count) {
  line_end_ = chunk_.size();
  chunk_lines_ += count;
  // A chunk that continues a long line goes at once, so that the line's end is its end.
  if (chunk_.size() >= kChunkBytes || starts_mid_line_) Publish(chunk_.size());
}

bool JobOutput::Checkpoint() {
  if (shared_.inline_mode) {
    shared_.runner->PaceJobEvents();
    return !StopIsRequested();
  }
  return !shared_.halt.load(std::memory_order_relaxed);
}

const std::atomic<bool>& JobOutput::StopFlag() const {
  return shared_.inline_mode ? veskor::StopFlag() : shared_.halt;
}

void JobOutput::Pace() {
  if (shared_.inline_mode) shared_.runner->PaceEvents();
}

void JobOutput::Publish(size_t end, bool more) {
  Chunk chunk;
  chunk.lines = chunk_lines_;
  chunk.ends_line = end == line_end_;
  const bool whole = end == chunk_.size();
  const size_t room = std::min(chunk_.capacity(), kChunkBytes + kChunkBytes / 2);
  if (whole) {
    chunk.bytes = std::move(chunk_);
    chunk_ = LineBuffer();
  } else {
    chunk.bytes.Append(chunk_.view().substr(0, end));
    chunk_.EraseFront(end);
  }
  starts_mid_line_ = !chunk.ends_line;
  line_end_ = 0;
  chunk_lines_ = 0;
  if (more && whole && chunk_.capacity() == 0 && (shared_.inline_mode || chunk.bytes.empty())) {
    chunk_.Extend(room);
  }
  if (chunk.bytes.empty()) return;
  if (shared_.inline_mode) {
    shared_.services->Write(chunk.bytes.view());
    shared_.runner->AddLines(chunk.lines);
    return;
  }
  std::unique_lock lock(shared_.mutex);
  if (more && whole && !shared_.spare.empty()) {
    chunk_ = std::move(shared_.spare.back());
    shared_.spare.pop_back();
  }
  Slot& slot = shared_.slots[job_];
  slot.buffered += chunk.bytes.size();
  slot.chunks.push_back(std::move(chunk));
  shared_.to_writer.notify_one();
  // A job ahead of the one being written waits while its lines fill their share of memory.
  shared_.to_workers.wait(lock, [&] {
    return shared_.cancel || shared_.head == job_ || slot.buffered < shared_.job_buffer_bytes;
  });
  if (more && whole && chunk_.capacity() == 0) {
    lock.unlock();
    chunk_.Extend(room);
    lock.lock();
  }
  if (shared_.cancel && shared_.head != job_) throw Cancelled();
}

void JobOutput::Finish() {
  if (line_end_ > 0) Publish(line_end_, false);
}

namespace {

// A chunk from the writer's spares, else a fresh one of a chunk's size.
LineBuffer TakeSpare(JobOutput::Shared& shared) {
  LineBuffer chunk;
  {
    std::lock_guard lock(shared.mutex);
    if (!shared.spare.empty()) {
      chunk = std::move(shared.spare.back());
      shared.spare.pop_back();
      return chunk;
    }
  }
  chunk.Extend(kChunkBytes + kChunkBytes / 2);
  return chunk;
}

}  // namespace

JobRunner::JobRunner(int workers, ScanServices& services, std::chrono::nanoseconds event_interval,
                     std::chrono::steady_clock::time_point& last_events)
    : workers_(std::max(1, workers)),
      services_(services),
      event_interval_(event_interval),
      last_events_(last_events) {}

void JobRunner::PaceJobEvents() {
  // A job on this thread checkpoints between batches of its work, some only a few runs apart
  // (the regions of a sparse search): the clock is read at one checkpoint in kPaceCalls, unless
  // events are to be processed at every one.
  constexpr uint32_t kPaceCalls = 16;
  if (event_interval_.count() == 0 || ++pace_calls_ % kPaceCalls == 0) PaceEvents();
}

void JobRunner::PaceEvents() {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_events_ < event_interval_) return;
  services_.Pace(lines_written_);
  last_events_ = std::chrono::steady_clock::now();
}

bool JobRunner::RunAll(size_t count, const std::function<void(size_t, JobOutput&)>& task) {
  return Run(count, task, nullptr, false);
}

bool JobRunner::RunOrdered(size_t count, const std::function<void(size_t, JobOutput&)>& job,
                           const std::function<bool(size_t)>& after) {
  return Run(count, job, &after, true);
}

bool JobRunner::Run(size_t count, const std::function<void(size_t, JobOutput&)>& job,
                    const std::function<bool(size_t)>* after, bool ordered) {
  // A stop already asked for starts no job: the workers would otherwise search and count
  // until the writer first looks at the flag.
  if (StopIsRequested()) return false;
  auto shared = std::make_unique<JobOutput::Shared>();
  shared->runner = this;
  shared->services = &services_;
  shared->ordered = ordered;
  shared->inline_mode = workers_ == 1 || count <= 1;
  if (shared->inline_mode) {
    for (size_t i = 0; i < count; ++i) {
      if (StopIsRequested()) return false;
      JobOutput output(*shared, i);
      try {
        job(i, output);
      } catch (...) {
        output.Finish();  // the whole lines before the error are written
        throw;
      }
      output.Finish();
      if (StopIsRequested()) return false;
      if (after != nullptr && !(*after)(i)) return false;
      PaceEvents();
    }
    return true;
  }
  return RunOnWorkers(*shared, count, job, after);
}

bool JobRunner::RunOnWorkers(JobOutput::Shared& shared, size_t count,
                             const std::function<void(size_t, JobOutput&)>& job,
                             const std::function<bool(size_t)>* after) {
  shared.slots = std::vector<Slot>(count);
  const size_t threads = std::min<size_t>(static_cast<size_t>(workers_), count);
  // At most about 64 MiB of lines wait, whatever the number of workers.
  shared.window = 2 * threads;
  shared.job_buffer_bytes = std::max<size_t>(size_t{1} << 20, (size_t{64} << 20) / shared.window);

  auto work = [&] {
    for (;;) {
      size_t i;
      {
        std::unique_lock lock(shared.mutex);
        // Ordered jobs start no further ahead of the written one than the window.
        shared.to_workers.wait(lock, [&] {
          return shared.cancel || shared.next >= count || !shared.ordered ||
                 shared.next < shared.head + shared.window;
        });
        if (shared.cancel || shared.next >= count) return;
        i = shared.next++;
      }
      JobOutput output(shared, i);
      // A job starts in a chunk the writer is done with, rather than growing a fresh one.
      if (shared.ordered) output.chunk_ = TakeSpare(shared);
      std::exception_ptr error;
      try {
        job(i, output);
        output.Finish();
      } catch (const Cancelled&) {
      } catch (...) {
        error = std::current_exception();
        try {
          output.Finish();  // the whole lines before the error are still written
        } catch (...) {
        }
      }
      std::lock_guard lock(shared.mutex);
      if (output.chunk_.empty() && output.chunk_.capacity() > 0 &&
          shared.spare.size() < 4 * shared.window) {
        shared.spare.push_back(std::move(output.chunk_));
      }
      shared.slots[i].done = true;
      shared.slots[i].error = error;
      shared.to_writer.notify_one();
    }
  };
  std::vector<std::thread> running;
  for (size_t t = 0; t < threads; ++t) running.emplace_back(work);
  auto finish = [&] {
    {
      std::lock_guard lock(shared.mutex);
      shared.cancel = true;
      shared.halt.store(true);
    }
    shared.to_workers.notify_all();
    for (std::thread& thread : running) thread.join();
    running.clear();
  };

  bool completed = false;
  try {
    completed = WriteInOrder(shared, count, after);
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return completed;
}

// The calling thread's loop: takes the chunks of the job being written (of any job, for tasks
// without lines), writes them, and moves on when the job is done.
bool JobRunner::WriteInOrder(JobOutput::Shared& shared, size_t count,
                             const std::function<bool(size_t)>* after) {
  bool mid_line = false;  // the last chunk written left a long line unfinished
  bool stopping = false;
  size_t done_tasks = 0;
  for (;;) {
    std::vector<Chunk> chunks;
    bool job_done = false;
    std::exception_ptr error;
    {
      std::unique_lock lock(shared.mutex);
      if (shared.ordered) {
        if (shared.head >= count) return true;
        Slot& slot = shared.slots[shared.head];
        shared.to_writer.wait_for(lock, event_interval_ / 2 + std::chrono::milliseconds(1),
                                  [&] { return !slot.chunks.empty() || slot.done; });
        for (Chunk& chunk : slot.chunks) {
          slot.buffered -= chunk.bytes.size();
          chunks.push_back(std::move(chunk));
        }
        slot.chunks.clear();
        job_done = slot.done;
        error = slot.error;
      } else {
        shared.to_writer.wait_for(lock, event_interval_ / 2 + std::chrono::milliseconds(1));
        done_tasks = 0;
        for (Slot& slot : shared.slots) {
          if (!slot.done) continue;
          ++done_tasks;
          if (slot.error && !error) error = slot.error;
        }
      }
    }
    if (!chunks.empty()) shared.to_workers.notify_all();
    for (Chunk& chunk : chunks) {
      if (stopping && !mid_line) break;
      services_.Write(chunk.bytes.view());
      lines_written_ += chunk.lines;
      mid_line = !chunk.ends_line;
    }
    if (!chunks.empty()) {
      std::lock_guard lock(shared.mutex);
      for (Chunk& chunk : chunks) {
        if (shared.spare.size() >= 4 * shared.window) break;
        chunk.bytes.Clear();
        shared.spare.push_back(std::move(chunk.bytes));
      }
    }
    if (stopping && !mid_line) return false;
    if (error) std::rethrow_exception(error);
    if (!shared.ordered && done_tasks == count) return true;
    if (job_done) {
      if (stopping) return false;
      const size_t finished = shared.head;
      if (after != nullptr && !(*after)(finished)) return false;
      {
        std::lock_guard lock(shared.mutex);
        ++shared.head;
      }
      shared.to_workers.notify_all();
    }
    PaceEvents();
    // A stop ends the writing at the next line end; a long line being written is finished.
    if (StopIsRequested()) {
      shared.halt.store(true);
      if (!mid_line) return false;
      stopping = true;
    }
  }
}

int DefaultWorkerCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace veskor
