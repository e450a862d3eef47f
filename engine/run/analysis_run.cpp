// The row loop, the log naming, the single-key and all-keys passes and the rows' outcomes.
#include "engine/run/analysis_run.h"

#include <set>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/input/fault_guard.h"
#include "engine/input/mapped_input.h"
#include "engine/recovery/key_recovery.h"
#include "engine/run/row_filter.h"
#include "engine/run/row_line_maker.h"
#include "engine/score/key_summary.h"
#include "engine/score/rank_floor.h"
#include "engine/score/score_band.h"
#include "engine/search/dense_search.h"
#include "engine/search/job_runner.h"
#include "engine/search/row_search.h"
#include "text/cp1251.h"
#include "text/error.h"
#include "text/integer_syntax.h"

namespace veskor {
namespace {

// The run's side of the scanner: the log, and the row's progress and pace to the observer.
class RowServices : public ScanServices {
 public:
  RowServices(const RequestRow& row, RunObserver& observer, LogSink& log)
      : row_(row), observer_(observer), log_(log) {}

  void Write(std::string_view bytes) override { log_.Write(bytes); }
  void SetProgress(int percent) override { observer_.RowProgress(row_, percent); }
  void Pace(int64_t lines) override { observer_.Pace(row_, key_, lines); }

  // The key being searched, for the observer's pace.
  void SetKey(int key) { key_ = key; }

 private:
  const RequestRow& row_;
  RunObserver& observer_;
  LogSink& log_;
  int key_ = 0;
};

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

// The keys that the file at `data` gives away, best first, recovered while the row's pace goes on
// (a stop ends the recovery with the keys found so far).
std::vector<XorKey> RecoveredKeys(const uint8_t* data, uint64_t size, RowServices& services) {
  const MappedReads reads = [&](const std::function<void()>& body) {
    if (!ReadMapped(body)) throw InputReadError();
    services.Pace(0);
    return !StopIsRequested();
  };
  std::vector<XorKey> keys;
  for (const KeyCandidate& candidate : RecoverKeys(data, size, {}, reads)) {
    keys.push_back(candidate.key);
  }
  return keys;
}

class Run {
 public:
  Run(const AnalysisRequest& request, RunObserver& observer)
      : request_(request), observer_(observer) {}

  // Returns false when a stop ended the run after this row.
  bool RunRow(const RequestRow& row) {
    observer_.RowStarted(row);
    RowOutcome outcome;
    outcome.row = row.row;
    ScanRow(row, outcome);
    observer_.RowFinished(row, outcome);
    if (StopIsRequested()) {
      ClearStop();
      return false;
    }
    return true;
  }

 private:
  void ScanRow(const RequestRow& row, RowOutcome& outcome) {
    // A row is never scanned with a decoder or preset left over from an earlier row: that
    // would report results of a search the row does not name.
    TAlgorithm algorithm;
    const bool any = row.algorithm == kAnyAlgorithmName;
    if (any) {
      algorithm.Name = row.algorithm;
      algorithm.Family = CipherFamily::kMap;
    } else if (!FindAlgorithm(row.algorithm, algorithm)) {
      outcome.kind = RowOutcome::Kind::kSkipped;
      observer_.Message(row, Substitute(kNoDecoderMessage, Cp1251ToUtf8(row.algorithm)));
      return;
    }
    if (!row.fields) {
      outcome.kind = RowOutcome::Kind::kSkipped;
      observer_.Message(row, Substitute(kNoPresetMessage, Cp1251ToUtf8(row.preset)));
      return;
    }
    const std::string input = observer_.RowInput(request_.input);
    const std::string log_path = UniqueLogPath(used_logs_, input, row.algorithm);
    // The input first: a row that cannot read it must not replace an earlier log with an empty
    // one. The request's own mapping of its input is taken as it is.
    MappedInput own;
    const bool given = request_.mapped != nullptr && input == request_.input;
    const MappedInput& mapped = given ? *request_.mapped : own;
    const MappedInput::Result opened = given ? MappedInput::Result::kOk : own.Open(input);
    outcome.error_number = own.error_number();
    switch (opened) {
      case MappedInput::Result::kOk:
      case MappedInput::Result::kCannotMap:  // 0 bytes: its log is made, empty, as always
        break;
      case MappedInput::Result::kCannotOpen:
        return InputFailed(row, kCannotOpenMessage, input, outcome);
      case MappedInput::Result::kCannotView:
        return InputFailed(row, kCannotReadMessage, input, outcome);
    }
    outcome.log_path = log_path;
    std::unique_ptr<LogSink> log = observer_.OpenLog(row, log_path);
    if (opened == MappedInput::Result::kCannotMap) {
      InputFailed(row, kCannotMapMessage, input, outcome);
    } else {
      ScanInput(row, input, mapped, algorithm, any, *row.fields, *log, outcome);
    }
    log->Close();
  }

