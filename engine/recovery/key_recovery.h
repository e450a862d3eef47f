// Key recovery: the repeating keys (2 to 32 bytes) that a file gives away, found in its own
// bytes without being told anything, ranked by their evidence and capped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/decoding/xor_key.h"

namespace veskor {

// One recovered key, aligned to offset 0 of the file, with what gave it away.
struct KeyCandidate {
  XorKey key;
  // Key leaks: stretches where the stored bytes repeat the key (the plain bytes were zero).
  uint64_t leak_bytes = 0;
  uint32_t leak_places = 0;
  // Stretches whose columns read as text under the key.
  uint64_t text_bytes = 0;
  uint32_t text_places = 0;
  uint64_t first_offset = 0;  // where the earliest of them starts
  // The evidence in bits, the ranking's measure.
  double weight = 0;
};

struct RecoveryOptions {
  // The candidates kept, the strongest first.
  size_t max_candidates = 16;
  // Bytes read between two calls of the caller's `reads`.
  uint64_t batch_bytes = uint64_t{4} << 20;
};

// Runs `body`, which reads the mapped file, and returns whether to go on. The caller may run it
// under its guard of the mapping (the body keeps nothing that needs unwinding on its frames),
// raise the guard's error when the file can no longer be read, and return false when a stop was
// requested.
using MappedReads = std::function<bool(const std::function<void()>& body)>;

// The candidate keys of `size` bytes at `data`, in one pass over them and a second look at the
// stretches that read as text: distinct, each at its shortest period, the strongest evidence
// first, at most options.max_candidates. A stop returns what was found before it. Without
// `reads` the bodies run directly.
std::vector<KeyCandidate> RecoverKeys(const uint8_t* data, uint64_t size,
                                      const RecoveryOptions& options = {},
                                      const MappedReads& reads = nullptr);

}  // namespace veskor
