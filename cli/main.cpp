// veskor-scan: the analysis of the window's "Analyze" button, from the command line.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <new>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "cli/batch_files.h"
#include "cli/cli_host.h"
#include "cli/done_files.h"
#include "cli/file_hash.h"
#include "cli/json_records.h"
#include "cli/options.h"
#include "cli/summary_table.h"
#include "cli/terminal_text.h"
#include "cli/yara_rules.h"
#include "engine/decoding/algorithms.h"
#include "engine/run/mapped_input.h"
#include "engine/run/program_files.h"
#include "engine/score/key_summary.h"
#include "engine/search/scan_context.h"
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
volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
  interrupted = 1;
  RequestStop();
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

// Writes to standard output whole; false when it cannot (the reader is gone).
bool WriteOut(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The names of --files-from's list; a list that cannot be read is a wrong command line.
std::vector<std::string> ReadNameList(const std::string& list, bool null_separated) {
  std::string bytes;
  if (list == "-") {
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (std::cin.bad()) throw UsageError("--files-from: cannot read standard input");
  } else {
    std::ifstream in(list, std::ios::binary);
    if (!in) throw UsageError("--files-from: cannot read " + list);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) throw UsageError("--files-from: cannot read " + list);
  }
  return SplitNameList(bytes, null_separated);
}

// The SHA-256 of the files --skip-done passes over; a file that cannot be read is a wrong command
// line, as a list that cannot be.
std::unordered_set<std::string> ReadDoneHashes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError("--skip-done: cannot read " + path);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw UsageError("--skip-done: cannot read " + path);
  return DoneHashes(bytes);
}

// The files of one command line, each run as a single run of its own would run it.
class Batch {
 public:
  Batch(const CliOptions& options, TaskTable& table, const PresetList& presets, std::string format,
        std::unordered_set<std::string> done)
      : options_(options),
        table_(table),
        presets_(presets),
        format_(std::move(format)),
        done_(std::move(done)) {}

  // False when the batch ends here: a stop, or standard output gone.
  bool Scan(const BatchEntry& entry) {
    const auto start = std::chrono::steady_clock::now();
    FileOutcome file;
    file.size = entry.size;
    bool go_on = true;
    if (entry.kind != BatchEntry::Kind::kScan) {
      file.status = entry.kind == BatchEntry::Kind::kSkipped ? "skipped" : "error";
      file.message = entry.message;
      std::fprintf(stderr, "%s\n", MessageAbout(entry.path, entry.message).c_str());
    } else {
      go_on = Run(entry.path, file);
    }
    if (std::strcmp(file.status, "error") == 0 || std::strcmp(file.status, "timeout") == 0) {
      failed_ = true;
    }
    if (!options_.json) return go_on;
    file.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return WriteOut(FileRecord(entry.path, file)) && go_on;
  }

  bool failed() const { return failed_; }