  void ScanInput(const RequestRow& row, const std::string& input, const MappedInput& mapped,
                 const TAlgorithm& named, bool any, const SearchFields& fields, LogSink& log,
                 RowOutcome& outcome) {
    RowServices services(row, observer_, log);
    // A row of XORK searches its typed key as place 1, or the keys the file gives away, which an
    // ANY row searches among its pairs.
    TAlgorithm algorithm = named;
    if (named.Repeating && !row.key.empty()) {
      algorithm = WithXorKeys(named, {XorKeyOfText(row.key, row.key_shown, named.Name)});
    } else if (named.Repeating || any) {
      try {
        TAlgorithm xork = named;
        if (any) FindAlgorithm("XORK", xork);
        (any ? any_xork_ : algorithm) =
            WithXorKeys(xork, RecoveredKeys(mapped.data(), mapped.size(), services));
      } catch (const InputReadError&) {
        return InputFailed(row, kCannotReadMessage, input, outcome);
      }
    }
    // One format serves the row, and the expression is compiled once for every pass; its error
    // is raised at the first string that passes the length tests, never before.
    const std::string& format = request_.format;
    const std::unique_ptr<LineMaker> lines =
        observer_.MakeLines(algorithm, format, request_.write_lines);
    const RowFilter filter(fields.RegExp);
    ScanOptions options;
    options.workers = request_.workers > 0 ? request_.workers : DefaultWorkerCount();
    TScanContext context = ContextOver(mapped.data(), mapped.size(), services, *lines, &filter);
    context.LastEvents = std::chrono::steady_clock::now();
    // What the run found and searched, for the ranking of the keys and for finding a key's
    // strings again.
    auto summary = request_.keep_summary ? std::make_shared<RowSummary>() : nullptr;
    context.Summary = summary.get();
    outcome.summary = summary;
    outcome.search = std::make_shared<RunSearch>(RunSearch{input, mapped.stamp(), algorithm, fields,
                                                           format, context.Width, any,
                                                           any ? any_xork_.XorKeys : nullptr});
    try {
      if (any) {
        if (!row.key.empty()) throw ConversionError(Substitute(kAnyKeyMessage, row.key_shown));
        ScanEveryAlgorithm(row, fields, format, context, services, options, outcome);
      } else if (!row.key.empty()) {
        context.SingleKey = true;
        context.Key = algorithm.Repeating ? 1 : KeyOfText(algorithm, row.key, row.key_shown);
        services.SetKey(context.Key);
        outcome.key = context.Key;
        ScanPass(algorithm, fields, context, options);
      } else {
        context.SingleKey = false;
        services.SetKey(algorithm.FirstKey);
        // A summary without lines ranks only its first keys and its "maybe" band exactly.
        if (summary && !lines->WritesLines() && request_.bound_keys) {
          options.rank_floor = std::make_shared<RankFloor>(kKeyBands.maybe);
        }
        // The one-byte ciphers show key k of 255 as k * 100 / 255, rounded.
        const int keys = algorithm.KeyCount();
        ScanAllKeys(
            algorithm, fields, context,
            [&](int key) {
              services.SetKey(std::min(key + 1, algorithm.LastKey));
              const int done = key - algorithm.FirstKey + 1;
              observer_.RowProgress(row, (done * 100 + keys / 2) / keys);
              return !StopIsRequested();
            },
            options);
        if (!StopIsRequested()) observer_.RowProgress(row, 100);
      }
    } catch (const InputReadError&) {
      // The file shrank under the mapping: the lines found so far stay in the log.
      outcome.found = context.Found;
      return InputFailed(row, kCannotReadMessage, input, outcome);
    }
    observer_.RowScanned(row, context.Found);
    outcome.found = context.Found;
    outcome.kind = StopIsRequested() ? RowOutcome::Kind::kStopped : RowOutcome::Kind::kDone;
  }

