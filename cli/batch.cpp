// The files of a batch: each file's run and records, and the workers that scan files side by
// side.
#include "cli/batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "cli/cli_host.h"
#include "cli/done_files.h"
#include "cli/terminal_text.h"
#include "cli/yara_rules.h"
#include "engine/export/summary_table.h"
#include "engine/input/file_hash.h"
#include "engine/input/mapped_input.h"
#include "engine/run/analysis_run.h"
#include "engine/search/scan_context.h"
#include "engine/search/scan_input.h"
#include "files/file_operation_error.h"
#include "files/io_error.h"

namespace veskor {
namespace {

// The system's text for an errno value, or none for 0.
std::string ReasonOf(int error_number) {
  return error_number != 0 ? SystemErrorText(error_number) : std::string();
}

// The reason of an error that ended a file's run: the errno of an I/O error, where it has one.
std::string ReasonOf(const std::exception& e) {
  const auto* io = dynamic_cast<const IoError*>(&e);
  return io != nullptr ? ReasonOf(io->error_number()) : std::string();
}

// Files scanned side by side, each by one worker on one thread, for batches of many files: a
// small file keeps a worker busy for less time than the split of its pass across workers costs.
// Once the walk has ended, the last files split their passes over the workers left idle. The
// files' output follows in the batch's order (OrderedOutput).
class SideBySide {
 public:
  SideBySide(const ScanEntry& scan, int workers, const std::atomic<bool>& stop)
      : scan_(scan), workers_(static_cast<size_t>(workers)), stop_(stop) {
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~SideBySide() { Finish(); }

  // Queues the entry, waiting while every worker has one waiting; false once the batch ends.
  bool Add(const BatchEntry& entry) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return queue_.size() < workers_ || ended_; });
    if (ended_ || stop_) return false;
    queue_.push_back({entry, &output_.Open()});
    work_.notify_one();
    return true;
  }

  // Waits for the queued files; rethrows a worker's lack of memory.
  void Finish() {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    work_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    if (out_of_memory_.exchange(false)) throw std::bad_alloc();
  }

 private:
  struct Job {
    BatchEntry entry;
    FileOutput* output;
  };

  void Work() {
    // A file's deadline stops that file alone; a signal reaches it through its host.
    std::atomic<bool> stop{false};
    StopScope scope(stop);
    for (;;) {
      Job job;
      bool ended;
      int jobs = 1;
      {
        std::unique_lock lock(mutex_);
        work_.wait(lock, [&] { return !queue_.empty() || closing_; });
        if (queue_.empty()) return;
        job = std::move(queue_.front());
        queue_.pop_front();
        ended = ended_;
        // The batch's last files take the workers that have nothing left to do.
        if (closing_ && queue_.empty()) jobs = static_cast<int>(workers_ - busy_);
        ++busy_;
      }
      room_.notify_one();
      bool go_on = false;
      if (!ended) {
        stop.store(false);
        try {
          go_on = scan_(job.entry, *job.output, jobs);
        } catch (const std::bad_alloc&) {
          out_of_memory_ = true;
        }
      }
      // A file that ends the batch is its last: files after it, still running, are not reported,
      // as they would not have been scanned one after another.
      output_.Finish(*job.output, !go_on && !ended);
      std::lock_guard lock(mutex_);
      --busy_;
      if (!go_on && !ended) {
        ended_ = true;
        room_.notify_all();
      }
    }
  }

  const ScanEntry& scan_;
  const size_t workers_;
  const std::atomic<bool>& stop_;
  OrderedOutput output_;
  std::mutex mutex_;
  std::condition_variable work_;  // a job queued, or the batch closing
  std::condition_variable room_;  // a job taken, or the batch ended
  std::deque<Job> queue_;
  bool closing_ = false;
  bool ended_ = false;  // a stop or standard output gone: queued files are dropped
  size_t busy_ = 0;     // workers scanning a file
  std::atomic<bool> out_of_memory_{false};
  std::vector<std::thread> threads_;
};

