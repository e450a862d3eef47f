// Frequency analysis of a stretch under a repeating key: the key byte of each column (the bytes
// whose offsets are equal modulo the period) that makes the column read most like text, refined
// by the byte pairs that neighbouring columns make, and the part of the stretch that reads as
// text under the key.
#pragma once

#include <array>
#include <cstdint>

namespace veskor {

struct TextFit {
  int period = 0;  // the key's, which may divide the window's
  std::array<uint8_t, 32>
      key{};  // aligned to offset 0: the byte at offset i decodes with key[i % period]
  // The stretch that reads as text under the key.
  uint64_t start = 0, end = 0;
  // Bits per byte of the decoded stretch under the single-byte model (TextByteBits) and under
  // the pair model (TextPairBits), on average; and of the stored bytes as they are under the pair
  // model, pairs with a zero byte left out: text that was never encoded, also wide text, scores
  // about as well stored as decoded.
  float text_bits = 0;
  float pair_bits = 0;
  float stored_pair_bits = 0;
  // How often a stored byte of the stretch equals the byte a period before it, outside the long
  // runs of such repeats that the counts leave out: text's own repeats (a few in a hundred), or
  // many more where the stretch is a table or padding that the key turns into repeated words.
  float repeat_rate = 0;
  // Bits per byte by which the columns' own byte counts explain their bytes better than text
  // under the key does: near 0 for text under the right key, large for bytes that no key turns
  // into text (a table of one value, code, random bytes).
  float divergence = 0;
};

// Fits a key of `period` (2 to 32) bytes to [start, end) of `data`, narrows the stretch to its
// part that reads as text under that key, and fits again on it; when the columns are far from
// text under any key, the stretch is empty. A key that mostly repeats a key of a divisor of the
// period is that key, at that period. Stretches where the
// stored bytes repeat with the period (key leaks: plain zero bytes) are left out of the counts.
// Touches nothing but the mapping and PODs: it may be abandoned by a fault of the mapping. Call
// PrepareTextBytes first.
void FitTextKey(const uint8_t* data, uint64_t start, uint64_t end, int period, TextFit& fit);

}  // namespace veskor
