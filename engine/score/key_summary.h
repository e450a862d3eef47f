// What the strings of an all-keys search say about each key: counts, lengths, the best strings
// by text score, and the key's score, kept in parts that merge exactly in any order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veskor {

struct BestString {
  uint64_t position = 0;
  uint64_t length = 0;
  float score = 0;   // TextScore of the whole string
  std::string text;  // its first KeySummary::kTextBytes bytes

  bool operator==(const BestString&) const = default;
};

// The strings of one key. Everything it keeps is a sum, a maximum or a best-of list ordered by
// score and then position, so summaries of the blocks of a file merged in any order equal the
// summary of one pass over it.
class KeySummary {
 public:
  // Best strings kept.
  static constexpr size_t kBestCount = 8;
  // Bytes of text kept for a best string.
  static constexpr size_t kTextBytes = 200;
  // A string adds to its key's score only by the evidence above this many bits: random
  // printable bytes stay below it, short words and phrases rise just above it.
  static constexpr double kThresholdBits = 24.0;
  // A key without evidence keeps the best score of its strings above this many bits (and at
  // most kThresholdBits): weaker evidence that still tells such keys apart. Below it a string
  // is noise of any key and needs no score.
  static constexpr double kWeakBits = 16.0;

  // One accepted string; `text_prefix` holds at least its first kTextBytes bytes (longer text is
  // cut). Allocates only while the string enters the best list for the first few times.
  void Add(uint64_t position, uint64_t length, std::string_view text_prefix, float score);
  // One accepted string that was not scored, because its score cannot pass EntryScore(): it
  // counts, and may be the longest, but takes no place among the best. Whatever order strings
  // come in, the best list and the score end as if every string had been scored.
  void Count(uint64_t position, uint64_t length, std::string_view text_prefix);
  // `count` accepted strings counted at once, their lengths adding up to `total_length`, the
  // first of the longest of them at `longest_position`, `longest` long: as Count of each.
  // `longest_text` is read only when MayBecomeLongest(longest_position, longest).
  void CountMany(uint64_t count, uint64_t total_length, uint64_t longest_position, uint64_t longest,
                 std::string_view longest_text);
  // Whether a string would become the longest if counted now: only then does Count read its
  // text, and a string that would not may be counted with an empty one.
  bool MayBecomeLongest(uint64_t position, uint64_t length) const {
    return count_ == 0 || length > longest_ || (length == longest_ && position < longest_position_);
  }
  // Adds the strings of another part of the same key's file.
  void Merge(const KeySummary& other);

  uint64_t Count() const { return count_; }
  uint64_t TotalLength() const { return total_length_; }
  // The longest string's length and position (the first of equally long ones); 0 and 0 with no
  // strings.
  uint64_t Longest() const { return longest_; }
  uint64_t LongestPosition() const { return longest_position_; }
  // The score a string must pass to matter: to count in the key's score and take a place among
  // the best. A string that cannot pass it needs no score (Count it).
  // Of a key without evidence, a string that may beat its weak score matters too.
  float EntryScore() const {
    if (best_.empty()) return std::max<float>(kWeakBits, weak_);
    return best_.size() < kBestCount ? kThresholdBits
                                     : std::max<float>(kThresholdBits, best_.back().score);
  }
  // The string that ranks the key, as the ranking reads it: its best string; without evidence
  // its best below the threshold (WeakScore), else its longest. Its text (the first kTextBytes
  // bytes), position and length.
  const std::string& BestText() const {
    return !best_.empty() ? best_[0].text : weak_ > 0 ? weak_text_ : longest_text_;
  }
  uint64_t BestPosition() const {
    return !best_.empty() ? best_[0].position : weak_ > 0 ? weak_position_ : longest_position_;
  }
  uint64_t BestLength() const {
    return !best_.empty() ? best_[0].length : weak_ > 0 ? weak_length_ : longest_;
  }
  // Best first; equal scores by position.
  const std::vector<BestString>& Best() const { return best_; }