// A carved file's line on standard error: "PE at 4096, 70656 bytes, XOR8 key 90 -> PATH".
std::string CarvedLine(const FileCarver::Written& w) {
  return std::string(FormatName(w.found.format)) + " at " + std::to_string(w.found.offset) + ", " +
         std::to_string(w.found.size) + " bytes" + (w.found.truncated ? " (truncated)" : "") +
         ", " + w.found.pair.algorithm + " key " + KeyTextOf(w.found.pair) + " -> " +
         EscapeForTerminal(w.file.path);
}

}  // namespace

Batch::Batch(const CliOptions& options, AnalysisRequest request, std::string record_options,
             std::unordered_set<std::string> done, bool several, const Interruption& interruption)
    : options_(options),
      request_(std::move(request)),
      record_options_(std::move(record_options)),
      done_(std::move(done)),
      several_(several),
      interruption_(interruption) {
  // Only a record names a carved file's SHA-256: a line on standard error does not.
  if (options_.carve_dir) carver_.emplace(*options_.carve_dir, request_.rows, options_.json);
}

bool Batch::Scan(const BatchEntry& entry, FileOutput& out, int jobs) {
  const auto start = std::chrono::steady_clock::now();
  FileOutcome file;
  file.size = entry.size;
  file.options = record_options_;
  bool go_on = true;
  if (entry.kind != BatchEntry::Kind::kScan) {
    file.status = entry.kind == BatchEntry::Kind::kSkipped ? "skipped" : "error";
    file.message = entry.message;
    file.reason = entry.reason;
    out.Err(MessageAbout(entry.path, entry.message));
  } else {
    go_on = Run(entry.path, start, file, out, jobs);
  }
  if (std::strcmp(file.status, "done") != 0 && std::strcmp(file.status, "skipped") != 0) {
    failed_.store(true);
  }
  if (!options_.json) return go_on;
  file.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return out.Out(FileRecord(entry.path, file)) && go_on;
}

