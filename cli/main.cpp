// veskor-scan: the analysis of the window's "Analyze" button, from the command line.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "cli/batch_files.h"
#include "cli/cli_host.h"
#include "cli/done_files.h"
#include "cli/file_output.h"
#include "cli/json_records.h"
#include "cli/options.h"
#include "cli/record_options.h"
#include "cli/terminal_text.h"
#include "cli/yara_rules.h"
#include "engine/decoding/algorithms.h"
#include "engine/results/file_hash.h"
#include "engine/results/summary_table.h"
#include "engine/run/mapped_input.h"
#include "engine/run/program_files.h"
#include "engine/score/key_summary.h"
#include "engine/search/job_runner.h"
#include "engine/search/scan_context.h"
#include "files/file_operation_error.h"
#include "files/io_error.h"
#include "presets/preset.h"
#include "presets/preset_list.h"
#include "report/report_format.h"
#include "tasks/table_file.h"
#include "tasks/task_table.h"
#include "text/cp1251.h"
#include "text/integer_syntax.h"

namespace veskor {
namespace {

constexpr const char* kCommandLinePreset = "command line";

// Ctrl-C, a terminal hung up, `kill` or `timeout`, and a reader gone: the row ends as after Stop,
// its log in place with the lines so far; dying instead would leave its temporary file behind.
// The batch ends after the file it stopped.
// Read by the workers of a batch scanned side by side: an atomic, lock-free and so safe to set in
// the handler.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);
// The signal that stopped the batch, whose name is the stopped file's reason.
std::atomic<int> interrupting_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnInterrupt(int signal_number) {
  const int saved_errno = errno;
  interrupting_signal.store(signal_number);
  interrupted.store(true);
  StopRequested.store(true, std::memory_order_relaxed);
  errno = saved_errno;
}

void HandleStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    // A signal the caller ignores (nohup, a background job of a script) stays ignored.
    struct sigaction old {};
    if (::sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
      ::sigaction(signal_number, &action, nullptr);
    }
  }
}

// One line per row, the eight cells quoted as in the table file, UTF-8, ended by LF.
void ListRows(const TaskTable& table) {
  for (int row = 0; row < table.RowCount(); ++row) {
    std::printf("%s\n", Utf16ToUtf8(TableLine(table, row, u',')).c_str());
  }
}

// One row and one preset from --algo, --key and the preset options.
void SingleTask(const CliOptions& options, TaskTable& table, PresetList& presets) {
  std::string preset_name = kCommandLinePreset;
  if (options.preset) {
    // The first preset of that name in the presets file; the run says so when there is none.
    table.AddTaskRow(true, kStatusNone, *options.algorithm, *options.preset,
                     options.key.value_or(""), 0, "0", kLinkNone);
    return;
  }
  TPreset preset = NewPreset();
  SetShortString(preset.Name, preset_name);
  SetShortString(preset.Alphabet, options.alphabet.value_or(""));
  SetShortString(preset.RegExp, options.regexp.value_or(""));
  preset.MinLength = static_cast<uint8_t>(options.min_length);
  preset.MaxLength = static_cast<uint8_t>(options.max_length);
  presets.Append(preset);
  table.AddTaskRow(true, kStatusNone, *options.algorithm, preset_name, options.key.value_or(""), 0,
                   "0", kLinkNone);
}

// An error's message for standard error, after the file it concerns when there is one.
std::string ErrorText(const std::exception& e) {
  if (const auto* error = dynamic_cast<const Error*>(&e)) {
    return MessageAbout(error->file(), error->what());
  }
  return EscapeForTerminal(e.what());
}

// Appends the names of --files-from's list, read as a stream; a list that cannot be read, or
// that holds a line no path can be, is a wrong command line.
void ReadListedNames(const std::string& list, bool null_separated,
                     std::vector<std::string>& names) {
  std::ifstream file;
  if (list != "-") {
    file.open(list, std::ios::binary);
    if (!file) throw UsageError("--files-from: cannot read " + list);
  }
  switch (ReadNameList(list == "-" ? std::cin : file, null_separated, names)) {
    case NameList::kRead:
      return;
    case NameList::kTooLong:
      throw UsageError("--files-from: a line longer than " + std::to_string(PATH_MAX) +
                       " bytes, which no file name can be");
    case NameList::kCannotRead:
      throw UsageError(list == "-" ? std::string("--files-from: cannot read standard input")
                                   : "--files-from: cannot read " + list);
  }
}

