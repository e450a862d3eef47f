// veskor-scan: the analysis of the window's "Analyze" button, from the command line.
#include <signal.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "cli/options.h"
#include "cli/summary_table.h"
#include "cli/terminal_text.h"
#include "engine/decoding/algorithms.h"
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
void OnInterrupt(int) { RequestStop(); }

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

int Main(const std::vector<std::string>& arguments) {
  CliOptions options;
  try {
    options = ParseCommandLine(arguments);
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
  const CliHost::Output output = options.summary     ? CliHost::Output::kSummary
                                 : options.to_stdout ? CliHost::Output::kStdout
                                                     : CliHost::Output::kLogs;
  CliHost host(table, *options.file, format, output, options.jobs);
  table.SetObserver(&host);
  try {
    RunAnalysis(table, presets, host);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    host.PrintLine(ErrorText(e));
    return 1;
  }
  if (options.summary) std::fputs(SummaryTable(host.outcomes()).c_str(), stdout);
  return host.AllCompleted() ? 0 : 1;
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
