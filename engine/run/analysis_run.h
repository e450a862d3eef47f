// The analysis run behind "Analyze" and veskor-scan: every row of a request, in order, scanned
// over the input file into its own log, told to an observer as it goes.
#pragma once

#include <string>
#include <string_view>

#include "engine/run/analysis_request.h"
#include "engine/run/run_observer.h"

namespace veskor {

// The run's own messages, shown through the observer; the run goes on with the next row.
inline constexpr const char* kCannotOpenMessage = "Невозможно открыть файл!";
inline constexpr const char* kCannotMapMessage = "Невозможно спроецировать файл!";
inline constexpr const char* kCannotReadMessage = "Невозможно прочесть файл!";
// An ANY row tries every key of every algorithm: a key in its key cell is refused.
inline constexpr std::string_view kAnyKeyMessage =
    "'%s': ANY tries every key of every algorithm; leave the key empty";
inline constexpr const char* kNoDecoderMessage =
    "The algorithm \"%s\" has no decoder: the task was skipped";
inline constexpr const char* kNoPresetMessage = "No preset is named \"%s\": the task was skipped";

// Runs the rows of `request` in order; a row after which a stop is requested (StopIsRequested)
// is the last, and the run clears the flag it honoured. A row that does not run (no decoder, no
// such preset, an input that cannot be read) gets its message and the run goes on. The input
// is opened and mapped before the row's log is asked for: an input that cannot be opened, is no
// regular file or cannot be mapped leaves an earlier log of the name as it was and makes none;
// only a file of 0 bytes, which is opened but has nothing to map, still gets its empty log. An
// error that ends the run (a bad key, a format that does not fit, an invalid expression, a log
// that cannot be written) closes nothing into place, releases the input, clears StopRequested
// and passes to the caller.
void RunRequest(const AnalysisRequest& request, RunObserver& observer);

// The log path for an input and an algorithm: the input path, "_", the name, ".log".
std::string LogPathFor(const std::string& input_path, const std::string& algorithm);

}  // namespace veskor