// The SHA-256 of the files --skip-done passes over: those done under `options`. A file that
// cannot be read is a wrong command line, as a list that cannot be.
std::unordered_set<std::string> ReadDoneHashes(const std::string& path,
                                               const std::string& options) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError("--skip-done: cannot read " + path);
  std::unordered_set<std::string> done = DoneHashes(in, options);
  if (in.bad()) throw UsageError("--skip-done: cannot read " + path);
  return done;
}

// The system's text for an errno value, or none for 0.
std::string ReasonOf(int error_number) {
  return error_number != 0 ? SystemErrorText(error_number) : std::string();
}

// The reason of an error that ended a file's run: the errno of an I/O error, where it has one.
std::string ReasonOf(const std::exception& e) {
  const auto* io = dynamic_cast<const IoError*>(&e);
  return io != nullptr ? ReasonOf(io->error_number()) : std::string();
}

// The files of one command line, each run as a single run of its own would run it.
class Batch {
 public:
  // `record_options` names what shapes the records (RecordOptions), for every file record.
  // `several`: the batch has more than one file, whose per-task lines and tables then name it.
  Batch(const CliOptions& options, const TaskTable& table, const PresetList& presets,
        std::string format, std::string record_options, std::unordered_set<std::string> done,
        bool several)
      : options_(options),
        table_(table),
        presets_(presets),
        format_(std::move(format)),
        record_options_(std::move(record_options)),
        done_(std::move(done)),
        several_(several) {
    for (int row = 0; row < table_.RowCount(); ++row) checked_rows_ += table_.Checked(row) ? 1 : 0;
  }

