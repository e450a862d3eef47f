// The search of one task row: one key's pass over the file in blocks, or every key by the search
// that suits the alphabet and cipher (ChooseSearch), on every core. Its lines, counts and stop
// behaviour are the reference scanner's.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/search/scan_context.h"
#include "engine/search/scan_input.h"

namespace veskor {

class DenseSpans;
class RankFloor;

// How a search goes about its work; the defaults serve the run, tests choose small sizes to put
// spans across every boundary.
struct ScanOptions {
  // Threads that scan (1: the run's own thread does everything).
  int workers = 1;
  // Bytes scanned between two looks at the stop flag and the clock.
  uint64_t batch_bytes = uint64_t{1} << 20;
  // The stretch of the file one job takes (a block for one key, a segment of a screening).
  uint64_t segment_bytes = uint64_t{4} << 20;
  std::chrono::nanoseconds event_interval = std::chrono::milliseconds(20);
  // The regions, strings or spans a search of all keys keeps (16 bytes each for regions and
  // strings, 4 for spans and 1 more while they wait for their sorting); past them it takes the
  // keys in groups, or one pass per key.
  size_t max_regions = size_t{1} << 20;
  size_t max_spans = size_t{12} << 20;
  // Without a summary the dense search makes a key's lines in parts of about this many spans.
  uint64_t part_spans = 32768;
  // Which search of all keys to use; kAuto chooses by the alphabet.
  enum class Search { kAuto, kSparse, kDense, kEachKey };
  Search search = Search::kAuto;
  // Where the dense search keeps its spans; searches that follow one another may share it, so
  // that its memory is grown and paged in once (null: each search has its own).
  std::shared_ptr<DenseSpans> dense_spans;
  // For a summary's search that writes no line: the keys searched so far, which set the floor
  // below which the keys of each page of 256 keys that follows need no exact score (a key
  // proved below the row's first keys and its "maybe" band carries a bound: RankFloor). Every
  // key searched whole is added to it, or only those of `floor_keys` (a row of pairs leaves
  // out the keys another algorithm has already searched). Null: every key is summarized whole.
  std::shared_ptr<RankFloor> rank_floor;
  std::vector<bool> floor_keys;
};

// One pass over context.Data with context.Key: the line of every accepted span, in file order,
// written through context.Services, context.Found increased by their number, progress through
// SetProgress. A stop (StopIsRequested) ends the pass after a file-order prefix of its lines.
// Errors of the expression, the format and the log pass through; InputReadError when the file
// can no longer be read.
void ScanPass(const TAlgorithm& algorithm, const SearchFields& fields, TScanContext& context,
              const ScanOptions& options = {});

// Every key of the algorithm (FirstKey to LastKey: 1 to 255 for the one-byte ciphers), in key
// order: the same lines, in the same order, as one ScanPass call per key. After each key,
// `after_key(key)` runs (the row's progress) and the search goes on only while it returns true. A
// stop ends the search after whole keys and a file-order prefix of the next key's lines.
void ScanAllKeys(const TAlgorithm& algorithm, const SearchFields& fields, TScanContext& context,
                 const std::function<bool(int)>& after_key, const ScanOptions& options = {});

// The search of all keys that ScanAllKeys takes for this alphabet and cipher.
ScanOptions::Search ChooseSearch(const TAlgorithm& algorithm, const SearchFields& fields);

}  // namespace veskor
