// What the run hands the string scanner for one task row: the file's bytes, the key, the
// width, the counters, the row's expression and line format, and the run's services.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace veskor {

// The stop flag. Its writers: RequestStop, called by "Stop" and the close request of the window
// (ui/main_window) and by the runner at a file's deadline (cli/cli_host); the runner's signal
// handler, which sets StopRequested itself; ClearStop, called only by the run when it honours
// the flag after a row (engine/run/analysis_run). Its readers: the run after every key and row
// (StopIsRequested), the scanner's checkpoints (engine/search/job_runner), and the expression's
// search, which is handed the flag.
extern std::atomic<bool> StopRequested;

// The flag that the run on the calling thread obeys: StopRequested, unless a StopScope on the
// thread names one of its own (the runner scans files side by side, each stopped on its own).
std::atomic<bool>& StopFlag();

// For its life, StopFlag() on the constructing thread is `flag`.
class StopScope {
 public:
  explicit StopScope(std::atomic<bool>& flag);
  ~StopScope();
  StopScope(const StopScope&) = delete;
  StopScope& operator=(const StopScope&) = delete;

 private:
  std::atomic<bool>* previous_;
};

inline void RequestStop() { StopFlag().store(true, std::memory_order_relaxed); }
inline bool StopIsRequested() { return StopFlag().load(std::memory_order_relaxed); }
inline void ClearStop() { StopFlag().store(false); }

// The preset's four search fields, copied by value.
struct SearchFields {
  std::string Alphabet;  // a set of byte values; empty admits nothing
  std::string RegExp;    // empty: no filtering
  uint8_t MinLength = 0;
  uint8_t MaxLength = 0;  // 0: no upper limit
};

class LineMaker;
class StringFilter;
class RowSummary;

// The run's side of a search, called on the run's own thread only (workers never do): where the
// lines go, the row's progress, and the pace of the search.
class ScanServices {
 public:
  virtual ~ScanServices() = default;
  // Appends bytes of whole lines (and, for a line too long to hold, its pieces) to the row's
  // log, in order; may raise an I/O error.
  virtual void Write(std::string_view bytes) = 0;
  virtual void SetProgress(int percent) = 0;
  // About every ScanOptions::event_interval of scanning, with the lines written so far: the
  // run's moment to tell its caller how far the row is, and the caller's to request a stop.
  virtual void Pace(int64_t lines_written) = 0;
};

struct TScanContext {
  const uint8_t* Data = nullptr;
  uint64_t Size = 0;  // the file's full size, at least 1
  int Key = 0;        // in the algorithm's key range
  int32_t Width = 0;  // decimal digits of Size
  bool SingleKey = true;
  int64_t Found = 0;  // lines written so far for the row; the pass adds to it
  ScanServices* Services = nullptr;
  const LineMaker* Lines = nullptr;  // the line of an accepted string
  // The row's expression; may be null only when the row has none.
  const StringFilter* Filter = nullptr;
  // Where the strings whose lines are written are counted and scored per key; null: nowhere.
  // Of a NONE search of all keys only key 1 is kept (every key has the same strings).
  RowSummary* Summary = nullptr;
  // When events were last processed; kept across the passes of a row so that events are
  // processed about every 20 ms of scanning, however short each pass is.
  std::chrono::steady_clock::time_point LastEvents{};
};

// Number of decimal digits of a size (1 for sizes below 10).
int32_t DecimalWidth(uint64_t size);

// A context over `size` bytes at `data` (the whole file) that writes through `services` and
// `lines` and tests through `filter` (null for a row without an expression), in single-key mode
// with no summary.
TScanContext ContextOver(const uint8_t* data, uint64_t size, ScanServices& services,
                         const LineMaker& lines, const StringFilter* filter = nullptr);

// The progress of single-key mode at one position: position * 100 / size in extended
// precision, rounded to nearest with ties to even.
int ProgressAt(uint64_t position, uint64_t size);

}  // namespace veskor
