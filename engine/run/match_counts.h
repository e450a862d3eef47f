// How many strings of each of many keys of a row pass the Results window's filter, counted by
// the search that found them: all the keys of an algorithm in one search over the file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "engine/run/run_search.h"
#include "engine/search/row_search.h"

namespace veskor {

enum class MatchCountsOutcome {
  kCounted,     // every key asked is counted
  kStopped,     // the stop flag ended the count
  kChanged,     // the input is not the file the run read
  kCannotRead,  // the input cannot be opened or mapped
};

// Counts the strings of each of `keys` of the row that `search` describes that `filter` accepts
// (every string without one), the strings and the text the filter is shown being those of the
// key's own list (KeyStrings). Of an ANY row the keys are pairs. Every algorithm among the keys
// is searched once with all its keys from the lowest asked to the highest (ScanAllKeys, on
// `options.workers` threads); a single key, a key outside the algorithm's range and an unkeyed
// algorithm (whose keys all read alike) take one pass. `counted(key, count)` is told each key's
// count on the calling thread once its strings are all counted and the file is checked
// unchanged; `progress(share)` the share of the work done, 0 to 1. `filter` is called on the
// workers, several at once. A set `stop` ends the count within one batch of the scan (kStopped).
// Raises the filter's error and the row's expression's.
MatchCountsOutcome CountMatchesOfKeys(const RunSearch& search, const std::vector<int>& keys,
                                      const std::function<bool(std::string_view)>& filter,
                                      std::atomic<bool>& stop,
                                      const std::function<void(int, uint64_t)>& counted,
                                      const std::function<void(double)>& progress,
                                      const ScanOptions& options);

}  // namespace veskor