  // Scans one entry with `jobs` workers (0: every core), its output to `out`. False when the
  // batch ends here: a stop, or standard output gone.
  bool Scan(const BatchEntry& entry, FileOutput& out, int jobs) {
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

  bool failed() const { return failed_.load(); }

 private:
  bool Run(const std::string& path, std::chrono::steady_clock::time_point start, FileOutcome& file,
           FileOutput& out, int jobs) {
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
    MappedInput mapped;
    FileStamp before;
    if (options_.json || options_.yara || options_.skip_done) {
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
      const auto in_time = [&] {
        return !interrupted && !(deadline && std::chrono::steady_clock::now() >= *deadline);
      };
      const std::optional<std::string> hash = Sha256Hex(mapped.data(), mapped.size(), in_time);
      if (!hash && interrupted) {
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
    } else {
      before = StampOf(path);
    }
    const CliHost::Output output = options_.summary     ? CliHost::Output::kSummary
                                   : options_.to_stdout ? CliHost::Output::kStdout
                                   : options_.json      ? CliHost::Output::kStdout
                                                        : CliHost::Output::kLogs;
    // The run marks its rows in a table of its own, so that files may run side by side.
    TaskTable table = table_;
    CliHost host(table, path, format_, output, jobs, out, options_.json);
    if (several_) host.NameFileInRowLines();
    table.SetObserver(&host);
    if (deadline) host.SetDeadline(*deadline);
    bool ended_by_error = false;
    try {
      RunAnalysis(table, presets_, host);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      host.PrintLine(ErrorText(e));
      file.message = e.what();
      file.reason = ReasonOf(e);
      ended_by_error = true;
    }
    table.SetObserver(nullptr);
    const std::vector<RowOutcome>& rows = host.outcomes();
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
    // A stop or the deadline cut the file short: a row stopped, or rows after it never ran. A
    // stop that came once every row had ended cut nothing.
    const bool cut_short = rows.size() < checked_rows_ ||
                           std::any_of(rows.begin(), rows.end(), [](const RowOutcome& row) {
                             return row.kind == RowOutcome::Kind::kStopped;
                           });
    if (!ended_by_error && file.message.empty()) file.message = host.first_message();
    if (!ended_by_error && input_failed) file.reason = ReasonOf(failed_row->error_number);
    if (ended_by_error || input_failed) {
      file.status = "error";
    } else if (cut_short && host.TimedOut() && !interrupted) {
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
    if (ended_by_error) return !interrupted;
    if (!finished || changed) return !interrupted;
    bool written = true;
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
    return written && !interrupted;
  }

  // The name of the signal that stopped the batch ("Interrupt", "Terminated", ...).
  static std::string SignalReason() {
    const int signal_number = interrupting_signal.load();
    return signal_number != 0 ? std::string(::strsignal(signal_number)) : std::string();
  }

  const CliOptions& options_;
  const TaskTable& table_;
  const PresetList& presets_;
  std::string format_;
  std::string record_options_;
  size_t checked_rows_ = 0;               // the rows a run visits when nothing stops it
  std::unordered_set<std::string> done_;  // the SHA-256 of files --skip-done passes over
  std::atomic<bool> failed_{false};
  std::set<std::string> rule_names_;  // of the whole batch, named in its order
  const bool several_;
};

// Files scanned side by side, each by one worker on one thread, for batches of many files: a
// small file keeps a worker busy for less time than the split of its pass across workers costs.
// Once the walk has ended, the last files split their passes over the workers left idle. The
// files' output follows in the batch's order (OrderedOutput).
class SideBySide {
 public:
  SideBySide(Batch& batch, int workers) : batch_(batch), workers_(static_cast<size_t>(workers)) {
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~SideBySide() { Finish(); }

  // Queues the entry, waiting while every worker has one waiting; false once the batch ends.
  bool Add(const BatchEntry& entry) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return queue_.size() < workers_ || ended_; });
    if (ended_ || interrupted) return false;
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
          go_on = batch_.Scan(job.entry, *job.output, jobs);
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

  Batch& batch_;
  const size_t workers_;
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

// A wrong command line: its message and the usage on standard error, exit status 2.
int UsageFailure(const UsageError& e) {
  std::fprintf(stderr, "veskor-scan: %s\n%s", EscapeForTerminal(e.what()).c_str(), kUsage);
  return 2;
}

int Main(const std::vector<std::string>& arguments) {
  CliOptions options;
  std::vector<std::string> names;
  std::unordered_set<std::string> done;
  try {
    options = ParseCommandLine(arguments);
    if (!options.help && !options.list) {
      names = options.files;
      if (options.files_from) ReadListedNames(*options.files_from, options.null_separated, names);
    }
  } catch (const UsageError& e) {
    return UsageFailure(e);
  }
  if (options.help) {
    std::printf("%s%s", kUsage, kHelp);
    return 0;
  }
  FillAlgorithms();
  TaskTable table;
  PresetList presets;
  // The files are read from the folder the window would use, as its start-up reads them, and
  // never written.
  ProgramFiles files(options.dir ? *options.dir : ExecutableDir(), /*read_only=*/true);
  std::string format;
  try {
    if (!options.algorithm || options.preset) files.LoadPresets(presets);
    if (options.algorithm) {
      SingleTask(options, table, presets);
    } else {
      files.LoadTable(table, presets);
    }
    format = options.format ? *options.format : files.LoadFormat();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
    return 1;
  }
  if (options.list) {
    ListRows(table);
    return 0;
  }
  std::string record_options = RecordOptions(options, table, presets, format);
  try {
    // Only the files done under these very options are passed over.
    if (options.skip_done) done = ReadDoneHashes(*options.skip_done, record_options);
  } catch (const UsageError& e) {
    return UsageFailure(e);
  }
  HandleStopSignals();
  // More than one name, or a folder walked: the files' lines and tables say which is which.
  struct stat first {};
  const bool several =
      names.size() > 1 || (names.size() == 1 && options.recursive &&
                           ::stat(names[0].c_str(), &first) == 0 && S_ISDIR(first.st_mode));
  Batch batch(options, table, presets, format, std::move(record_options), std::move(done), several);
  DirectOutput direct;
  // One file to scan has every worker; a second one sends the batch side by side.
  const int workers = options.jobs > 0 ? options.jobs : DefaultWorkerCount();
  std::vector<BatchEntry> pending;
  int scans = 0;
  std::optional<SideBySide> side;
  WalkBatch(names, options.recursive, [&](const BatchEntry& entry) {
    if (workers == 1) return batch.Scan(entry, direct, options.jobs);
    if (side) return side->Add(entry);
    pending.push_back(entry);
    if (entry.kind == BatchEntry::Kind::kScan) ++scans;
    if (scans < 2) return true;
    side.emplace(batch, workers);
    for (const BatchEntry& waiting : pending) {
      if (!side->Add(waiting)) return false;
    }
    return true;
  });
  if (side) {
    side->Finish();
  } else {
    for (const BatchEntry& entry : pending) {
      if (!batch.Scan(entry, direct, options.jobs)) break;
    }
  }
  return batch.failed() || interrupted ? 1 : 0;
}

}  // namespace
}  // namespace veskor

int main(int argc, char** argv) {
  try {
    return veskor::Main(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::bad_alloc&) {
    // Whatever ran out of memory, the run ends with a message instead of an abort.
    std::fputs("veskor-scan: out of memory\n", stderr);
    return 1;
  }
}
