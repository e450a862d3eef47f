// veskor-scan: the analysis of the window's "Analyze" button, from the command line.
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "cli/batch.h"
#include "cli/batch_files.h"
#include "cli/done_files.h"
#include "cli/options.h"
#include "cli/record_options.h"
#include "cli/terminal_text.h"
#include "engine/decoding/algorithms.h"
#include "engine/run/grid_run.h"
#include "engine/search/job_runner.h"
#include "engine/search/scan_context.h"
#include "presets/preset.h"
#include "presets/preset_list.h"
#include "program_files/program_files.h"
#include "tasks/table_file.h"
#include "tasks/task_table.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

constexpr const char* kCommandLinePreset = "command line";

// Ctrl-C, a terminal hung up, `kill` or `timeout`, and a reader gone: the row ends as after Stop,
// its log in place with the lines so far; dying instead would leave its temporary file behind.
// The batch ends after the file it stopped.
// Read by the workers of a batch scanned side by side; its atomics are lock-free, and so safe to
// set in the handler.
Interruption interruption;
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

void OnInterrupt(int signal_number) {
  const int saved_errno = errno;
  interruption.signal.store(signal_number);
  interruption.interrupted.store(true);
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

// The one task of --algo, --key and the preset options: --preset's fields from `presets` (the
// first preset of that name; the run says so when there is none), or the command line's own.
RequestRow SingleTask(const CliOptions& options, const PresetList& presets) {
  RequestRow row;
  row.algorithm = *options.algorithm;
  row.key = options.key.value_or("");
  if (options.preset) {
    row.preset = *options.preset;
    TPreset preset{};
    if (presets.FindPreset(row.preset, preset)) {
      row.fields =
          SearchFields{std::string(ShortString(preset.Alphabet)),
                       std::string(ShortString(preset.RegExp)), preset.MinLength, preset.MaxLength};
    }
  } else {
    // The fields as a preset record holds them: at most 255 bytes each.
    TPreset preset = NewPreset();
    SetShortString(preset.Alphabet, options.alphabet.value_or(""));
    SetShortString(preset.RegExp, options.regexp.value_or(""));
    row.preset = kCommandLinePreset;
    row.fields = SearchFields{
        std::string(ShortString(preset.Alphabet)), std::string(ShortString(preset.RegExp)),
        static_cast<uint8_t>(options.min_length), static_cast<uint8_t>(options.max_length)};
  }
  // As the window shows 8-bit text.
  row.algorithm_shown = Cp1251ToUtf8(row.algorithm);
  row.key_shown = Cp1251ToUtf8(row.key);
  row.preset_shown = Cp1251ToUtf8(row.preset);
  return row;
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

// A wrong command line: its message and the usage on standard error, exit status 2.
int UsageFailure(const UsageError& e) {
  std::fprintf(stderr, "veskor-scan: %s\n%s", EscapeForTerminal(e.what()).c_str(),
               UsageText().c_str());
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
    std::printf("%s%s", UsageText().c_str(), HelpText().c_str());
    return 0;
  }
  FillAlgorithms();
  PresetList presets;
  // The files are read from the folder the window would use, as its start-up reads them, and
  // never written.
  ProgramFiles files(options.dir ? *options.dir : ExecutableDir(), /*read_only=*/true);
  AnalysisRequest request;
  try {
    if (!options.algorithm || options.preset) files.LoadPresets(presets);
    if (options.algorithm) {
      request.rows = {SingleTask(options, presets)};
    } else {
      // Table mode: the rows of grid.cfg, as the window loads them.
      TaskTable table;
      files.LoadTable(table, presets);
      if (options.list) {
        ListRows(table);
        return 0;
      }
      request.rows = CheckedRows(table, presets);
    }
    request.format = options.format ? *options.format : files.LoadFormat();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
    return 1;
  }
  std::string record_options = RecordOptions(options, request.rows, request.format);
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
  // Without lines, only the ranking of the keys is kept; the window keeps both.
  request.write_lines = !options.summary;
  request.keep_summary = options.summary;
  Batch batch(options, std::move(request), std::move(record_options), std::move(done), several,
              interruption);
  const int workers = options.jobs > 0 ? options.jobs : DefaultWorkerCount();
  ScanBatch([&](const auto& visit) { WalkBatch(names, options.recursive, visit); }, workers,
            options.jobs,
            [&](const BatchEntry& entry, FileOutput& out, int jobs) {
              return batch.Scan(entry, out, jobs);
            },
            interruption.interrupted);
  return batch.failed() || interruption.interrupted ? 1 : 0;
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
