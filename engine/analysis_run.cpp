// The row loop, the log naming, the single-key and all-keys passes and the cells' outcomes.
#include "engine/analysis_run.h"

#include <chrono>
#include <set>

#include "engine/algorithms.h"
#include "engine/mapped_input.h"
#include "engine/regexp/regexp.h"
#include "engine/scanner.h"
#include "presets/preset.h"
#include "report/report_format.h"
#include "text/cp1251.h"
#include "text/integer_syntax.h"

namespace veskor {
namespace {

// The run's side of the scanner: the log, the progress cell and the host's events.
class RowServices : public ScanServices {
 public:
  RowServices(TaskTable& table, int row, RunHost& host, LogSink& log, std::string format)
      : table_(table), row_(row), host_(host), log_(log), format_(std::move(format)) {}

  // The expression is compiled at the first candidate that reaches it, so an invalid one
  // raises its error then and never in a scan where no candidate passes the length tests, and
  // it serves every pass of the row. A long search processes the host's events about every
  // 20 ms, so that the window repaints and "Stop" or a close request sets StopRequested.
  bool MatchesExpression(std::string_view expression, std::string_view text) override {
    if (!expression_ || expression_text_ != expression) {
      expression_.reset();
      expression_ = std::make_unique<CompiledRegExp>(expression);
      expression_text_ = expression;
    }
    return expression_->Matches(text, &StopRequested, [this] {
      const auto now = std::chrono::steady_clock::now();
      if (now - last_events_ < std::chrono::milliseconds(20)) return;
      last_events_ = now;
      host_.ProcessEvents();
    });
  }

  void Report(int32_t key, int32_t width, int64_t position, std::string_view text) override {
    line_.clear();
    AppendReportLine(line_, format_, key, width, position, text);
    log_.WriteLine(line_);
  }

  void SetProgress(int percent) override { table_.SetWholeNumber(NxProgressColumn, row_, percent); }

  void ProcessEvents() override { host_.ProcessEvents(); }

 private:
  TaskTable& table_;
  int row_;
  RunHost& host_;
  LogSink& log_;
  // One format serves the row: the Options page is disabled while a run lasts.
  std::string format_;
  std::string line_;
  std::unique_ptr<CompiledRegExp> expression_;
  std::string expression_text_;
  std::chrono::steady_clock::time_point last_events_;
};

TSearchFields SearchFieldsOf(const TPreset& preset) {
  TSearchFields fields;
  fields.Alphabet = std::string(ShortString(preset.Alphabet));
  fields.RegExp = std::string(ShortString(preset.RegExp));
  fields.MinLength = preset.MinLength;
  fields.MaxLength = preset.MaxLength;
  return fields;
}

// Rows of one run that would share a log get "_2", "_3", ... before ".log", so that no row's
// log is truncated by a later row and every link opens its own row's results.
std::string UniqueLogPath(std::set<std::string>& used, const std::string& input,
                          const std::string& algorithm) {
  std::string path = LogPathFor(input, algorithm);
  for (int n = 2; used.count(path) != 0; ++n) {
    path = input + "_" + algorithm + "_" + std::to_string(n) + ".log";
  }
  used.insert(path);
  return path;
}

class Run {
 public:
  Run(TaskTable& table, const PresetList& presets, RunHost& host)
      : table_(table), presets_(presets), host_(host) {}

  // Returns false when a stop ended the run after this row.
  bool RunRow(int row) {
    table_.SetWholeNumber(NxImageColumn, row, 0);
    table_.SetText(NxResultColumn, row, u"?");
    RowOutcome outcome;
    outcome.row = row;
    ScanRow(row, outcome);
    host_.RowFinished(outcome);
    if (StopRequested.load()) {
      StopRequested.store(false);
      table_.SetWholeNumber(NxImageColumn, row, 3);
      return false;
    }
    return true;
  }