bool Batch::Run(const std::string& path, std::chrono::steady_clock::time_point start,
                FileOutcome& file, FileOutput& out, int jobs) {
  auto refuse = [&](const char* status, const char* message, int error_number = 0) {
    file.status = status;
    file.message = message;
    file.reason = ReasonOf(error_number);
    out.Err(MessageAbout(path, message));
    return true;
  };
  if (options_.max_size) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) file.size = static_cast<uint64_t>(info.st_size);
    if (file.size > *options_.max_size) return refuse("skipped", kTooLargeMessage);
  }
  // The deadline covers the whole file: its hash as well as its tasks.
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (options_.timeout) {
    deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(*options_.timeout));
  }
  // A record names the content by the bytes the run reads: the same mapping, kept open through
  // the run. Its stamp, taken before the hash, is what the file must still be after the scan.
  // Carving reads the mapping the rows scan, and names its files by the hash of its bytes, which
  // only a find needs.
  MappedInput mapped;
  FileStamp before;
  const bool hashed = options_.json || options_.yara || options_.skip_done;
  const auto in_time = [&] {
    return !interruption_.interrupted &&
           !(deadline && std::chrono::steady_clock::now() >= *deadline);
  };
  if (hashed || carver_) {
    switch (mapped.Open(path)) {
      case MappedInput::Result::kOk:
        break;
      case MappedInput::Result::kCannotOpen:
        return refuse("error", kCannotOpenMessage, mapped.error_number());
      case MappedInput::Result::kCannotMap:
        return refuse("error", kCannotMapMessage, mapped.error_number());
      case MappedInput::Result::kCannotView:
        return refuse("error", kCannotReadMessage, mapped.error_number());
    }
    before = mapped.stamp();
    file.size = mapped.size();
  } else {
    before = StampOf(path);
  }
  if (hashed) {
    const std::optional<std::string> hash = Sha256Hex(mapped.data(), mapped.size(), in_time);
    if (!hash && interruption_.interrupted) {
      refuse("error", kStoppedMessage);
      file.reason = SignalReason();
      return false;
    }
    if (!hash && !in_time()) {
      // As a timeout of the tasks: said on standard error, no message in the record.
      refuse("timeout", kTimeoutMessage);
      file.message.clear();
      return true;
    }
    if (!hash) return refuse("error", kCannotReadMessage);
    file.sha256 = *hash;
    if (done_.count(file.sha256) != 0) return refuse("skipped", kDoneBeforeMessage);
  }
  const CliHost::Output output = options_.summary     ? CliHost::Output::kSummary
                                 : options_.to_stdout ? CliHost::Output::kStdout
                                 : options_.json      ? CliHost::Output::kStdout
                                                      : CliHost::Output::kLogs;
  // The file's own request, so that files may run side by side; the rows scan the mapping that
  // was hashed, when there is one.
  AnalysisRequest request = request_;
  request.input = path;
  if (mapped.data() != nullptr) request.mapped = &mapped;
  request.workers = jobs;
  CliHost host(path, output, out, options_.json);
  if (several_) host.NameFileInRowLines();
  if (deadline) host.SetDeadline(*deadline);
  bool ended_by_error = false;
  try {
    RunRequest(request, host);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    host.PrintLine(ErrorText(e));
    file.message = e.what();
    file.reason = ReasonOf(e);
    ended_by_error = true;
  }
  const std::vector<RowOutcome>& rows = host.outcomes();
  // A file whose rows all ended has its hidden executables written, under the same deadline.
  FileCarver::Outcome carved;
  bool carve_failed = false;
  if (carver_ && !ended_by_error && rows.size() == request_.rows.size() &&
      std::all_of(rows.begin(), rows.end(), [](const RowOutcome& row) {
        return row.kind == RowOutcome::Kind::kDone || row.kind == RowOutcome::Kind::kSkipped;
      })) {
    // Asked on a thread of the carver's own: it reads only what stays as it is meanwhile, and the
    // stop and the deadline, which are atomic or fixed.
    const auto host_sha256 = [&]() -> std::optional<std::string> {
      if (!file.sha256.empty()) return file.sha256;
      return Sha256Hex(mapped.data(), mapped.size(), in_time);
    };
    try {
      carver_->Carve(mapped, rows, host_sha256, in_time, carved);
    } catch (const InputReadError&) {
      carve_failed = true;
      host.PrintLine(MessageAbout(path, kCannotReadMessage));
      file.message = kCannotReadMessage;
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      // A carved file that cannot be written (a full disk): the file's error; those written
      // stay, and the batch goes on.
      carve_failed = true;
      host.PrintLine(ErrorText(e));
      file.message = e.what();
      file.reason = ReasonOf(e);
    }
  }
  // The rows' own mappings, and the file after the last of them, against the stamp before the
  // hash (or the run): a write meanwhile makes records of no one content.
  bool changed = false;
  if (before != FileStamp{}) {
    changed = StampOf(path) != before;
    for (const RowOutcome& row : rows) {
      if (row.search && row.search->stamp != before) changed = true;
    }
  }
  const auto failed_row = std::find_if(rows.begin(), rows.end(), [](const RowOutcome& row) {
    return row.kind == RowOutcome::Kind::kInputFailed;
  });
  const bool input_failed = failed_row != rows.end();
  // A stop or the deadline cut the file short: a row stopped, rows after it never ran, or the
  // carving stopped. A stop that came once every row had ended cut nothing.
  const bool cut_short = !carved.complete || rows.size() < request_.rows.size() ||
                         std::any_of(rows.begin(), rows.end(), [](const RowOutcome& row) {
                           return row.kind == RowOutcome::Kind::kStopped;
                         });
  if (!ended_by_error && file.message.empty()) file.message = host.first_message();
  if (!ended_by_error && input_failed) file.reason = ReasonOf(failed_row->error_number);
  if (ended_by_error || input_failed || carve_failed) {
    file.status = "error";
  } else if (cut_short && (host.TimedOut() || !carved.complete) && !interruption_.interrupted) {
    // A file stopped at its deadline alone is one the batch goes on from.
    file.status = "timeout";
    host.PrintLine(MessageAbout(path, kTimeoutMessage));
  } else if (cut_short) {
    // A signal's stop ends the batch.
    file.status = "error";
    if (file.message.empty()) {
      file.message = kStoppedMessage;
      file.reason = SignalReason();
    }
  } else if (changed) {
    file.status = "changed";
    file.message = kChangedMessage;
    host.PrintLine(MessageAbout(path, kChangedMessage));
  } else {
    // A row skipped for want of a decoder or preset, with its message, makes an error too.
    file.status = host.AllCompleted() ? "done" : "error";
  }
  // What did not finish prints no ranking and no rule: a part of the file's records would read
  // as all of them. A row skipped for want of a decoder or preset never began.
  const bool finished = !ended_by_error && !input_failed && !cut_short;
  if (changed) {
    // Bytes of no one content, named by a hash of other bytes: no carved file of it stays.
    for (const FileCarver::Written& w : carved.written) ::unlink(w.file.path.c_str());
    carved.written.clear();
  }
  // Each carved file is whole on disk, whatever became of the rest: it is always told.
  bool written = WriteCarved(path, carved.written, host, out);
  if (ended_by_error) return !interruption_.interrupted;
  if (!finished || changed) return written && !interruption_.interrupted;
  if (options_.summary && options_.json) {
    written = out.Out(KeyRecords(path, rows, options_.top));
  } else if (options_.summary && !options_.yara) {
    // Tables one after another say whose they are, as head and tail name their files.
    written = out.Out((several_ ? "==> " + EscapeForTerminal(path) + " <==\n" : std::string()) +
                      SummaryTable(rows));
  }
  if (options_.yara && written) {
    const std::string_view bytes(reinterpret_cast<const char*>(mapped.data()), mapped.size());
    // Named in the batch's order, when the rules of the files before are written.
    auto rules = std::make_shared<std::vector<FileRule>>(FileRules(rows, file.sha256, bytes));
    written = out.OutInTurn([this, rules, path] {
      NameApart(*rules, rule_names_);
      std::string text;
      for (const FileRule& rule : *rules)
        text += options_.json ? RuleRecord(path, rule) : rule.text;
      return text;
    });
  }
  return written && !interruption_.interrupted;
}

