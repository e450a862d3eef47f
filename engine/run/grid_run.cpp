// The grid's rows made into a request, and the run's reports made into the grid's cells.
#include "engine/run/grid_run.h"

#include "engine/run/analysis_run.h"
#include "presets/preset.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

SearchFields SearchFieldsOf(const TPreset& preset) {
  SearchFields fields;
  fields.Alphabet = std::string(ShortString(preset.Alphabet));
  fields.RegExp = std::string(ShortString(preset.RegExp));
  fields.MinLength = preset.MinLength;
  fields.MaxLength = preset.MaxLength;
  return fields;
}

// Writes the run's reports into the rows' cells, then passes them on to the host.
class GridObserver : public RunObserver {
 public:
  GridObserver(TaskTable& table, RunHost& host) : table_(table), host_(host) {}

  // The row the run is at, or -1 before the first.
  int current_row() const { return current_row_; }

  // The row shows the not-run picture instead of the running arrow, which would say it still
  // runs, and keeps the reason (the text of the run's message) for the window's tooltip.
  void MarkNotRun(int row, const std::string& reason) {
    table_.SetWholeNumber(NxImageColumn, row, kStatusNotRun);
    table_.SetReason(row, reason);
  }

  std::string RowInput(const std::string& requested) override { return host_.RowInput(requested); }
  std::unique_ptr<LogSink> OpenLog(const RequestRow& row, const std::string& path) override {
    table_.SetLogPath(row.row, path);
    return host_.OpenLog(row, path);
  }
  std::unique_ptr<LineMaker> MakeLines(const TAlgorithm& algorithm, std::string_view format,
                                       bool write_lines) override {
    return host_.MakeLines(algorithm, format, write_lines);
  }
  void RowStarted(const RequestRow& row) override {
    current_row_ = row.row;
    table_.SetWholeNumber(NxImageColumn, row.row, kStatusRunning);
    table_.SetText(NxResultColumn, row.row, u"?");
    host_.RowStarted(row);
  }
  void RowProgress(const RequestRow& row, int percent) override {
    table_.SetWholeNumber(NxProgressColumn, row.row, percent);
    host_.RowProgress(row, percent);
  }
  void Pace(const RequestRow& row, int key, int64_t lines) override { host_.Pace(row, key, lines); }
  void RowScanned(const RequestRow& row, int64_t found) override {
    table_.SetWholeNumber(NxImageColumn, row.row, kStatusDone);
    table_.SetText(NxResultColumn, row.row, Cp1251ToUtf16(std::to_string(found)));
    table_.SetWholeNumber(NxGotoColumn, row.row, kLinkOpen);
    host_.RowScanned(row, found);
  }
  // The row says why before the message is shown.
  void Message(const RequestRow& row, const std::string& text) override {
    MarkNotRun(row.row, text);
    host_.Message(row, text);
  }
  void InputMessage(const RequestRow& row, const std::string& text,
                    const std::string& input) override {
    MarkNotRun(row.row, text);
    host_.InputMessage(row, text, input);
  }
  void RowFinished(const RequestRow& row, const RowOutcome& outcome) override {
    host_.RowFinished(row, outcome);
    // A stop ends the run after this row; a row that did not run keeps saying why.
    if (StopIsRequested() && table_.WholeNumber(NxImageColumn, row.row) != kStatusNotRun) {
      table_.SetWholeNumber(NxImageColumn, row.row, kStatusStopped);
    }
  }

 private:
  TaskTable& table_;
  RunHost& host_;
  int current_row_ = -1;
};

}  // namespace

std::vector<RequestRow> CheckedRows(const TaskTable& table, const PresetList& presets) {
  std::vector<RequestRow> rows;
  for (int row = 0; row < table.RowCount(); ++row) {
    if (!table.Checked(row)) continue;
    RequestRow request;
    request.row = row;
    request.algorithm = Utf16ToCp1251(table.Text(NxAlgoColumn, row));
    request.key = Utf16ToCp1251(table.Text(NxKeyColumn, row));
    request.preset = Utf16ToCp1251(table.Text(NxPresetColumn, row));
    TPreset preset{};
    if (presets.FindPreset(request.preset, preset)) request.fields = SearchFieldsOf(preset);
    request.algorithm_shown = Utf16ToUtf8(table.Text(NxAlgoColumn, row));
    request.key_shown = Utf16ToUtf8(table.Text(NxKeyColumn, row));
    request.preset_shown = Utf16ToUtf8(table.Text(NxPresetColumn, row));
    rows.push_back(std::move(request));
  }
  return rows;
}

void RunAnalysis(TaskTable& table, const AnalysisRequest& request, RunHost& host) {
  table.ResetTaskResults();
  host.SetRunControls(false);
  GridObserver grid(table, host);
  // The log and the input were released on the way out; the row the error ended did not run,
  // and the window returns to idle.
  auto end_after_error = [&](const std::string& reason) {
    if (grid.current_row() >= 0) grid.MarkNotRun(grid.current_row(), reason);
    host.SetRunControls(true);
  };
  try {
    RunRequest(request, grid);
  } catch (const std::exception& e) {
    end_after_error(e.what());
    throw;
  } catch (...) {
    end_after_error("");
    throw;
  }
  host.SetRunControls(true);
}

}  // namespace veskor