 private:
  void ScanRow(int row, RowOutcome& outcome) {
    const std::string algorithm_name = Utf16ToCp1251(table_.Text(NxAlgoColumn, row));
    const std::string preset_name = Utf16ToCp1251(table_.Text(NxPresetColumn, row));
    // A row is never scanned with a decoder or preset left over from an earlier row: that
    // would report results of a search the row does not name.
    TAlgorithm algorithm;
    if (!FindAlgorithm(algorithm_name, algorithm)) {
      outcome.kind = RowOutcome::Kind::kSkipped;
      host_.ShowMessage(Substitute(kNoDecoderMessage, Cp1251ToUtf8(algorithm_name)));
      return;
    }
    TPreset preset{};
    if (!presets_.FindPreset(preset_name, preset)) {
      outcome.kind = RowOutcome::Kind::kSkipped;
      host_.ShowMessage(Substitute(kNoPresetMessage, Cp1251ToUtf8(preset_name)));
      return;
    }
    const std::string input = host_.InputPath();
    const std::string log_path = UniqueLogPath(used_logs_, input, algorithm_name);
    table_.SetLogPath(row, log_path);
    outcome.log_path = log_path;
    std::unique_ptr<LogSink> log = host_.CreateLog(log_path);
    ScanInput(row, input, algorithm, SearchFieldsOf(preset), *log, outcome);
    log->Close();
  }

  void ScanInput(int row, const std::string& input, const TAlgorithm& algorithm,
                 const TSearchFields& fields, LogSink& log, RowOutcome& outcome) {
    MappedInput mapped;
    switch (mapped.Open(input)) {
      case MappedInput::Result::kOk:
        break;
      case MappedInput::Result::kCannotOpen:
        return InputFailed(kCannotOpenMessage, outcome);
      case MappedInput::Result::kCannotMap:
        return InputFailed(kCannotMapMessage, outcome);
      case MappedInput::Result::kCannotView:
        return InputFailed(kCannotReadMessage, outcome);
    }
    RowServices services(table_, row, host_, log, host_.FormatText());
    TScanContext context;
    context.Data = mapped.data();
    context.Size = mapped.size();
    context.Width = DecimalWidth(mapped.size());
    context.Row = row;
    context.Found = 0;
    context.Services = &services;
    context.LastEvents = std::chrono::steady_clock::now();
    const std::u16string& key_text = table_.Text(NxKeyColumn, row);
    try {
      if (!key_text.empty()) {
        context.SingleKey = true;
        context.Key =
            static_cast<uint8_t>(StrToInt(Utf16ToCp1251(key_text), Utf16ToUtf8(key_text)) & 0xFF);
        ScanPass(algorithm, fields, context);
      } else {
        context.SingleKey = false;
        ScanAllKeys(algorithm, fields, context, [&](int key) {
          table_.SetWholeNumber(NxProgressColumn, row, (key * 100 + 127) / 255);
          return !StopRequested.load();
        });
        if (!StopRequested.load()) table_.SetWholeNumber(NxProgressColumn, row, 100);
      }
    } catch (const InputReadError&) {
      // The file shrank under the mapping: the lines found so far stay in the log.
      outcome.found = context.Found;
      return InputFailed(kCannotReadMessage, outcome);
    }
    table_.SetWholeNumber(NxImageColumn, row, 1);
    table_.SetText(NxResultColumn, row, Cp1251ToUtf16(std::to_string(context.Found)));
    table_.SetWholeNumber(NxGotoColumn, row, 2);
    outcome.found = context.Found;
    outcome.kind = StopRequested.load() ? RowOutcome::Kind::kStopped : RowOutcome::Kind::kDone;
  }

  void InputFailed(const char* message, RowOutcome& outcome) {
    outcome.kind = RowOutcome::Kind::kInputFailed;
    host_.ShowMessage(message);
  }

  TaskTable& table_;
  const PresetList& presets_;
  RunHost& host_;
  std::set<std::string> used_logs_;
};

}  // namespace

std::string LogPathFor(const std::string& input_path, const std::string& algorithm) {
  return input_path + "_" + algorithm + ".log";
}

void RunAnalysis(TaskTable& table, const PresetList& presets, RunHost& host) {
  table.ResetTaskResults();
  host.SetRunControls(false);
  try {
    Run run(table, presets, host);
    const int rows = table.RowCount();
    for (int row = 0; row < rows; ++row) {
      if (!table.Checked(row)) continue;
      if (!run.RunRow(row)) break;
    }
  } catch (...) {
    // The log and the input were released on the way out; return the window to idle.
    StopRequested.store(false);
    host.SetRunControls(true);
    throw;
  }
  host.SetRunControls(true);
}

}  // namespace veskor
