// What shapes a file's records, as the text of its `file` record's "options", by which
// --skip-done knows a file done under the same request from one done under another.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "engine/run/analysis_request.h"

namespace veskor {

// The run's tasks as it will scan them, `rows` in order (from --algo or grid.cfg alike): each
// row's algorithm, key ("all" for every key) and preset with the fields that decide its strings
// (alphabet, lengths, expression); then the line format, and the options
// that choose the records (--summary, --top, --yara). A later option that shapes the records
// (--carve) adds its own part at the end. 8-bit text is converted to UTF-8; quoted text escapes
// '"' and '\'. For example:
//   XOR8 key all preset "command line" alphabet "0123456789" min 7 max 0 regexp ""; format
//   "%3d | %*d | %s"; --summary; --top 5
std::string RecordOptions(const CliOptions& options, const std::vector<RequestRow>& rows,
                          std::string_view format);

}  // namespace veskor
