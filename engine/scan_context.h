// What the run hands the string scanner for one task row: the file's bytes, the key, the
// width, the counters, and the run's four services.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "report/report_format.h"

namespace veskor {

// Set by "Stop", by closing the window and by SIGINT in the runner; cleared only by the run
// when it honours it after a row.
extern std::atomic<bool> StopRequested;

// The preset's four search fields, copied by value.
struct TSearchFields {
  std::string Alphabet;  // a set of byte values; empty admits nothing
  std::string RegExp;    // empty: no filtering
  uint8_t MinLength = 0;
  uint8_t MaxLength = 0;  // 0: no upper limit
};

class ScanServices {
 public:
  virtual ~ScanServices() = default;
  // Does the expression match somewhere in the text? May raise the filter's error.
  virtual bool MatchesExpression(std::string_view expression, std::string_view text) = 0;
  // Writes one line for an accepted string; may raise a format or I/O error.
  virtual void Report(int32_t key, int32_t width, int64_t position, std::string_view text) = 0;
  // The same for a string too long to be held whole, whose text streams from the file. By
  // default the text is gathered and reported as one string.
  virtual void ReportLong(int32_t key, int32_t width, int64_t position, const LongText& text);
  virtual void SetProgress(int percent) = 0;
  // Lets the window process its pending events (where "Stop" and a close request are seen).
  virtual void ProcessEvents() = 0;
};

struct TScanContext {
  const uint8_t* Data = nullptr;
  uint64_t Size = 0;  // the file's full size, at least 1
  uint8_t Key = 0;
  int32_t Width = 0;  // decimal digits of Size
  bool SingleKey = true;
  int32_t Row = 0;
  int64_t Found = 0;  // lines written so far for the row; the pass adds to it
  ScanServices* Services = nullptr;
  // When events were last processed; kept across the passes of a row so that events are
  // processed about every 20 ms of scanning, however short each pass is.
  std::chrono::steady_clock::time_point LastEvents{};
};

// Number of decimal digits of a size (1 for sizes below 10).
int32_t DecimalWidth(uint64_t size);

// The progress of single-key mode at one position: position * 100 / size in extended
// precision, rounded to nearest with ties to even.
int ProgressAt(uint64_t position, uint64_t size);

}  // namespace veskor
