// How much a string looks like real text: a byte model of Windows-1251 text (English, code,
// paths, URLs, Russian) scored against two explanations of noise, with repeats counted as noise.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace veskor {

// Scores one string fed in pieces, in order; a string of any length is never held whole.
//
// Every byte gets the evidence, in bits, that it continues text rather than noise: the log
// probability of the byte under the text model, less the larger of two noise explanations:
// uniform random bytes, and bytes drawn with the frequencies seen so far in the string (which
// explains padding and tables of small numbers decoded under a wrong key: few byte values,
// often repeated). A byte that continues a progression (bytes a constant step apart at a lag of
// one to four: runs of one byte, patterns of two to four bytes repeated, counting tables such
// as "abcdef" or "a1a2a3a4"), a digit after ten digits in a row, a byte of a stretch with
// little variety (every other byte the same, as in ".5.4.7.6" or "h e l l o", or digits and one
// other byte, as in "12,7,95,3,14,") beyond its first bytes add at most -kNoisePenaltyBits.
//
// Bytes in a row without a letter (digits and signs alone, as machine code and tables of numbers
// read under a key: "7542.3.2.1", "18,418//185-185") gain kLetterlessBits at most together, in
// any stretch of them: a number is little evidence of text, wherever it stands; but an IPv4
// address ("203.0.113.7", four numbers up to 255) keeps its gains once it is whole. And a byte that
// repeats the byte three or four back, the third such in a row (" at at at", " mot mot mot":
// tables of short names), is noise too.
//
// Score() is the evidence of the string's best stretch (the consecutive bytes with the largest
// sum), so that a secret that runs into padding decoded to printable bytes still shows. Real
// text gains about two to four bits per byte; noise rarely gains more than a few bits in all.
// Holds no shared mutable state: one scorer per thread.
class TextScorer {
 public:
  static constexpr float kNoisePenaltyBits = 2.0f;
  // The most that bytes in a row without a letter gain together: less than a string needs to
  // matter.
  static constexpr float kLetterlessBits = 12.0f;

  TextScorer() { Reset(); }

  // Starts a new string.
  void Reset();
  // The next bytes of the string.
  void Feed(std::string_view piece);
  // The evidence of the best stretch of the bytes fed since Reset, in bits; 0 with no bytes.
  float Score() const;
  // The evidence of all the bytes fed since Reset, in bits.
  float TotalScore() const;
  uint64_t Length() const { return length_; }
  // Where the best stretch starts in the string, and its length.
  uint64_t BestStart() const { return best_start_; }
  uint64_t BestLength() const { return best_end_ - best_start_; }

 private:
  uint32_t state_ = 0;  // the model's state: the longest context it knows that ends here
  uint64_t length_ = 0;
  int64_t total_ = 0;       // evidence of all bytes, in model units
  int64_t run_ = 0;         // evidence of the best stretch that ends at the last byte
  uint64_t run_start_ = 0;  // where that stretch starts
  int64_t best_ = 0;        // evidence of the best stretch so far
  uint64_t best_start_ = 0, best_end_ = 0;
  // What the bytes since the last letter gained, in model units, and the least of it on the way:
  // a stretch of them gains the difference at most.
  int32_t letterless_ = 0;
  int32_t letterless_low_ = 0;
  // An IPv4 address being read: its numbers so far, and what the letterless limit denied them.
  struct Address {
    int dots = 0, digits = 0, value = 0;
    int32_t denied = 0;
    // Whether `byte` ends a whole address: the fourth number, then no digit nor dot.
    bool Ends(uint8_t byte) const {
      return dots == 3 && digits > 0 && byte != '.' && static_cast<unsigned>(byte - '0') >= 10;
    }
    // Reads `byte`; whether it is part of an address that may still be whole.
    bool Feed(uint8_t byte) {
      const unsigned digit = static_cast<unsigned>(byte - '0');
      if (digit < 10 && digits < 3 && value * 10 + static_cast<int>(digit) <= 255) {
        ++digits;
        value = value * 10 + static_cast<int>(digit);
        return true;
      }
      if (byte == '.' && digits > 0 && dots < 3) {
        ++dots;
        digits = value = 0;
        return true;
      }
      *this = Address();
      if (digit < 10) return Feed(byte);  // a number may start an address
      return false;
    }
  };
  Address address_;
  std::array<uint32_t, 2> repeats_{};  // bytes in a row equal to the byte 3 and 4 back
  uint64_t history_ = 0;               // the last eight bytes, the latest in the low byte
  // Bytes in a row that continued a progression at lags 1 to 4.
  std::array<uint32_t, 4> progressions_{};
  uint32_t digits_ = 0;  // digits in a row at the end
  // Bit i set: the byte i before the last equalled the byte two before it.
  uint32_t same_as_two_back_ = 0;
  uint32_t numeric_ = 0;  // bytes in a row that are digits or numeric_separator_
  uint8_t numeric_separator_ = 0;
  // How often each byte occurred in the string, in the low half of counts_[b], valid when the
  // high half equals stamp_; so Reset does not clear the table.
  uint32_t stamp_ = 0;
  std::array<uint64_t, 256> counts_{};
};

