// Key recovery: the lag pass, then the frequency analysis of its periodic windows; the keys of
// both merged by value, weighed in bits of evidence, the strongest kept.
#include "engine/recovery/key_recovery.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <optional>

#include "engine/recovery/lag_scan.h"
#include "engine/recovery/text_bytes.h"
#include "engine/recovery/text_fit.h"

namespace veskor {
namespace {

// The frequency analyses made, of the periodic windows with the fewest equalities at the other
// lags first (text under a key has few; tables and code have many at every lag), each of at
// most kPieceBytes of a window: each costs a look at its bytes and a transform per column.
constexpr size_t kMaxFits = 512;
constexpr uint64_t kPieceBytes = 65536;
// A window with more equalities per position than this at the other lags, on average, is a
// table (every lag repeats in it), not text under a key: it is not fitted.
constexpr float kMaxOffRate = 0.25f;
// A fit reads as text when its columns are close to text's distribution and repeat little
// (divergence in bits per byte, plus twice the repeat rate: a text's columns may be peaky, as
// indentation makes them, but then they follow text closely; padding and tables turned into
// words repeat and sit far from text), its bytes' pairs score at least kMinPairBits, its key
// makes its pairs read at least kMinGain bits better than the stored bytes' (text that was never
// encoded gains nothing), over at least kMinTextBytes. Its weight is its bytes times their
// pairs' bits above kPairFloor.
constexpr float kMaxUnlikeText = 2.8f;
constexpr float kMinPairBits = -8.2f;
constexpr float kMinGain = 2.5f;
constexpr uint64_t kMinTextBytes = 64;
constexpr double kPairFloor = -8.5;
// A stretch that reads as text under a key, and its weight per byte.
struct TextStretch {
  uint64_t start, end;
  double rate;
};

// A candidate, and how well the best of its text reads (bits per byte pair; no text: -inf).
struct Evidence {
  KeyCandidate candidate;
  float best_pair_bits = -std::numeric_limits<float>::infinity();
  std::vector<TextStretch> texts = {};
};

struct Found {
  std::map<XorKey, Evidence> keys;

