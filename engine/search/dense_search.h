// The search of all keys for dense alphabets (the printable one among them). For every byte
// value a 256-bit set holds the keys under which it decodes into the alphabet; the sets of m
// consecutive bytes, ANDed by doubling over a block that stays in the cache, give at every
// position the keys under which m members follow, and those without a member just before are
// where spans of m or more begin. One pass finds the spans of every key; only they are judged.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/score/key_summary.h"
#include "engine/search/scan_input.h"

namespace veskor {

class JobRunner;

// The runs of one key in one segment that a pass under a floor counted instead of keeping them:
// their bounds could not pass it. What a summary needs of them: how many, their length, the
// longest, and the bounds the floor left unscored.
struct CountedRuns {
  uint64_t count = 0;
  uint64_t characters = 0;
  uint64_t longest = 0;        // its length, 0 with no run
  uint64_t longest_start = 0;  // the first of the longest
  // A bound above a key's lowest entry (KeySummary::kWeakBits) among them: a string that might
  // have mattered was left unscored.
  bool lossy = false;
  // The highest bounds above KeySummary::kThresholdBits, in bits, the first lost_count of them.
  uint8_t lost_count = 0;
  std::array<float, KeySummary::kBestCount> lost{};
};

// The spans found for a range of keys, per segment of the file and per key, in file order.
class DenseSpans {
 public:
  // Calls f(start, length) for the spans of `key`, in file order; a length of kLongSpan or more
  // stands for a span at least that long, whose end the caller finds.
  static constexpr int kLengthBits = 12;
  static constexpr uint64_t kLongSpan = (uint64_t{1} << kLengthBits) - 1;
  // A segment's starts fit the bits beside the length.
  static constexpr uint64_t kMaxSegmentBytes = uint64_t{1} << (32 - kLengthBits);
  template <class F>
  void ForEach(int key, F&& f) const {
    ForEach(key, 0, segments.size(), f);
  }
  // The same for the spans in segments [from, to).
  template <class F>
  void ForEach(int key, size_t from, size_t to, F&& f) const {
    for (size_t s = from; s < to; ++s) {
      const Segment& segment = segments[s];
      for (uint32_t i = segment.offsets[key]; i < segment.offsets[key + 1]; ++i) {
        const uint32_t packed = segment.spans[i];
        f(segment.begin + (packed >> kLengthBits), packed & kLongSpan);
      }
    }
  }
  // The same with each span's text bound (kUnknownBound when the pass found none):
  // f(start, length, bound).
  static constexpr uint16_t kUnknownBound = 0xFFFF;
  template <class F>
  void ForEachBounded(int key, size_t from, size_t to, F&& f) const {
    for (size_t s = from; s < to; ++s) {
      const Segment& segment = segments[s];
      const uint16_t* bounds = segment.bounds.get();
      for (uint32_t i = segment.offsets[key]; i < segment.offsets[key + 1]; ++i) {
        const uint32_t packed = segment.spans[i];
        f(segment.begin + (packed >> kLengthBits), packed & kLongSpan,
          bounds != nullptr ? bounds[i] : kUnknownBound);
      }
    }
  }

  struct Segment {
    uint64_t begin = 0;
    std::array<uint32_t, 257> offsets{};  // the spans of key k: spans[offsets[k] .. offsets[k+1])
    // Start - begin in the high bits, length in the low; offsets[256] of them. Every entry is
    // written by the sorting, so the array is not filled first, and it is kept for the next pass
    // of the same DenseSpans when it is large enough.
    std::unique_ptr<uint32_t[]> spans;
    size_t capacity = 0;
    // Beside each run, when the pass computed them: the best stretch of the largest gains of
    // the run's decoded text (PairGains), in eighths of a bit, up to kUnknownBound - 1.
    std::unique_ptr<uint16_t[]> bounds;
    size_t bounds_capacity = 0;
    // Of each key (by slot), the runs the pass counted under its floor; empty without one.
    std::vector<CountedRuns> counted;
  };
  std::vector<Segment> segments;

  // The spans of one segment as the screening finds them, in file order, beside their keys. A
  // pass hands them from segment to segment and from pass to pass, so that their memory is
  // grown and paged in once rather than for every segment.
  struct Found {
    std::vector<uint32_t> events;
    std::vector<uint8_t> keys;
    std::vector<uint16_t> bounds;      // when the pass computes them
    std::vector<CountedRuns> counted;  // under a floor, of each key
  };
  Found TakeFound();
  void GiveBack(Found found);

 private:
  std::mutex found_mutex_;
  std::vector<Found> spare_found_;
};

enum class DenseResult { kFound, kTooMany, kStopped };

// Finds the spans of MinLength or more of the keys key_base + first_key .. key_base + last_key
// (first_key and last_key from 0 to 255: the slots of a page of 256 keys, by which the spans and
// counts are kept) over the whole file, segment by segment on the runner's workers. Keeps at most
// `max_spans` runs: past them it stops keeping, counts on, and answers kTooMany with `counts`
// holding every key's number of runs, so that the caller can take the keys in groups that fit.
// With `bounds`, each run also gets the bound of its text's score (Segment::bounds), computed as
// its end is found: a summary then reads the bytes of few runs again. With a `floor` above 0 as
// well (the RankFloor that every key of the pass is summarized under), a run whose bound cannot
// pass it and whose length MaxLength keeps is counted (Segment::counted) instead of kept, and one
// that MaxLength drops is neither.
DenseResult FindDenseSpans(const ScanInput& input, JobRunner& jobs, int key_base, int first_key,
                           int last_key, size_t max_spans, uint64_t segment_bytes, DenseSpans& runs,
                           std::array<uint64_t, 256>& counts, bool bounds = false, float floor = 0);

// Every key's number of spans over the whole file (the keys key_base + first_key .. key_base +
// last_key, by slot) as estimated from an eighth of its segments,
// counted on the runner's workers (all 0 for a file of a few segments, which is not sampled);
// false when a stop ended it. Cheap beside a pass that fails: a file with far more spans than a
// pass keeps goes to groups of keys at once.
bool EstimateDenseSpans(const ScanInput& input, JobRunner& jobs, int key_base, int first_key,
                        int last_key, uint64_t segment_bytes, std::array<uint64_t, 256>& counts);

}  // namespace veskor
