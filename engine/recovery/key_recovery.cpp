// Key recovery: the lag pass, then the frequency analysis of its periodic windows; the keys of
// both merged by value, weighed in bits of evidence, the strongest kept.
#include "engine/recovery/key_recovery.h"

#include <algorithm>
#include <map>
#include <optional>

#include "engine/recovery/lag_scan.h"
#include "engine/recovery/text_bytes.h"
#include "engine/recovery/text_fit.h"

namespace veskor {
namespace {

// The periodic windows given a frequency analysis, those with the fewest equalities at the
// other lags first (text under a key has few; tables and code have many at every lag): each
// costs a look at its bytes and a transform per column.
constexpr size_t kMaxWindows = 512;
// A fit reads as text when its columns are this close to text's distribution (bits per byte),
// its bytes' pairs score at least this well, its key makes its bytes read at least this much
// better as text than the stored bytes do (bits per byte: text that was never encoded gains
// nothing), over at least this many bytes. Its weight is its bytes times their pairs' bits above
// kPairFloor.
constexpr float kMaxDivergence = 2.7f;
constexpr float kMinPairBits = -8.2f;
constexpr float kMinGain = 2.5f;
constexpr uint64_t kMinTextBytes = 64;
constexpr double kPairFloor = -8.5;

struct Found {
  std::map<XorKey, KeyCandidate> keys;

  void Add(std::span<const uint8_t> bytes, uint64_t start, uint64_t length, bool leak,
           double weight) {
    const std::optional<XorKey> key = XorKey::Of(bytes);
    if (!key) return;
    auto [it, added] = keys.try_emplace(*key, KeyCandidate{*key});
    KeyCandidate& c = it->second;
    if (added || start < c.first_offset) c.first_offset = start;
    if (leak) {
      c.leak_bytes += length;
      ++c.leak_places;
    } else {
      c.text_bytes += length;
      ++c.text_places;
    }
    c.weight += weight;
  }
};

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
    found.Add({leak.key.data(), static_cast<size_t>(leak.period)}, leak.start, length, true,
              8.0 * static_cast<double>(length - static_cast<uint64_t>(leak.period)));
  }
  std::vector<PeriodicWindow> windows = scan.windows();
  std::stable_sort(
      windows.begin(), windows.end(),
      [](const PeriodicWindow& a, const PeriodicWindow& b) { return a.off_rate < b.off_rate; });
  if (windows.size() > kMaxWindows) windows.resize(kMaxWindows);
  for (const PeriodicWindow& window : windows) {
    if (!go_on) break;
    TextFit fit;
    go_on = read([&] { FitTextKey(data, window.start, window.end, window.period, fit); });
    const uint64_t length = fit.end - fit.start;
    const float gain = fit.text_bits - fit.stored_bits;
    if (!go_on || fit.divergence > kMaxDivergence || fit.pair_bits < kMinPairBits ||
        gain < kMinGain ||
        length < std::max<uint64_t>(kMinTextBytes, 4 * static_cast<uint64_t>(fit.period))) {
      continue;
    }
    found.Add({fit.key.data(), static_cast<size_t>(fit.period)}, fit.start, length, false,
              static_cast<double>(length) * (fit.pair_bits - kPairFloor));
  }

  std::vector<KeyCandidate> candidates;
  candidates.reserve(found.keys.size());
  for (auto& [key, candidate] : found.keys) {
    // A zero byte leaves its column as it was: tables of numbers and structures repeat with
    // zero bytes in them, keys rarely hold one.
    const auto zeros = static_cast<double>(std::count(key.bytes().begin(), key.bytes().end(), 0));
    const double kept = 1.0 - zeros / static_cast<double>(key.size());
    candidate.weight *= kept * kept;
    candidates.push_back(candidate);
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
