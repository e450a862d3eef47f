// How much a string looks like real text: a byte model of Windows-1251 text (English, code,
// paths, URLs, Russian) scored against random bytes, with repeated patterns counted as noise.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace veskor {

// Scores one string fed in pieces, in order; a string of any length is never held whole.
// Score() is the evidence, in bits, that the bytes are text rather than random bytes: the
// log-likelihood ratio of the text model against a uniform byte, summed over the bytes. Real
// text gains a few bits per byte; random printable bytes lose about one; a byte that continues
// a run of one repeated byte, or of a pattern of two to four bytes repeated, adds at most
// -kPeriodicPenaltyBits. Holds no shared mutable state: one scorer per thread.
class TextScorer {
 public:
  static constexpr float kPeriodicPenaltyBits = 2.0f;

  TextScorer() { Reset(); }

  // Starts a new string.
  void Reset();
  // The next bytes of the string.
  void Feed(std::string_view piece);
  // The evidence for the bytes fed since Reset, in bits.
  float Score() const;
  uint64_t Length() const { return length_; }

 private:
  static constexpr int kMaxPeriod = 4;

  uint32_t state_ = 0;  // the model's state: the longest context it knows that ends here
  int64_t units_ = 0;   // the evidence so far in model units
  uint64_t length_ = 0;
  uint32_t history_ = 0;                        // the last four bytes, the latest in the low byte
  std::array<uint32_t, kMaxPeriod> repeats_{};  // bytes equal to the byte p + 1 places back
};

// TextScorer over one whole string.
float TextScore(std::string_view text);

}  // namespace veskor