bool Batch::WriteCarved(const std::string& path, const std::vector<FileCarver::Written>& carved,
                        CliHost& host, FileOutput& out) const {
  if (options_.json) {
    std::string records;
    for (const FileCarver::Written& w : carved) records += EmbeddedRecord(path, w.found, w.file);
    return records.empty() || out.Out(records);
  }
  for (const FileCarver::Written& w : carved) {
    host.PrintLine((several_ ? EscapeForTerminal(path) + ": " : std::string()) + CarvedLine(w));
  }
  return true;
}

std::string Batch::SignalReason() const {
  const int signal_number = interruption_.signal.load();
  return signal_number != 0 ? std::string(::strsignal(signal_number)) : std::string();
}

void ScanBatch(const WalkEntries& walk, int workers, int jobs, const ScanEntry& scan,
               const std::atomic<bool>& stop) {
  DirectOutput direct;
  // One file to scan has every worker; a second one sends the batch side by side.
  std::vector<BatchEntry> pending;
  int scans = 0;
  std::optional<SideBySide> side;
  walk([&](const BatchEntry& entry) {
    if (workers == 1) return scan(entry, direct, jobs);
    if (side) return side->Add(entry);
    pending.push_back(entry);
    if (entry.kind == BatchEntry::Kind::kScan) ++scans;
    if (scans < 2) return true;
    side.emplace(scan, workers, stop);
    for (const BatchEntry& waiting : pending) {
      if (!side->Add(waiting)) return false;
    }
    return true;
  });
  if (side) {
    side->Finish();
  } else {
    for (const BatchEntry& entry : pending) {
      if (!scan(entry, direct, jobs)) break;
    }
  }
}

}  // namespace veskor
