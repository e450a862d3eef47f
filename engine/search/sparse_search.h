// The search of all keys for sparse alphabets (digits, a few letters). XOR8 keeps b ^ b' of two
// stored bytes under every key, ADD8 and SUB8 keep b' - b: which keys could turn a pair of
// adjacent bytes into two alphabet bytes is known from the pair alone. One pass over the pair
// values finds the regions where some key could have a span of MinLength; each key then scans only
// those.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/search/scan_input.h"

namespace veskor {

class JobRunner;

// How many of the 256 pair values two alphabet bytes can give under the cipher: the share of the
// file the regions cover grows with it.
int PairValueCount(const std::array<bool, 256>& in_alphabet, CipherFamily family);

enum class SparseResult { kFound, kTooMany, kStopped };

// The regions of the file, in order: stretches of at least MinLength bytes in which every pair of
// adjacent bytes could decode into two alphabet bytes under one key. A span of MinLength or more
// under any key lies inside one region, and the bytes just outside a region end every span that
// touches it. Needs MinLength 2 or more; kTooMany past `max_regions`.
SparseResult FindRegions(const ScanInput& input, CipherFamily family, JobRunner& jobs,
                         size_t max_regions, uint64_t segment_bytes, std::vector<Span>& regions);

// The same for the wide algorithms, whose units keep the pair value of their own two bytes (low
// ^ high for XOR, high - low for ADD and SUB) under every key: the stretches of at least
// MinLength units of one parity whose pair values some character's unit gives, as byte ranges
// from a stretch's first byte to the byte after its last unit, both parities in order, ranges
// that overlap joined. Every span of every key lies inside one range, and none crosses a range's
// ends.
SparseResult FindWideRegions(const ScanInput& input, CipherFamily family, JobRunner& jobs,
                             size_t max_regions, uint64_t segment_bytes,
                             std::vector<Span>& regions);

}  // namespace veskor
