// veskor-scan: the analysis of the window's "Analyze" button, from the command line.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "cli/options.h"
#include "engine/algorithms.h"
#include "engine/scan_context.h"
#include "presets/preset.h"
#include "presets/preset_list.h"
#include "report/report_format.h"
#include "tasks/task_table.h"

namespace veskor {
namespace {

constexpr const char* kCommandLinePreset = "command line";

void OnInterrupt(int) { StopRequested.store(true); }

// One row and one preset from --algo, --key and the preset options.
void SingleTask(const CliOptions& options, TaskTable& table, PresetList& presets) {
  std::string preset_name = kCommandLinePreset;
  if (options.preset) {
    throw UsageError("--preset needs the presets file, which this runner does not read yet");
  }
  TPreset preset = NewPreset();
  SetShortString(preset.Name, preset_name);
  SetShortString(preset.Alphabet, options.alphabet.value_or(""));
  SetShortString(preset.RegExp, options.regexp.value_or(""));
  preset.MinLength = static_cast<uint8_t>(options.min_length);
  preset.MaxLength = static_cast<uint8_t>(options.max_length);
  presets.Append(preset);
  table.AddTaskRow(true, -1, *options.algorithm, preset_name, options.key.value_or(""), 0, "0", -1);
}

int Main(const std::vector<std::string>& arguments) {
  CliOptions options;
  try {
    options = ParseCommandLine(arguments);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "veskor-scan: %s\n%s", e.what(), kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  FillAlgorithms();
  TaskTable table;
  PresetList presets;
  try {
    if (!options.algorithm) throw UsageError("--algo is missing");
    SingleTask(options, table, presets);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "veskor-scan: %s\n%s", e.what(), kUsage);
    return 2;
  }
  std::signal(SIGINT, OnInterrupt);
  CliHost host(table, *options.file, options.format.value_or(std::string(kDefaultReportFormat)),
               options.to_stdout);
  table.SetObserver(&host);
  try {
    RunAnalysis(table, presets, host);
  } catch (const std::exception& e) {
    host.ShowMessage(e.what());
    return 1;
  }
  return host.AllCompleted() ? 0 : 1;
}

}  // namespace
}  // namespace veskor

int main(int argc, char** argv) {
  return veskor::Main(std::vector<std::string>(argv + 1, argv + argc));
}