// TextScorer::Score over one whole string.
float TextScore(std::string_view text);

// TextScore of each text into scores[i], the same figures at a fraction of the time, for the
// many short strings of a search's records: the model walks of a few texts at once, so that
// their cache misses overlap, then the noise explanations without a branch on the bytes.
// Allocates nothing.
void TextScores(std::span<const std::string_view> texts, float* scores);

// Whether TextScore(text) may exceed `floor`: false only when it cannot, and a few times cheaper
// than the score. It follows the best stretch of the largest gain each byte has after the byte
// before it in any context of the model (the noise explanations only ever lower a gain), and
// stops as soon as that passes the floor. A run scores a string exactly only where it may matter.
bool TextScoreMayExceed(std::string_view text, float floor);

// The first bound of TextScoreMayExceed, for a search that computes it while it finds its
// strings: the largest gain of each byte after each byte in any context of the model, and of a
// first byte, in eighths of a bit rounded up. The best stretch of these gains over a text is at
// least its score.
struct PairGainTable {
  static constexpr int kUnitsPerBit = 8;
  std::array<std::array<int8_t, 256>, 256> after;  // [byte before][byte]
  std::array<int8_t, 256> first;
};
const PairGainTable& PairGains();

// A tighter bound of the same kind over a small alphabet: the largest gain of a byte after the
// two bytes before it, in any context of the model that those two lead into, in eighths of a
// bit rounded up. Over `values` (n byte values, at most kMaxValues): the gain of values[k] after
// values[i] then values[j] is at rows[row_of[i * n + j] + k]. The best stretch of a text's gains,
// its first byte's from PairGainTable::first, its second's from PairGainTable::after and the
// rest's from here, is at least its score. Made on first use for each set of values; the last few
// are kept.
struct TripleGainTable {
  static constexpr size_t kMaxValues = 100;
  static constexpr uint8_t kNoPlace = 0xFF;
  std::vector<uint8_t> values;
  std::array<uint8_t, 256> place;  // of each byte value in `values`, else kNoPlace
  // Two characters lead into one of few sets of the model's contexts (about a thousand rows
  // of 96 for the printable alphabet's 9,216 pairs), so each distinct row is kept once: the
  // table then stays in the cache next to the text it is read for, where n^3 bytes would not.
  std::vector<uint32_t> row_of;  // of each pair of places, where its row starts in `rows`
  std::vector<int8_t> rows;
};
// Null when there are more than kMaxValues values.
std::shared_ptr<const TripleGainTable> TripleGains(const std::vector<uint8_t>& values);

// The bound of StoredPairBound with the gains of `triple` after the second byte: at least
// 8 * TextScore of the text, and most often far below the pair bound. A text with a byte
// outside the table's values has its pair bound.
int64_t StoredTripleBound(const uint8_t* bytes, uint64_t length,
                          const std::array<uint8_t, 256>& decode, const TripleGainTable& triple);

// TextScoreMayExceed's second bound alone, for a text whose pair bound is known to pass `floor`:
// the model's own gains, without the noise explanations.
bool ModelMayExceed(std::string_view text, float floor);
// The value of that bound, in bits: at least TextScore(text).
float ModelBound(std::string_view text);

// A text not yet decoded: `length` stored bytes from `bytes`.
struct StoredText {
  const uint8_t* bytes = nullptr;
  uint64_t length = 0;
};

// TextScoreMayExceed(text, floor) of each text, into may[i] (1 or 0), where byte j of text i is
// decode[texts[i].bytes[j]]. A string it turns down is counted without ever being decoded: most
// strings of a search are. Allocates nothing (it runs under the fault guard).
void StoredTextsMayExceed(std::span<const StoredText> texts, const std::array<uint8_t, 256>& decode,
                          float floor, uint8_t* may);

// The pair bound of a text not yet decoded, `length` stored bytes from `bytes` whose byte j
// reads as decode[bytes[j]]: the best stretch of its largest pair gains (PairGainTable), in
// eighths of a bit; at least 8 * TextScore of the text. Allocates nothing (it runs under the
// fault guard).
int64_t StoredPairBound(const uint8_t* bytes, uint64_t length,
                        const std::array<uint8_t, 256>& decode);

// ModelBound of each text into bounds[i], where byte j of text i is decode[texts[i].bytes[j]]:
// a few texts followed at once, so that the model table's cache misses overlap. Allocates
// nothing (it runs under the fault guard).
void StoredModelBounds(std::span<const StoredText> texts, const std::array<uint8_t, 256>& decode,
                       float* bounds);

// Scores `length` copies of `byte` into `scorer` (after a Reset), leaving Score() and
// BestStart() as feeding them all would, in time that does not grow with the length: padding
// under a key is one such string per key, megabytes long.
void ScoreUniformSpan(TextScorer& scorer, char byte, uint64_t length);

}  // namespace veskor