  // Every keyed algorithm of the table with every key, summarised without lines and ranked
  // together as pairs; the pairs that decode every byte as an earlier pair does are left to the
  // earlier one. The log then holds the lines of the best pair. NONE and NONEW are not tried:
  // the file's own strings are not hidden, and in most files they would rank first.
  void ScanEveryAlgorithm(const RequestRow& row, const SearchFields& fields,
                          const std::string& format, TScanContext& context, RowServices& services,
                          const ScanOptions& options, RowOutcome& outcome) {
    auto pairs =
        std::make_shared<RowSummary>(static_cast<int>(kAlgorithmCount) * RowSummary::kKeys);
    const RowLineMaker no_lines(format, false);
    // The algorithms' dense searches follow one another: they share the memory of their spans,
    // and the ranking of the pairs so far, which proves most pairs below the first and the
    // "maybe" band before their strings are scored.
    ScanOptions shared = options;
    shared.dense_spans = std::make_shared<DenseSpans>();
    if (request_.bound_keys) {
      shared.rank_floor = std::make_shared<RankFloor>(kAnyBands.maybe);
    }
    std::set<std::string> maps;  // the width and decode table of every pair so far
    int total = 0;
    for (const TAlgorithm& algorithm : Algorithms) {
      if (!algorithm.Unkeyed()) total += (algorithm.Repeating ? any_xork_ : algorithm).KeyCount();
    }
    int done = 0;
    for (size_t a = 0; a < kAlgorithmCount && !StopIsRequested(); ++a) {
      const TAlgorithm& algorithm = Algorithms[a].Repeating ? any_xork_ : Algorithms[a];
      if (algorithm.Unkeyed()) continue;
      const int first = algorithm.FirstKey;
      const int last = algorithm.LastKey;
      std::vector<int> fresh;
      for (int key = first; key <= last; ++key) {
        // A running or repeating key decodes no offset as a map of one byte does.
        if (algorithm.Step != 0 || algorithm.Repeating) {
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
            observer_.RowProgress(row, (searched * 100 + total / 2) / total);
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
    const TAlgorithm& paired = Algorithms[static_cast<size_t>(RowSummary::PairAlgorithm(best))];
    const TAlgorithm& algorithm = paired.Repeating ? any_xork_ : paired;
    context.Key = RowSummary::PairKey(best);
    context.SingleKey = false;
    if (request_.write_lines) {
      const std::unique_ptr<LineMaker> pair_lines = observer_.MakeLines(algorithm, format, true);
      context.Lines = pair_lines.get();
      ScanPass(algorithm, fields, context, options);
    } else {
      context.Found = static_cast<int64_t>((*pairs)[best].Count());
    }
  }

  void InputFailed(const RequestRow& row, const char* message, const std::string& input,
                   RowOutcome& outcome) {
    outcome.kind = RowOutcome::Kind::kInputFailed;
    observer_.InputMessage(row, message, input);
  }

  const AnalysisRequest& request_;
  RunObserver& observer_;
  std::set<std::string> used_logs_;
  // Of the ANY row being scanned: XORK with the keys its file gave away.
  TAlgorithm any_xork_;
};

}  // namespace

TAlgorithm KeyAlgorithmOf(const RunSearch& search, int key) {
  if (!search.any) return search.algorithm;
  const TAlgorithm& algorithm = Algorithms[static_cast<size_t>(RowSummary::PairAlgorithm(key))];
  if (!algorithm.Repeating || !search.xor_keys) return algorithm;
  return WithXorKeys(algorithm, search.xor_keys);
}

RunSearch PairSearch(const RunSearch& search, int pair) {
  if (!search.any) return search;
  RunSearch of_pair = search;
  of_pair.algorithm = KeyAlgorithmOf(search, pair);
  of_pair.any = false;
  of_pair.xor_keys = nullptr;
  return of_pair;
}

std::unique_ptr<LogSink> RunObserver::OpenLog(const RequestRow& row, const std::string& path) {
  return std::make_unique<LogFile>(path);
}

std::unique_ptr<LineMaker> RunObserver::MakeLines(const TAlgorithm& algorithm,
                                                  std::string_view format, bool write_lines) {
  return std::make_unique<RowLineMaker>(format, write_lines);
}

std::string LogPathFor(const std::string& input_path, const std::string& algorithm) {
  return input_path + "_" + algorithm + ".log";
}

void RunRequest(const AnalysisRequest& request, RunObserver& observer) {
  try {
    Run run(request, observer);
    for (const RequestRow& row : request.rows) {
      if (!run.RunRow(row)) break;
    }
  } catch (...) {
    // The log and the input were released on the way out; the next run starts unstopped.
    ClearStop();
    throw;
  }
}

}  // namespace veskor
