// The files an earlier batch finished, named by content, so that a resumed batch passes them over.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

namespace veskor {

// The message of a file passed over by --skip-done.
inline constexpr const char* kDoneBeforeMessage = "done before";

// The SHA-256 of every `file` record with status `done` in JSON Lines `bytes`. The output of an
// interrupted run ends anywhere: a last line cut short, or any line that is not such a record,
// names nothing.
std::unordered_set<std::string> DoneHashes(std::string_view bytes);

}  // namespace veskor
