// The files of one command line, scanned as the runner scans them: each file's run and records
// (Batch), and the files one after another or side by side with their output in the batch's
// order (ScanBatch).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>

#include "cli/batch_files.h"
#include "cli/file_carver.h"
#include "cli/file_output.h"
#include "cli/json_records.h"
#include "cli/options.h"
#include "engine/run/analysis_request.h"

namespace veskor {

class CliHost;

// What a signal leaves for the batch: set by the handler (both are lock-free atomics, safe to
// set there), read by the workers of files scanned side by side.
struct Interruption {
  std::atomic<bool> interrupted{false};
  std::atomic<int> signal{0};  // the signal's number, whose name is the stopped file's reason
};

// Each file of a command line run as a single run of its own would run it.
class Batch {
 public:
  // `request` holds the rows, the format and what the output needs of them; its input is set
  // per file. `record_options` names what shapes the records (RecordOptions), for every file
  // record. `done`: the SHA-256 of the files --skip-done passes over. `several`: the batch has
  // more than one file, whose per-task lines and tables then name it.
  Batch(const CliOptions& options, AnalysisRequest request, std::string record_options,
        std::unordered_set<std::string> done, bool several, const Interruption& interruption);

  // Scans one entry with `jobs` workers (0: every core), its output to `out`. False when the
  // batch ends here: a stop, or standard output gone.
  bool Scan(const BatchEntry& entry, FileOutput& out, int jobs);

  // True once some file ended in an error or a timeout.
  bool failed() const { return failed_.load(); }

 private:
  bool Run(const std::string& path, std::chrono::steady_clock::time_point start, FileOutcome& file,
           FileOutput& out, int jobs);
  // The records (--json) or lines of the carved files; false when standard output is gone.
  bool WriteCarved(const std::string& path, const std::vector<FileCarver::Written>& carved,
                   CliHost& host, FileOutput& out) const;
  // The name of the signal that stopped the batch ("Interrupt", "Terminated", ...).
  std::string SignalReason() const;

  const CliOptions& options_;
  const AnalysisRequest request_;
  const std::string record_options_;
  const std::unordered_set<std::string> done_;
  const bool several_;
  const Interruption& interruption_;
  std::atomic<bool> failed_{false};
  std::set<std::string> rule_names_;  // of the whole batch, named in its order
  std::optional<FileCarver> carver_;  // with --carve: the tasks' finders, shared by every file
};

// Scans an entry with `jobs` search workers (0: every core), its output to `out`; false when the
// batch ends with it. Batch::Scan, or a test's own.
using ScanEntry = std::function<bool(const BatchEntry& entry, FileOutput& out, int jobs)>;
// Hands the batch's entries in order to `visit`, until it answers false (WalkBatch, or a test's).
using WalkEntries = std::function<void(const std::function<bool(const BatchEntry&)>& visit)>;

// Scans the entries `walk` hands on. With `workers` 1, one after another on this thread, each
// with `jobs` search workers, writing at once. Otherwise, once a second entry to scan comes, side
// by side, one file to a worker thread (a small file keeps a worker busy for less time than the
// split of its pass across workers costs); the last files take the workers left idle. The output
// follows in the batch's order whatever order the files end in. A file whose scan answers false
// ends the batch there: the files after it are not scanned, or not reported when they already
// were; so does `stop` (a signal) before a file is queued. Rethrows a scan's lack of memory.
void ScanBatch(const WalkEntries& walk, int workers, int jobs, const ScanEntry& scan,
               const std::atomic<bool>& stop);

}  // namespace veskor