 private:
  bool Run(const std::string& path, FileOutcome& file) {
    auto refuse = [&](const char* status, const char* message) {
      file.status = status;
      file.message = message;
      std::fprintf(stderr, "%s\n", MessageAbout(path, message).c_str());
      return true;
    };
    if (options_.max_size) {
      struct stat info {};
      if (::stat(path.c_str(), &info) == 0) file.size = static_cast<uint64_t>(info.st_size);
      if (file.size > *options_.max_size) return refuse("skipped", kTooLargeMessage);
    }
    // A record names the content by the bytes the run reads: the same mapping, kept open through
    // the run, whose stamp the run's own must match.
    MappedInput mapped;
    if (options_.json || options_.yara || options_.skip_done) {
      switch (mapped.Open(path)) {
        case MappedInput::Result::kOk:
          break;
        case MappedInput::Result::kCannotOpen:
          return refuse("error", kCannotOpenMessage);
        case MappedInput::Result::kCannotMap:
          return refuse("error", kCannotMapMessage);
        case MappedInput::Result::kCannotView:
          return refuse("error", kCannotReadMessage);
      }
      file.size = mapped.size();
      const std::optional<std::string> hash = Sha256Hex(mapped.data(), mapped.size());
      if (!hash) return refuse("error", kCannotReadMessage);
      file.sha256 = *hash;
      if (done_.count(file.sha256) != 0) return refuse("skipped", kDoneBeforeMessage);
    }
    const CliHost::Output output = options_.summary     ? CliHost::Output::kSummary
                                   : options_.to_stdout ? CliHost::Output::kStdout
                                   : options_.json      ? CliHost::Output::kStdout
                                                        : CliHost::Output::kLogs;
    CliHost host(table_, path, format_, output, options_.jobs, options_.json);
    table_.SetObserver(&host);
    if (options_.timeout) {
      host.SetDeadline(std::chrono::steady_clock::now() +
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(*options_.timeout)));
    }
    bool ended_by_error = false;
    try {
      RunAnalysis(table_, presets_, host);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      host.PrintLine(ErrorText(e));
      file.message = e.what();
      ended_by_error = true;
    }
    table_.SetObserver(nullptr);
    bool completed = !ended_by_error && host.AllCompleted();
    if (completed && (options_.json || options_.yara)) {
      for (const RowOutcome& outcome : host.outcomes()) {
        if (outcome.search && outcome.search->stamp != mapped.stamp()) {
          // Another file took the name between the hash and the run.
          return refuse("error", kCannotReadMessage);
        }
      }
    }
    if (!ended_by_error && file.message.empty()) file.message = host.first_message();
    if (!completed && file.message.empty() && interrupted) file.message = kStoppedMessage;
    file.status = completed ? "done" : "error";
    // A signal's stop ends the batch and reads as before, and an input not read stays an error;
    // a file stopped at its deadline alone is one the batch goes on from.
    if (host.TimedOut() && !interrupted && !ended_by_error &&
        std::none_of(host.outcomes().begin(), host.outcomes().end(), [](const RowOutcome& row) {
          return row.kind == RowOutcome::Kind::kInputFailed;
        })) {
      file.status = "timeout";
      host.PrintLine(MessageAbout(path, kTimeoutMessage));
    }
    if (ended_by_error) return !interrupted;
    bool written = true;
    if (options_.summary && options_.json) {
      written = WriteOut(KeyRecords(path, host.outcomes(), options_.top));
    } else if (options_.summary && !options_.yara) {
      written = WriteOut(SummaryTable(host.outcomes()));
    }
    if (options_.yara && written) {
      written = WriteOut(Rules(path, host.outcomes(), file.sha256, mapped));
    }
    return written && !interrupted;
  }

  // The file's rules: each a record with --json, else the rules' text alone.
  std::string Rules(const std::string& path, const std::vector<RowOutcome>& outcomes,
                    const std::string& sha256, const MappedInput& mapped) {
    const std::string_view bytes(reinterpret_cast<const char*>(mapped.data()), mapped.size());
    std::string out;
    for (const FileRule& rule : FileRules(outcomes, sha256, bytes, rule_names_)) {
      out += options_.json ? RuleRecord(path, rule) : rule.text;
    }
    return out;
  }

  const CliOptions& options_;
  TaskTable& table_;
  const PresetList& presets_;
  std::string format_;
  std::unordered_set<std::string> done_;  // the SHA-256 of files --skip-done passes over
  bool failed_ = false;
  std::set<std::string> rule_names_;  // of the whole batch, whose rules compile together
};

int Main(const std::vector<std::string>& arguments) {
  CliOptions options;
  std::vector<std::string> names;
  std::unordered_set<std::string> done;
  try {
    options = ParseCommandLine(arguments);
    if (!options.help && !options.list) {
      names = options.files;
      if (options.files_from) {
        for (std::string& name : ReadNameList(*options.files_from, options.null_separated)) {
          names.push_back(std::move(name));
        }
      }
      if (options.skip_done) done = ReadDoneHashes(*options.skip_done);
    }
  } catch (const UsageError& e) {
    std::fprintf(stderr, "veskor-scan: %s\n%s", EscapeForTerminal(e.what()).c_str(), kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
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
  HandleStopSignals();
  Batch batch(options, table, presets, format, std::move(done));
  WalkBatch(names, options.recursive, [&](const BatchEntry& entry) { return batch.Scan(entry); });
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
