// The analysis run behind "Analyze": every checked task row, in table order, scanned over the
// input file into its own log, with the row's cells written as it goes.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/run/log_file.h"
#include "engine/run/run_search.h"
#include "engine/score/key_summary.h"
#include "engine/search/job_runner.h"
#include "engine/search/line_maker.h"
#include "presets/preset_list.h"
#include "tasks/task_table.h"

namespace veskor {

// The run's own messages, shown through the host; the run goes on with the next row.
inline constexpr const char* kCannotOpenMessage = "Невозможно открыть файл!";
inline constexpr const char* kCannotMapMessage = "Невозможно спроецировать файл!";
inline constexpr const char* kCannotReadMessage = "Невозможно прочесть файл!";
// An ANY row tries every key of every algorithm: a key in its key cell is refused.
inline constexpr std::string_view kAnyKeyMessage =
    "'%s': ANY tries every key of every algorithm; leave the key empty";
inline constexpr const char* kNoDecoderMessage =
    "The algorithm \"%s\" has no decoder: the task was skipped";
inline constexpr const char* kNoPresetMessage = "No preset is named \"%s\": the task was skipped";

// How a visited row ended, for hosts that summarise a run.
struct RowOutcome {
  enum class Kind { kDone, kStopped, kInputFailed, kSkipped };
  int row = 0;
  Kind kind = Kind::kDone;
  int64_t found = 0;
  std::optional<int> key;  // the key the row scanned with; none for an all-keys row
  std::string log_path;    // empty when the row made no log
  int error_number = 0;    // of an input that failed: the system's reason (errno), or 0
  // For a row that scanned (done, stopped, or its input failed while scanned): its strings
  // counted and scored per key, and what it searched. Null otherwise.
  std::shared_ptr<const RowSummary> summary;
  std::shared_ptr<const RunSearch> search;
};

// What the run needs of the window or the runner.
class RunHost {
 public:
  virtual ~RunHost() = default;
  // The input path as 8-bit (file-system) bytes, read anew at the start of every row.
  virtual std::string InputPath() = 0;
  // One of the run's messages (UTF-8); returns when the user has closed it.
  virtual void ShowMessage(const std::string& text) = 0;
  // A message about the input file at `input` (file-system bytes); by default the message alone.
  virtual void ShowInputMessage(const std::string& text, const std::string& input) {
    ShowMessage(text);
  }
  // Processes pending events: repaints, "Stop", a close request, a drop.
  virtual void ProcessEvents() = 0;
  // The current report format as 8-bit text.
  virtual std::string FormatText() = 0;
  // Idle (true) or running (false) form of the controls.
  virtual void SetRunControls(bool enabled) {}
  // The log of a row; by default the file at `path`.
  virtual std::unique_ptr<LogSink> CreateLog(const std::string& path) {
    return std::make_unique<LogFile>(path);
  }
  // What makes a row's lines of `algorithm` (of an ANY row, the best pair's): by default the
  // report format's (RowLineMaker). The runner's JSON Lines put records in their place.
  virtual std::unique_ptr<LineMaker> CreateLines(const TAlgorithm& algorithm,
                                                 std::string_view expression,
                                                 std::string_view format, bool write_lines);
  virtual void RowFinished(const RowOutcome& outcome) {}
  // While a row runs, about every 20 ms before events are processed: the key being searched
  // (the row's key, or of all keys the one after the last finished) and the lines so far.
  virtual void ShowRunProgress(int row, int key, int64_t lines) {}
  // False when only the summary is wanted: no line is formatted (the log gets nothing).
  virtual bool WritesLines() { return true; }
  // Whether the rows' strings are counted and scored per key (RowOutcome::summary): the window
  // ranks the keys of every row; the runner only when it prints the ranking.
  virtual bool KeepsSummary() { return true; }
  // The threads a row's search may use; by default every core the process may run on.
  virtual int ScanWorkers() { return DefaultWorkerCount(); }
  // Whether a row that makes no line may leave the keys proved below its first keys and its
  // "maybe" band with a bound of their score instead (KeySummary::SetBound); the tests turn it
  // off to compare the ranking with the exact one.
  virtual bool BoundsKeys() { return true; }
};

// A whole run: resets the results, switches the controls to running, runs every checked row,
// and switches the controls back. A row that does not run (no decoder, no such preset, an input
// that cannot be read) shows kStatusNotRun with its message as the row's reason. The input is
// opened and mapped before the row's log is created: an input that cannot be opened, is no
// regular file or cannot be mapped leaves an earlier log of the name as it was and makes none
// (the row has no log path); only a file of 0 bytes, which is opened but has nothing to map,
// still gets its empty log. An error that
// ends the run (a bad key, a format that does not fit, an invalid expression, a log that cannot
// be written) does the same for its row, closes the log, releases the input, clears
// StopRequested and restores the controls before it passes to the caller.
void RunAnalysis(TaskTable& table, const PresetList& presets, RunHost& host);

// The log path for an input and an algorithm: the input path, "_", the name, ".log".
std::string LogPathFor(const std::string& input_path, const std::string& algorithm);

}  // namespace veskor