  Evidence* Of(std::span<const uint8_t> bytes, uint64_t start) {
    const std::optional<XorKey> key = XorKey::Of(bytes);
    if (!key) return nullptr;
    auto [it, added] = keys.try_emplace(*key, Evidence{KeyCandidate{*key}});
    KeyCandidate& c = it->second.candidate;
    if (added || start < c.first_offset) c.first_offset = start;
    return &it->second;
  }
  void AddLeak(std::span<const uint8_t> bytes, uint64_t start, uint64_t length, double weight) {
    Evidence* e = Of(bytes, start);
    if (e == nullptr) return;
    e->candidate.leak_bytes += length;
    ++e->candidate.leak_places;
    e->candidate.weight += weight;
  }
  void AddText(std::span<const uint8_t> bytes, uint64_t start, uint64_t end, double rate,
               float pair_bits) {
    Evidence* e = Of(bytes, start);
    if (e == nullptr) return;
    e->texts.push_back({start, end, rate});
    e->best_pair_bits = std::max(e->best_pair_bits, pair_bits);
  }
  // Windows of several periods, windows that overlap and the pieces of a long window find the
  // same text: each key's text stretches are merged where they overlap or touch and weighed
  // once, at their best rate.
  void WeighTexts() {
    for (auto& [key, e] : keys) {
      std::sort(e.texts.begin(), e.texts.end(),
                [](const TextStretch& a, const TextStretch& b) { return a.start < b.start; });
      for (size_t i = 0; i < e.texts.size();) {
        TextStretch merged = e.texts[i];
        for (++i; i < e.texts.size() && e.texts[i].start <= merged.end; ++i) {
          merged.end = std::max(merged.end, e.texts[i].end);
          merged.rate = std::max(merged.rate, e.texts[i].rate);
        }
        const uint64_t length = merged.end - merged.start;
        e.candidate.text_bytes += length;
        ++e.candidate.text_places;
        e.candidate.weight += static_cast<double>(length) * merged.rate;
      }
    }
  }
};

// Adds the fit's key to the candidates when its stretch reads as text.
void Judge(const TextFit& fit, Found& found) {
  const uint64_t length = fit.end - fit.start;
  const float gain = fit.pair_bits - fit.stored_pair_bits;
  if (fit.divergence + 2 * fit.repeat_rate > kMaxUnlikeText || fit.pair_bits < kMinPairBits ||
      gain < kMinGain ||
      length < std::max<uint64_t>(kMinTextBytes, 4 * static_cast<uint64_t>(fit.period))) {
    return;
  }
  found.AddText({fit.key.data(), static_cast<size_t>(fit.period)}, fit.start, fit.end,
                fit.pair_bits - kPairFloor, fit.pair_bits);
}

// Which of two keys of one family stands for it: of two texts the one that reads better, of two
// leaks the one with more leaked bytes (zero bytes are more common than 0xFF).
bool StandsFor(const Evidence& a, const Evidence& b) {
  if (a.best_pair_bits != b.best_pair_bits) return a.best_pair_bits > b.best_pair_bits;
  if (a.candidate.leak_bytes != b.candidate.leak_bytes) {
    return a.candidate.leak_bytes > b.candidate.leak_bytes;
  }
  return a.candidate.weight > b.candidate.weight;
}

// Keys that differ by one byte repeated read the same stored bytes, one of them with every byte
// flipped by that byte: runs of 0xFF bytes leak a program's key flipped by 0xFF, columns of text
// may fit it flipped by 0x20 (capitals). Of such keys with evidence of the same kind (leaks only,
// or text only) one stands for the rest and takes their evidence. A leak and a text are kept
// apart: a program's zero bytes read as spaces under its key flipped by 0x20, and runs of spaces
// leak a text's key so flipped, and only the search can tell which reading is the real one.
std::vector<KeyCandidate> MergeShadows(const std::map<XorKey, Evidence>& keys) {
  // By kind (0 leaks only, 1 text only, 2 both) and the family's form: the key flipped by its
  // own first byte (a flip keeps its period).
  std::map<std::pair<int, XorKey>, Evidence> families;
  for (const auto& [key, evidence] : keys) {
    const KeyCandidate& c = evidence.candidate;
    const int kind = c.text_places == 0 ? 0 : c.leak_places == 0 ? 1 : 2;
    std::array<uint8_t, XorKey::kMaxSize> form;
    for (size_t i = 0; i < key.size(); ++i) form[i] = key[i] ^ key[0];
    const XorKey family = kind == 2 ? key : *XorKey::Of({form.data(), key.size()});
    auto [it, added] = families.try_emplace({kind, family}, evidence);
    if (added) continue;
    Evidence& kept = it->second;
    Evidence merged = StandsFor(evidence, kept) ? evidence : kept;
    KeyCandidate& m = merged.candidate;
    const KeyCandidate &a = kept.candidate, &b = evidence.candidate;
    m.leak_bytes = a.leak_bytes + b.leak_bytes;
    m.leak_places = a.leak_places + b.leak_places;
    m.text_bytes = a.text_bytes + b.text_bytes;
    m.text_places = a.text_places + b.text_places;
    m.first_offset = std::min(a.first_offset, b.first_offset);
    m.weight = a.weight + b.weight;
    merged.best_pair_bits = std::max(kept.best_pair_bits, evidence.best_pair_bits);
    kept = merged;
  }
  std::vector<KeyCandidate> candidates;
  candidates.reserve(families.size());
  for (auto& [form, evidence] : families) candidates.push_back(evidence.candidate);
  return candidates;
}

}  // namespace

std::vector<KeyCandidate> RecoverKeys(const uint8_t* data, uint64_t size,
                                      const RecoveryOptions& options, const MappedReads& reads) {
  auto read = [&](const std::function<void()>& body) {
    if (reads) return reads(body);
    body();
    return true;
  };
  PrepareTextBytes();  // the model is built here, never inside a guarded body
  LagScan scan(data, size);
  const uint64_t batch = std::max<uint64_t>(64, options.batch_bytes / 64 * 64);
  bool go_on = true;
  while (go_on && scan.position() < size) {
    const uint64_t next = std::min(size, scan.position() + batch);
    go_on = read([&] { scan.Scan(next); });
  }
  if (go_on) go_on = read([&] { scan.Finish(); });

  Found found;
  for (const LeakStretch& leak : scan.leaks()) {
    const uint64_t length = leak.end - leak.start;
    found.AddLeak({leak.key.data(), static_cast<size_t>(leak.period)}, leak.start, length,
                  8.0 * static_cast<double>(length - static_cast<uint64_t>(leak.period)));
  }
  std::vector<PeriodicWindow> windows = scan.windows();
  std::stable_sort(
      windows.begin(), windows.end(),
      [](const PeriodicWindow& a, const PeriodicWindow& b) { return a.off_rate < b.off_rate; });
  // Long windows are fitted in pieces, so that a fit's cost is bounded and text in the middle
  // of a long stretch under a key has columns of its own.
  size_t fits = 0;
  for (const PeriodicWindow& window : windows) {
    if (window.off_rate > kMaxOffRate) break;
    for (uint64_t piece = window.start; go_on && piece < window.end && fits < kMaxFits;
         piece += kPieceBytes) {
      ++fits;
      const uint64_t piece_end = std::min(window.end, piece + kPieceBytes);
      TextFit fit;
      go_on = read([&] { FitTextKey(data, piece, piece_end, window.period, fit); });
      if (go_on) Judge(fit, found);
    }
  }

  found.WeighTexts();
  std::vector<KeyCandidate> candidates = MergeShadows(found.keys);
  for (KeyCandidate& candidate : candidates) {
    const XorKey& key = candidate.key;
    // Tables of numbers and structures repeat with zero and 0xFF bytes in them (small and
    // negative numbers), keys rarely hold one (a zero byte would leave its column as it was).
    const auto extremes = static_cast<double>(std::count_if(
        key.bytes().begin(), key.bytes().end(), [](uint8_t b) { return b == 0 || b == 0xFF; }));
    const double kept = 1.0 - extremes / static_cast<double>(key.size());
    candidate.weight *= kept * kept;
  }
  std::stable_sort(
      candidates.begin(), candidates.end(),
      [](const KeyCandidate& a, const KeyCandidate& b) { return a.weight > b.weight; });
  if (candidates.size() > options.max_candidates) {
    candidates.erase(candidates.begin() + static_cast<ptrdiff_t>(options.max_candidates),
                     candidates.end());
  }
  return candidates;
}

}  // namespace veskor
