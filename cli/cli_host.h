// The runner's side of the analysis run: messages and summaries on standard error, a progress
// bar on a terminal, logs on disk or the lines on standard output.
#pragma once

#include <string>

#include "engine/analysis_run.h"
#include "tasks/task_table.h"

namespace veskor {

class CliHost : public RunHost, public TaskTableObserver {
 public:
  CliHost(const TaskTable& table, std::string input, std::string format, bool to_stdout, int jobs);
  ~CliHost() override;

  std::string InputPath() override { return input_; }
  void ShowMessage(const std::string& text) override;
  void ShowInputMessage(const std::string& text, const std::string& input) override;
  void ProcessEvents() override;
  std::string FormatText() override { return format_; }
  std::unique_ptr<LogSink> CreateLog(const std::string& path) override;
  int ScanWorkers() override { return jobs_ > 0 ? jobs_ : RunHost::ScanWorkers(); }
  void RowFinished(const RowOutcome& outcome) override;

  void CellChanged(int column, int row) override;

  // Prints a line that is already fit for the terminal on standard error, below any progress bar.
  void PrintLine(const std::string& line);

  // True when every visited row ran to its end.
  bool AllCompleted() const { return all_completed_; }

 private:
  void ClearBar();

  const TaskTable& table_;
  std::string input_;
  std::string format_;
  bool to_stdout_;
  int jobs_;
  bool bar_ = false;  // standard error is a terminal
  bool bar_shown_ = false;
  int bar_row_ = -1;
  bool all_completed_ = true;
};

}  // namespace veskor