  // How strongly the key hides text: the evidence above kThresholdBits of the best strings, the
  // k-th best weighted 1/k^2, so one long real string lifts its key and a crowd of short junk
  // strings does not. 0 when no string passes the threshold.
  double Score() const;
  // Of a key without evidence (Score() 0), its best string's score when above kWeakBits, else
  // 0; 0 for a key with evidence.
  float WeakScore() const { return weak_; }

  // A key whose strings were not all scored, because the search proved that it can rank
  // neither among the first of its row nor in the "maybe" band: its score is at most Bound()
  // (and its best strings and weak score are not the key's). Counts, lengths and the longest
  // string stay exact. Set on a whole key's summary, after its parts are merged.
  void SetBound(double bound) {
    bounded_ = true;
    bound_ = bound;
  }
  bool Bounded() const { return bounded_; }
  double Bound() const { return bound_; }

  bool operator==(const KeySummary&) const = default;

 private:
  // Orders the best list: higher score first, then lower position.
  static bool Before(float score_a, uint64_t position_a, float score_b, uint64_t position_b);

  uint64_t count_ = 0;
  uint64_t total_length_ = 0;
  uint64_t longest_ = 0;
  uint64_t longest_position_ = 0;
  std::string longest_text_;  // its first kTextBytes bytes
  float weak_ = 0;
  // The string that gives the weak score (the first of equal ones).
  uint64_t weak_position_ = 0;
  uint64_t weak_length_ = 0;
  std::string weak_text_;
  std::vector<BestString> best_;
  bool bounded_ = false;
  double bound_ = 0;
};

// The summaries of the keys of one task row (0 to kKeys - 1: a byte, or a rotation and a byte),
// or of a row that tries every algorithm, of its pairs (PairId: the algorithm's place in the
// table and its key).
class RowSummary {
 public:
  static constexpr int kKeys = 2048;
  explicit RowSummary(int slot_count = kKeys) : keys_(static_cast<size_t>(slot_count)) {}
  static int PairId(int algorithm, int key) { return algorithm * kKeys + key; }
  static int PairAlgorithm(int pair) { return pair / kKeys; }
  static int PairKey(int pair) { return pair % kKeys; }

  KeySummary& operator[](int key) { return keys_.at(static_cast<size_t>(key)); }
  const KeySummary& operator[](int key) const { return keys_.at(static_cast<size_t>(key)); }
  int SlotCount() const { return static_cast<int>(keys_.size()); }

  void Add(int key, uint64_t position, uint64_t length, std::string_view text_prefix, float score) {
    (*this)[key].Add(position, length, text_prefix, score);
  }
  // Merges key by key.
  void Merge(const RowSummary& other);

  // The keys with at least one string, highest score first, equal scores by the weak score,
  // then by the longest string (higher and longer first), then by key ascending; then the keys
  // with a bound instead of a score, the highest bound first, then the longest string, then by
  // key ascending.
  std::vector<int> Ranking() const;
  // The keys a row's results list, best first: the ranking; or, for an algorithm that decodes
  // alike under every key (`unkeyed`), only the row's key (key 1 for an all-keys row) when it
  // found strings.
  std::vector<int> ShownKeys(bool unkeyed, std::optional<int> row_key) const;
  // The strings of the shown keys.
  uint64_t ShownCount(bool unkeyed, std::optional<int> row_key) const;

 private:
  std::vector<KeySummary> keys_;
};

// A key's score as people read it: at most two decimals, no trailing zeros (12.5, 3, 0.07).
std::string ScoreText(double score);
// A number above `bound` with at most two decimals, for "<B": the bound rounded up to the next
// hundredth above it (7.5 gives 7.51, 0 gives 0.01), so that a score of at most `bound` is less.
double BoundAbove(double bound);

}  // namespace veskor
