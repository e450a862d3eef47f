// The task grid's run: its checked rows as a request, and what the run tells written into their
// cells (status pictures, progress, count, log link, log path, the reason a row did not run).
#pragma once

#include <vector>

#include "engine/run/analysis_request.h"
#include "engine/run/run_observer.h"
#include "presets/preset_list.h"
#include "tasks/task_table.h"

namespace veskor {

// The checked rows of `table` in table order, each with its preset's search fields from
// `presets` (the first preset of its name).
std::vector<RequestRow> CheckedRows(const TaskTable& table, const PresetList& presets);

// What the window adds to a run over its grid: the two forms of its controls. Everything else
// it hears as any observer does, after the grid's cells are written.
class RunHost : public RunObserver {
 public:
  // Idle (true) or running (false) form of the controls.
  virtual void SetRunControls(bool enabled) {}
};

// A whole run over `request`, whose rows are rows of `table`: resets the results, switches the
// controls to running, runs the rows, writing their cells as the run goes, and switches the
// controls back. A row that does not run shows kStatusNotRun with its message as the row's
// reason; a row a stop ended shows kStatusStopped. An error that ends the run does the same for
// its row, with the error's text, and restores the controls before it passes to the caller.
void RunAnalysis(TaskTable& table, const AnalysisRequest& request, RunHost& host);

}  // namespace veskor
