// What an analysis run tells its caller, on the run's thread: where the lines go, how far each
// row is, the run's messages and how each row ended. The window writes its grid's cells and
// processes its events from it; the runner prints.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/decoding/algorithms.h"
#include "engine/run/analysis_request.h"
#include "engine/run/log_file.h"
#include "engine/run/run_search.h"
#include "engine/score/key_summary.h"
#include "engine/search/line_maker.h"

namespace veskor {

// How a visited row ended.
struct RowOutcome {
  enum class Kind { kDone, kStopped, kInputFailed, kSkipped };
  int row = 0;  // RequestRow::row
  Kind kind = Kind::kDone;
  int64_t found = 0;
  std::optional<int> key;  // the key the row scanned with; none for an all-keys row
  std::string log_path;    // empty when the row made no log
  int error_number = 0;    // of an input that failed: the system's reason (errno), or 0
  // For a row that scanned (done, stopped, or its input failed while scanned): its strings
  // counted and scored per key when the request keeps them, and what it searched. Null
  // otherwise.
  std::shared_ptr<const RowSummary> summary;
  std::shared_ptr<const RunSearch> search;
};

// Every call has a default that does nothing (or the usual thing), so an observer says only
// what it cares about.
class RunObserver {
 public:
  virtual ~RunObserver() = default;

  // The input path of the row about to start: by default the request's. The window answers
  // with its path field as it is now, which a drop during the run changes for the later rows.
  virtual std::string RowInput(const std::string& requested) { return requested; }

  // The lines. The log of a row, asked for once its input is open: by default the file at
  // `path` (LogFile).
  virtual std::unique_ptr<LogSink> OpenLog(const RequestRow& row, const std::string& path);
  // What makes a row's lines of `algorithm` (of an ANY row, the best pair's): by default the
  // report format's (RowLineMaker). Without `write_lines` the lines are counted, never made.
  virtual std::unique_ptr<LineMaker> MakeLines(const TAlgorithm& algorithm, std::string_view format,
                                               bool write_lines);

  // The progress. A row starts.
  virtual void RowStarted(const RequestRow& row) {}
  // The row's progress in percent.
  virtual void RowProgress(const RequestRow& row, int percent) {}
  // About every 20 ms while a row scans: the key being searched (the row's key, or of all keys
  // the one after the last finished) and the lines so far. The window processes its pending
  // events here, where "Stop", a close request and a drop arrive; the runner checks its
  // deadline. A stop requested here ends the row within one more pace.
  virtual void Pace(const RequestRow& row, int key, int64_t lines) {}
  // The row's scan has ended (done or stopped) with `found` lines, before its log is closed.
  virtual void RowScanned(const RequestRow& row, int64_t found) {}

  // The outcomes. One of the run's messages (UTF-8): the row does not run on. Returns when the
  // user has closed it.
  virtual void Message(const RequestRow& row, const std::string& text) {}
  // A message about the input file at `input` (file-system bytes); by default the message alone.
  virtual void InputMessage(const RequestRow& row, const std::string& text,
                            const std::string& input) {
    Message(row, text);
  }
  // The row has ended; a stop requested here still ends the run after it.
  virtual void RowFinished(const RequestRow& row, const RowOutcome& outcome) {}
};

}  // namespace veskor
