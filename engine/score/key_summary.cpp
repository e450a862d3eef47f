// The per-key summary: counters, the best-string list kept sorted, and the key's score.
#include "engine/score/key_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace veskor {

bool KeySummary::Before(float score_a, uint64_t position_a, float score_b, uint64_t position_b) {
  if (score_a != score_b) return score_a > score_b;
  return position_a < position_b;
}

void KeySummary::Count(uint64_t position, uint64_t length, std::string_view text_prefix) {
  if (MayBecomeLongest(position, length)) {
    longest_ = length;
    longest_position_ = position;
    longest_text_.assign(text_prefix.substr(0, std::min<size_t>(kTextBytes, text_prefix.size())));
  }
  ++count_;
  total_length_ += length;
}

void KeySummary::CountMany(uint64_t count, uint64_t total_length, uint64_t longest_position,
                           uint64_t longest, std::string_view longest_text) {
  if (count == 0) return;
  Count(longest_position, longest, longest_text);
  count_ += count - 1;
  total_length_ += total_length - longest;
}

void KeySummary::Add(uint64_t position, uint64_t length, std::string_view text_prefix,
                     float score) {
  Count(position, length, text_prefix);
  // Strings below the threshold add nothing to the score and are shown only by the longest; the
  // best of them tells keys without evidence apart, until a string passes the threshold.
  if (score <= kThresholdBits) {
    if (best_.empty() && score > kWeakBits &&
        (score > weak_ || (score == weak_ && position < weak_position_))) {
      weak_ = score;
      weak_position_ = position;
      weak_length_ = length;
      weak_text_.assign(text_prefix.substr(0, std::min<size_t>(kTextBytes, length)));
    }
    return;
  }
  if (weak_ > 0) {
    weak_ = 0;
    weak_position_ = weak_length_ = 0;
    weak_text_.clear();
  }
  if (best_.size() == kBestCount &&
      !Before(score, position, best_.back().score, best_.back().position)) {
    return;
  }
  // The new entry takes the last slot (reusing its text buffer once the list is full) and
  // moves up to its place.
  if (best_.size() < kBestCount) best_.emplace_back();
  BestString& slot = best_.back();
  slot.position = position;
  slot.length = length;
  slot.score = score;
  slot.text.assign(text_prefix.substr(0, std::min<size_t>(kTextBytes, length)));
  for (size_t i = best_.size() - 1; i > 0; --i) {
    const BestString& above = best_[i - 1];
    if (!Before(best_[i].score, best_[i].position, above.score, above.position)) break;
    std::swap(best_[i], best_[i - 1]);
  }
}

void KeySummary::Merge(const KeySummary& other) {
  if (other.count_ == 0) return;
  if (count_ == 0 || other.longest_ > longest_ ||
      (other.longest_ == longest_ && other.longest_position_ < longest_position_)) {
    longest_ = other.longest_;
    longest_position_ = other.longest_position_;
    longest_text_ = other.longest_text_;
  }
  count_ += other.count_;
  total_length_ += other.total_length_;
  std::vector<BestString> merged;
  merged.reserve(best_.size() + other.best_.size());
  std::merge(best_.begin(), best_.end(), other.best_.begin(), other.best_.end(),
             std::back_inserter(merged), [](const BestString& a, const BestString& b) {
               return Before(a.score, a.position, b.score, b.position);
             });
  if (merged.size() > kBestCount) merged.resize(kBestCount);
  best_ = std::move(merged);
  if (!best_.empty()) {
    weak_ = 0;
    weak_position_ = weak_length_ = 0;
    weak_text_.clear();
  } else if (other.weak_ > weak_ ||
             (other.weak_ == weak_ && other.weak_ > 0 && other.weak_position_ < weak_position_)) {
    weak_ = other.weak_;
    weak_position_ = other.weak_position_;
    weak_length_ = other.weak_length_;
    weak_text_ = other.weak_text_;
  }
}

double KeySummary::Score() const {
  double score = 0;
  for (size_t k = 0; k < best_.size(); ++k) {
    const double above = best_[k].score - kThresholdBits;
    if (above <= 0) break;
    score += above / static_cast<double>((k + 1) * (k + 1));
  }
  return score;
}

void RowSummary::Merge(const RowSummary& other) {
  for (size_t key = 0; key < std::min(keys_.size(), other.keys_.size()); ++key) {
    keys_[key].Merge(other.keys_[key]);
  }
}

std::vector<int> RowSummary::Ranking() const {
  std::vector<int> keys, bounded;
  std::vector<double> scores(keys_.size());
  for (int key = 0; key < SlotCount(); ++key) {
    if (keys_[key].Count() == 0) continue;
    if (keys_[key].Bounded()) {
      bounded.push_back(key);
      scores[key] = keys_[key].Bound();
    } else {
      keys.push_back(key);
      scores[key] = keys_[key].Score();
    }
  }
  // Keys without evidence (score 0) are told apart by weaker evidence: their best string below
  // the threshold, then their longest string, which a hidden text lengthens; never by their
  // number, where a true key's rank would be the key itself.
  std::stable_sort(keys.begin(), keys.end(), [&](int a, int b) {
    if (scores[a] != scores[b]) return scores[a] > scores[b];
    if (keys_[a].WeakScore() != keys_[b].WeakScore()) {
      return keys_[a].WeakScore() > keys_[b].WeakScore();
    }
    return keys_[a].Longest() > keys_[b].Longest();
  });
  // Keys proved to rank below the others come after every scored key, by their bounds.
  std::stable_sort(bounded.begin(), bounded.end(), [&](int a, int b) {
    if (scores[a] != scores[b]) return scores[a] > scores[b];
    return keys_[a].Longest() > keys_[b].Longest();
  });
  keys.insert(keys.end(), bounded.begin(), bounded.end());
  return keys;
}

std::vector<int> RowSummary::ShownKeys(bool unkeyed, std::optional<int> row_key) const {
  if (!unkeyed) return Ranking();
  const int shown = row_key.value_or(1);
  if ((*this)[shown].Count() == 0) return {};
  return {shown};
}

uint64_t RowSummary::ShownCount(bool unkeyed, std::optional<int> row_key) const {
  uint64_t count = 0;
  for (int key : ShownKeys(unkeyed, row_key)) count += (*this)[key].Count();
  return count;
}

double BoundAbove(double bound) {
  return (std::floor(std::max(0.0, bound) * 100 + 1e-6) + 1) / 100;
}

std::string ScoreText(double score) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", score);
  std::string shown = text;
  while (shown.back() == '0') shown.pop_back();
  if (shown.back() == '.') shown.pop_back();
  return shown;
}

}  // namespace veskor
