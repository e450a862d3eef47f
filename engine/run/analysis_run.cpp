// The row loop, the log naming, the single-key and all-keys passes and the cells' outcomes.
#include "engine/run/analysis_run.h"

#include <set>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/run/mapped_input.h"
#include "engine/run/row_line_maker.h"
#include "engine/score/key_summary.h"
#include "engine/score/rank_floor.h"
#include "engine/score/score_band.h"
#include "engine/search/dense_search.h"
#include "engine/search/row_search.h"
#include "presets/preset.h"
#include "report/report_format.h"
#include "text/cp1251.h"
#include "text/integer_syntax.h"

namespace veskor {
namespace {

// The run's side of the scanner: the log, the progress cell and the host's events.
class RowServices : public ScanServices {
 public:
  RowServices(TaskTable& table, int row, RunHost& host, LogSink& log)
      : table_(table), row_(row), host_(host), log_(log) {}

  void Write(std::string_view bytes) override { log_.Write(bytes); }
  void SetProgress(int percent) override { table_.SetWholeNumber(NxProgressColumn, row_, percent); }
  void ProcessEvents() override {
    host_.ShowRunProgress(row_, key_, lines_);
    host_.ProcessEvents();
  }
  void LinesWritten(int64_t lines) override { lines_ = lines; }

  // The key being searched, for the host's progress.
  void SetKey(int key) { key_ = key; }

