// The lines of a stream read piece by piece: what is held is bounded by the longest line kept,
// never by the stream's size (a list or an earlier run's output of gigabytes, or /dev/zero).
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <string_view>

namespace veskor {

// Hands each line ended by `separator` (the last one may end with the stream) to `take` with
// `whole` true. A line longer than `max_bytes` is handed on once it passes the bound, its first
// `max_bytes` bytes with `whole` false, and the rest of it is read past, never held: an endless
// line is seen at once. `take` returns false to stop the reading. Returns false when the stream
// could not be read.
bool ReadLines(std::istream& in, char separator, size_t max_bytes,
               const std::function<bool(std::string_view line, bool whole)>& take);

}  // namespace veskor
