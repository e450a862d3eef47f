// The files an earlier batch finished, named by content, so that a resumed batch passes them over.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <unordered_set>

namespace veskor {

// The message of a file passed over by --skip-done.
inline constexpr const char* kDoneBeforeMessage = "done before";

// A line longer than this is no file record of ours (a string record of a long string): it is
// passed over without being held.
inline constexpr size_t kMaxFileRecordBytes = size_t{1} << 20;

// The SHA-256 of every `file` record with status `done` and "options" equal to `options` in the
// JSON Lines read from `in`: a file done under other options (or by a run that wrote none) is
// scanned again. The output of an interrupted run ends anywhere: a last line cut short, or any
// line that is not such a record, names nothing. What is held is bounded by the number of files
// named, not by the stream's size; in.bad() tells a stream that could not be read.
std::unordered_set<std::string> DoneHashes(std::istream& in, std::string_view options);

}  // namespace veskor