 private:
  TaskTable& table_;
  int row_;
  RunHost& host_;
  LogSink& log_;
  int key_ = 0;
  int64_t lines_ = 0;
};

// The row shows the not-run picture instead of the running arrow, which would say it still runs,
// and keeps the reason (the text of the run's message) for the window's tooltip.
void MarkNotRun(TaskTable& table, int row, const std::string& reason) {
  table.SetWholeNumber(NxImageColumn, row, kStatusNotRun);
  table.SetReason(row, reason);
}

SearchFields SearchFieldsOf(const TPreset& preset) {
  SearchFields fields;
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
    table_.SetWholeNumber(NxImageColumn, row, kStatusRunning);
    table_.SetText(NxResultColumn, row, u"?");
    RowOutcome outcome;
    outcome.row = row;
    ScanRow(row, outcome);
    host_.RowFinished(outcome);
    if (StopIsRequested()) {
      ClearStop();
      // A row that did not run keeps saying why.
      if (table_.WholeNumber(NxImageColumn, row) != kStatusNotRun) {
        table_.SetWholeNumber(NxImageColumn, row, kStatusStopped);
      }
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
    const bool any = algorithm_name == kAnyAlgorithmName;
    if (any) {
      algorithm.Name = algorithm_name;
      algorithm.Family = CipherFamily::kMap;
    } else if (!FindAlgorithm(algorithm_name, algorithm)) {
      outcome.kind = RowOutcome::Kind::kSkipped;
      const std::string message = Substitute(kNoDecoderMessage, Cp1251ToUtf8(algorithm_name));
      MarkNotRun(table_, row, message);
      host_.ShowMessage(message);
      return;
    }
    TPreset preset{};
    if (!presets_.FindPreset(preset_name, preset)) {
      outcome.kind = RowOutcome::Kind::kSkipped;
      const std::string message = Substitute(kNoPresetMessage, Cp1251ToUtf8(preset_name));
      MarkNotRun(table_, row, message);
      host_.ShowMessage(message);
      return;
    }
    const std::string input = host_.InputPath();
    const std::string log_path = UniqueLogPath(used_logs_, input, algorithm_name);
    // The input first: a row that cannot read it must not replace an earlier log with an empty
    // one.
    MappedInput mapped;
    const MappedInput::Result opened = mapped.Open(input);
    outcome.error_number = mapped.error_number();
    switch (opened) {
      case MappedInput::Result::kOk:
      case MappedInput::Result::kCannotMap:  // 0 bytes: its log is made, empty, as always
        break;
      case MappedInput::Result::kCannotOpen:
        return InputFailed(row, kCannotOpenMessage, input, outcome);
      case MappedInput::Result::kCannotView:
        return InputFailed(row, kCannotReadMessage, input, outcome);
    }
    table_.SetLogPath(row, log_path);
    outcome.log_path = log_path;
    std::unique_ptr<LogSink> log = host_.CreateLog(log_path);
    if (opened == MappedInput::Result::kCannotMap) {
      InputFailed(row, kCannotMapMessage, input, outcome);
    } else {
      ScanInput(row, input, mapped, algorithm, any, SearchFieldsOf(preset), *log, outcome);
    }
    log->Close();
  }

  void ScanInput(int row, const std::string& input, const MappedInput& mapped,
                 const TAlgorithm& algorithm, bool any, const SearchFields& fields, LogSink& log,
                 RowOutcome& outcome) {
    RowServices services(table_, row, host_, log);
    // One format serves the row (the Options page is disabled while a run lasts), and the
    // expression is compiled once for every pass; its error is raised at the first string that
    // passes the length tests, never before.
    const std::string format = host_.FormatText();
    const std::unique_ptr<LineMaker> lines =
        host_.CreateLines(algorithm, fields.RegExp, format, host_.WritesLines());
    ScanOptions options;
    options.workers = host_.ScanWorkers();
    TScanContext context = ContextOver(mapped.data(), mapped.size(), services, *lines);
    context.LastEvents = std::chrono::steady_clock::now();
    // What the run found and searched, for the ranking of the keys and for finding a key's
    // strings again.
    auto summary = host_.KeepsSummary() ? std::make_shared<RowSummary>() : nullptr;
    context.Summary = summary.get();
    outcome.summary = summary;
    outcome.search = std::make_shared<RunSearch>(
        RunSearch{input, mapped.stamp(), algorithm, fields, format, context.Width, any});
    const std::u16string& key_text = table_.Text(NxKeyColumn, row);
    try {
      if (any) {
        if (!key_text.empty()) {
          throw ConversionError(Substitute(kAnyKeyMessage, Utf16ToUtf8(key_text)));
        }
        ScanEveryAlgorithm(row, fields, format, context, services, options, outcome);
      } else if (!key_text.empty()) {
        context.SingleKey = true;
        context.Key = KeyOfText(algorithm, Utf16ToCp1251(key_text), Utf16ToUtf8(key_text));
        services.SetKey(context.Key);
        outcome.key = context.Key;
        ScanPass(algorithm, fields, context, options);
      } else {
        context.SingleKey = false;
        services.SetKey(algorithm.FirstKey);
        // A summary without lines ranks only its first keys and its "maybe" band exactly.
        if (summary && !lines->WritesLines() && host_.BoundsKeys()) {
          options.rank_floor = std::make_shared<RankFloor>(kKeyBands.maybe);
        }
        // The one-byte ciphers show key k of 255 as k * 100 / 255, rounded.
        const int keys = algorithm.KeyCount();
        ScanAllKeys(
            algorithm, fields, context,
            [&](int key) {
              services.SetKey(std::min(key + 1, algorithm.LastKey));
              const int done = key - algorithm.FirstKey + 1;
              table_.SetWholeNumber(NxProgressColumn, row, (done * 100 + keys / 2) / keys);
              return !StopIsRequested();
            },
            options);
        if (!StopIsRequested()) table_.SetWholeNumber(NxProgressColumn, row, 100);
      }
    } catch (const InputReadError&) {
      // The file shrank under the mapping: the lines found so far stay in the log.
      outcome.found = context.Found;
      return InputFailed(row, kCannotReadMessage, input, outcome);
    }
    table_.SetWholeNumber(NxImageColumn, row, kStatusDone);
    table_.SetText(NxResultColumn, row, Cp1251ToUtf16(std::to_string(context.Found)));
    table_.SetWholeNumber(NxGotoColumn, row, kLinkOpen);
    outcome.found = context.Found;
    outcome.kind = StopIsRequested() ? RowOutcome::Kind::kStopped : RowOutcome::Kind::kDone;
  }

  // Every keyed algorithm of the table with every key, summarised without lines and ranked
  // together as pairs; the pairs that decode every byte as an earlier pair does are left to the
  // earlier one. The log then holds the lines of the best pair. NONE and NONEW are not tried:
  // the file's own strings are not hidden, and in most files they would rank first.
  void ScanEveryAlgorithm(int row, const SearchFields& fields, const std::string& format,
                          TScanContext& context, RowServices& services, const ScanOptions& options,
                          RowOutcome& outcome) {
    auto pairs =
        std::make_shared<RowSummary>(static_cast<int>(kAlgorithmCount) * RowSummary::kKeys);
    const RowLineMaker no_lines(fields.RegExp, format, false);
    // The algorithms' dense searches follow one another: they share the memory of their runs,
    // and the ranking of the pairs so far, which proves most pairs below the first and the
    // "maybe" band before their strings are scored.
    ScanOptions shared = options;
    shared.dense_runs = std::make_shared<DenseRuns>();
    if (host_.BoundsKeys()) {
      shared.rank_floor = std::make_shared<RankFloor>(kAnyBands.maybe);
    }
    std::set<std::string> maps;  // the width and decode table of every pair so far
    int total = 0;
    for (const TAlgorithm& algorithm : Algorithms) {
      if (!algorithm.Unkeyed()) total += algorithm.KeyCount();
    }
    int done = 0;
    for (size_t a = 0; a < kAlgorithmCount && !StopIsRequested(); ++a) {
      const TAlgorithm& algorithm = Algorithms[a];
      if (algorithm.Unkeyed()) continue;
      const int first = algorithm.FirstKey;
      const int last = algorithm.LastKey;
      std::vector<int> fresh;
      for (int key = first; key <= last; ++key) {
        if (algorithm.Step != 0) {
          fresh.push_back(key);
          continue;
        }
        const DecodeTable table = MakeDecodeTable(algorithm.Decode, key);
        std::string map(table.begin(), table.end());
        map.push_back(static_cast<char>(algorithm.Width));
        if (maps.insert(std::move(map)).second) fresh.push_back(key);
      }
      if (fresh.empty()) {
        done += last - first + 1;
        continue;
      }
      // Only the pairs no algorithm before has searched raise the floor.
      shared.floor_keys.assign(RowSummary::kKeys, false);
      for (int key : fresh) shared.floor_keys[static_cast<size_t>(key)] = true;
      RowSummary part;
      TScanContext pass = context;
      pass.Lines = &no_lines;
      pass.Summary = &part;
      pass.SingleKey = false;
      pass.Found = 0;
      services.SetKey(first);
      ScanAllKeys(
          algorithm, fields, pass,
          [&](int key) {
            services.SetKey(std::min(key + 1, last));
            const int searched = done + key - first + 1;
            table_.SetWholeNumber(NxProgressColumn, row, (searched * 100 + total / 2) / total);
            return !StopIsRequested();
          },
          shared);
      context.LastEvents = pass.LastEvents;
      done += last - first + 1;
      for (int key : fresh) (*pairs)[RowSummary::PairId(static_cast<int>(a), key)] = part[key];
    }
    if (outcome.summary) outcome.summary = pairs;
    context.Summary = nullptr;
    const std::vector<int> ranking = pairs->Ranking();
    if (ranking.empty() || StopIsRequested()) return;
    const int best = ranking.front();
    const TAlgorithm& algorithm = Algorithms[RowSummary::PairAlgorithm(best)];
    context.Key = RowSummary::PairKey(best);
    context.SingleKey = false;
    if (host_.WritesLines()) {
      const std::unique_ptr<LineMaker> pair_lines =
          host_.CreateLines(algorithm, fields.RegExp, format, true);
      context.Lines = pair_lines.get();
      ScanPass(algorithm, fields, context, options);
    } else {
      context.Found = static_cast<int64_t>((*pairs)[best].Count());
    }
  }

  void InputFailed(int row, const char* message, const std::string& input, RowOutcome& outcome) {
    outcome.kind = RowOutcome::Kind::kInputFailed;
    MarkNotRun(table_, row, message);
    host_.ShowInputMessage(message, input);
  }

  TaskTable& table_;
  const PresetList& presets_;
  RunHost& host_;
  std::set<std::string> used_logs_;
};

}  // namespace

RunSearch PairSearch(const RunSearch& search, int pair) {
  if (!search.any) return search;
  RunSearch of_pair = search;
  of_pair.algorithm = Algorithms[static_cast<size_t>(RowSummary::PairAlgorithm(pair))];
  of_pair.any = false;
  return of_pair;
}

std::unique_ptr<LineMaker> RunHost::CreateLines(const TAlgorithm& algorithm,
                                                std::string_view expression,
                                                std::string_view format, bool write_lines) {
  return std::make_unique<RowLineMaker>(expression, format, write_lines);
}

std::string LogPathFor(const std::string& input_path, const std::string& algorithm) {
  return input_path + "_" + algorithm + ".log";
}

void RunAnalysis(TaskTable& table, const PresetList& presets, RunHost& host) {
  table.ResetTaskResults();
  host.SetRunControls(false);
  int current_row = -1;
  // The log and the input were released on the way out; the row the error ended did not run,
  // and the window returns to idle.
  auto end_after_error = [&](const std::string& reason) {
    if (current_row >= 0) MarkNotRun(table, current_row, reason);
    ClearStop();
    host.SetRunControls(true);
  };
  try {
    Run run(table, presets, host);
    const int rows = table.RowCount();
    for (int row = 0; row < rows; ++row) {
      if (!table.Checked(row)) continue;
      current_row = row;
      if (!run.RunRow(row)) break;
    }
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
