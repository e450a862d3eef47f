// The runner's side of the analysis run: messages and summaries on standard error, a progress
// bar on a terminal, logs on disk or the lines on standard output.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli/file_output.h"
#include "engine/run/run_observer.h"

namespace veskor {

class CliHost : public RunObserver {
 public:
  // Where the lines go: to logs, to standard output, or nowhere while only the summary of
  // every row is kept.
  enum class Output { kLogs, kStdout, kSummary };

  // Standard output and error go to `out`; with `json`, the lines are string records
  // (cli/json_records.h). `input` names the file in the per-task lines and records.
  CliHost(std::string input, Output output, FileOutput& out, bool json = false);
  ~CliHost() override;

  void Message(const RequestRow& row, const std::string& text) override;
  void InputMessage(const RequestRow& row, const std::string& text,
                    const std::string& input) override;
  void RowProgress(const RequestRow& row, int percent) override;
  void Pace(const RequestRow& row, int key, int64_t lines) override;
  std::unique_ptr<LogSink> OpenLog(const RequestRow& row, const std::string& path) override;
  std::unique_ptr<LineMaker> MakeLines(const TAlgorithm& algorithm, std::string_view format,
                                       bool write_lines) override;
  void RowFinished(const RequestRow& row, const RowOutcome& outcome) override;

  // The per-task lines begin with the input's name, as in a batch of several files.
  void NameFileInRowLines() { name_file_ = true; }

  // Prints a line that is already fit for the terminal on standard error, below any progress bar.
  void PrintLine(const std::string& line);

  // Past `deadline`, or once a signal has set StopRequested, the run is stopped as by Stop: the row
  // ends with its lines so far, and no row after it runs.
  void SetDeadline(std::chrono::steady_clock::time_point deadline) { deadline_ = deadline; }
  // True when the deadline stopped the run.
  bool TimedOut() const { return timed_out_; }

  // True when every visited row ran to its end.
  bool AllCompleted() const { return all_completed_; }
  // The rows that ran, in order.
  const std::vector<RowOutcome>& outcomes() const { return outcomes_; }
  // The first of the run's messages (UTF-8, without the file's name), or empty.
  const std::string& first_message() const { return first_message_; }

 private:
  void ClearBar();
  void CheckDeadline();

  std::string input_;
  Output output_;
  bool json_;
  FileOutput& out_;
  std::string first_message_;
  std::vector<RowOutcome> outcomes_;
  bool name_file_ = false;
  bool bar_ = false;  // standard error is a terminal
  bool bar_shown_ = false;
  // The row the bar shows, from its first progress on: its algorithm and its percent.
  std::string bar_name_;
  int bar_percent_ = -1;
  bool all_completed_ = true;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  bool timed_out_ = false;
};

}  // namespace veskor
