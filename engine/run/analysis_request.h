// What an analysis run is asked to do, as plain values: the rows to search, the input file, the
// report format and what to keep. The window makes one from its task grid, the runner from its
// command line or grid.cfg.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/input/mapped_input.h"
#include "engine/search/scan_context.h"

namespace veskor {

// One task: an algorithm, a key and a preset's search fields.
struct RequestRow {
  int row = 0;            // the caller's number for the row, handed back with all that is told
  std::string algorithm;  // the algorithm's name, 8-bit; "ANY" tries every pair
  std::string key;        // the key text, 8-bit; empty: every key of the algorithm
  std::string preset;     // the preset's name, 8-bit
  // The preset's search fields; none when no preset has that name (the row is skipped).
  std::optional<SearchFields> fields;
  // The algorithm, key and preset as the user wrote them (UTF-8), for messages and summaries:
  // an 8-bit form has no character that Windows-1251 lacks.
  std::string algorithm_shown;
  std::string key_shown;
  std::string preset_shown;
};

struct AnalysisRequest {
  std::vector<RequestRow> rows;  // in the order they run
  std::string input;             // the input file's path, file-system bytes
  // An open mapping of `input`, which the caller keeps open through the run: the rows whose
  // input is `input` scan it instead of mapping the file again (a batch hashes and scans one
  // mapping of each file). Null: each row maps its input itself.
  const MappedInput* mapped = nullptr;
  std::string format;        // the report format, 8-bit
  bool write_lines = true;   // false: no line is formatted (only the summary is wanted)
  bool keep_summary = true;  // the rows' strings counted and scored per key
  int workers = 0;           // the threads a row's search may use; 0: every core it may run on
  // Whether a row that makes no line may leave the keys proved below its first keys and its
  // "maybe" band with a bound of their score instead (KeySummary::SetBound); the tests turn it
  // off to compare the ranking with the exact one.
  bool bound_keys = true;
};

}  // namespace veskor
