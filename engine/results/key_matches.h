// How many of one key's strings pass the Results window's filter, by the scan of its list: made on
// any thread and given up at once when asked. The window counts many keys at once by the search
// of all keys (CountMatchesOfKeys), whose counts are checked against this one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

#include "engine/run/run_search.h"

namespace veskor {

struct MatchCount {
  enum class Status {
    kCounted,     // `count` is the key's whole count
    kStopped,     // the stop flag ended the count
    kChanged,     // the input is not the file the run read
    kCannotRead,  // the input cannot be opened or mapped
  };
  Status status = Status::kCounted;
  uint64_t count = 0;
};

// What one slice of a count covers: between slices the progress is told and the stop seen.
inline constexpr uint64_t kMatchSliceBytes = uint64_t{4} << 20;

// Counts the strings of `key` of the row that `search` describes that `filter` accepts (every
// string without one): of an ANY row `key` is a pair, found again under its own algorithm and
// key. The scan obeys `stop` for its length, inside a slice as well as between slices; a count
// that sees it set is kStopped. `progress` (optional) is told the share of the file scanned
// after each slice of `slice_bytes`. Raises the filter's error.
MatchCount CountKeyMatches(const RunSearch& search, int key,
                           const std::function<bool(std::string_view)>& filter,
                           std::atomic<bool>& stop,
                           const std::function<void(double)>& progress = nullptr,
                           uint64_t slice_bytes = kMatchSliceBytes);

}  // namespace veskor
