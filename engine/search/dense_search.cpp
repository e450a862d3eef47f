// Key sets per byte value, their AND over m positions by doubling, and the spans that begin where
// the set of the byte before lacks the key.
#include "engine/search/dense_search.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <type_traits>

#include "engine/input/fault_guard.h"
#include "engine/score/text_score.h"
#include "engine/search/job_runner.h"
#include "text/arithmetic.h"

namespace veskor {
namespace {

// 256 keys, one bit each, as one AVX2 register where the processor has it.
typedef uint64_t KeySet __attribute__((vector_size(32)));

// An AVX2 and a default clone, chosen by a resolver when the program is loaded. Under
// ThreadSanitizer the compiler instruments that resolver too, and it runs before the sanitizer's
// runtime is up, so the program would crash at start: those builds take the default code alone.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VESKOR_UNDER_TSAN
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(VESKOR_UNDER_TSAN)
#define VESKOR_AVX2_CLONES
#else
#define VESKOR_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#endif

bool Has(const KeySet& set, int key) { return (set[key >> 6] >> (key & 63)) & 1; }

bool Empty(const KeySet& set) { return (set[0] | set[1] | set[2] | set[3]) == 0; }

// Positions looked at as span starts per block: the block's sets (32 bytes each) stay in L2.
constexpr uint64_t kBlockPositions = 4096;
// Files of fewer segments than this are not sampled for their number of spans.
constexpr size_t kSampledSegments = 16;
// A pass over a file of fewer segments than this many per worker cuts it into that many, each
// at least kBalancedSegmentBytes long.
constexpr int kBalancedSegmentsPerWorker = 4;
constexpr uint64_t kBalancedSegmentBytes = uint64_t{64} << 10;
// Bytes looked at past the block's windows before a span's end is looked for in the file itself.
constexpr uint64_t kTailBytes = 64;

struct Screen {
  std::array<KeySet, 256> sets;    // the keys (of the range) under which b is a member
  std::array<uint64_t, 256> lane;  // the same, of the one lane that holds a range that fits
  int lane_base = 0;               // the first key of that lane
  std::vector<ByteClass> members;  // per key, for the end of long spans
  uint64_t m = 1;
  // A running key decodes the byte at offset i under key + step * i: its set at i is the set of
  // key 0 turned by step * i. `turned` holds every byte's set of key 0 twice over (512 bits),
  // shifted right by 0 to 7 bits, so that a set turned by s is 32 bytes read from byte s / 8 of
  // the copy shifted by s % 8.
  int step = 0;
  int key_base = 0;
  const std::array<bool, 256>* in_alphabet = nullptr;
  std::vector<std::array<uint8_t, 64>> turned;  // [shift * 256 + b]
  KeySet range{0, 0, 0, 0};                     // the keys of the range
  // With bounds: of each key (by slot), the place in the alphabet of every stored byte's
  // decoded value, kNoMember for a byte outside it (a running key's: of its decoded value);
  // and the pair gains between the alphabet's members, so that the tables stay in the cache.
  static constexpr uint8_t kNoMember = 0xFF;
  bool bounds = false;
  // With bounds: the floor under which runs are counted rather than kept (0: every run kept),
  // and MaxLength (0: none).
  float floor = 0;
  uint64_t max_length = 0;
  std::vector<std::array<uint8_t, 256>> places;
  std::array<uint8_t, 256> place{};  // of each decoded value
  std::vector<int8_t> after;         // [place before << shift | place]
  std::vector<int8_t> first;         // [place]
  int shift = 0;                     // places fit 1 << shift
  // Of a small alphabet, the gains of a place after two others (TripleGainTable), tighter than
  // the pair gains: far fewer runs then pass a summary's floor. Null for a large alphabet.
  std::shared_ptr<const TripleGainTable> triple;
  size_t places_count = 0;

  const KeySet* Table(const KeySet*) const { return sets.data(); }
  const uint64_t* Table(const uint64_t*) const { return lane.data(); }

  // The keys under which the byte b at `position` is a member, of a running key. (An out
  // parameter: a 256-bit value returned without AVX would change the calling convention.)
  __attribute__((always_inline)) void TurnedSet(uint8_t b, uint64_t position, KeySet& set) const {
    const unsigned s = (step > 0 ? position : 0 - position) & 0xFF;
    std::memcpy(&set, turned[(s & 7) * 256 + b].data() + (s >> 3), sizeof set);
    set &= range;
  }
  // Whether the stored byte b at `position` is a member under the key of slot `key`.
  bool Member(int key, uint8_t b, uint64_t position) const {
    if (step == 0) return Has(sets[b], key);
    const auto at = static_cast<int64_t>(position);
    return (*in_alphabet)[static_cast<uint8_t>(b ^ (key_base + key + step * at))];
  }
  // The place in the alphabet of the stored byte b at `position` under the key of slot `key`
  // (with bounds), or kNoMember.
  uint8_t Place(int key, uint8_t b, uint64_t position) const {
    if (step == 0) return places[static_cast<size_t>(key)][b];
    const auto at = static_cast<int64_t>(position);
    return place[static_cast<uint8_t>(b ^ (key_base + key + step * at))];
  }
};

// The sets of positions [0, n) of `bytes`, ANDed so that entry i holds the keys under which
// bytes i .. i + m - 1 are all members (entries up to count - m are meaningful). One loop per
// doubling step; each stays in the cache.
template <class Set>
__attribute__((always_inline)) inline void AndWindowsOf(Set* window, size_t count, uint64_t m) {
  uint64_t covered = 1;
  while (2 * covered <= m) {
    const size_t last = count - covered;
    for (size_t i = 0; i < last; ++i) window[i] &= window[i + covered];
    covered *= 2;
  }
  if (covered < m) {
    const uint64_t rest = m - covered;
    for (size_t i = 0; i + rest < count; ++i) window[i] &= window[i + rest];
  }
}

template <class Set>
__attribute__((always_inline)) inline void WindowSetsOf(const Set* table, const uint8_t* bytes,
                                                        size_t count, uint64_t m, Set* window) {
  for (size_t i = 0; i < count; ++i) window[i] = table[bytes[i]];
  AndWindowsOf(window, count, m);
}

// The sets of `count` positions in `window`, ANDed as WindowSets does.
VESKOR_AVX2_CLONES void AndWindows(KeySet* window, size_t count, uint64_t m) {
  AndWindowsOf(window, count, m);
}

VESKOR_AVX2_CLONES void WindowSets(const KeySet* table, const uint8_t* bytes, size_t count,
                                   uint64_t m, KeySet* window) {
  WindowSetsOf(table, bytes, count, m, window);
}

VESKOR_AVX2_CLONES void WindowSets(const uint64_t* table, const uint8_t* bytes, size_t count,
                                   uint64_t m, uint64_t* window) {
  WindowSetsOf(table, bytes, count, m, window);
}

bool Empty(uint64_t set) { return set == 0; }

// The keys whose spans begin at position i: members from i on, none at i - 1. (An out parameter:
// a 256-bit value returned without AVX would change the calling convention.)
template <class Set>
__attribute__((always_inline)) inline void BeginsAt(const Set* window, const Set* table,
                                                    const uint8_t* bytes, size_t i, Set& begins) {
  begins = window[i] & ~table[bytes[static_cast<ptrdiff_t>(i) - 1]];
}

// The first position from i on, before `starts`, where some span begins, else `starts`. Four
// positions are looked at per branch: in a binary, spans begin in a few positions of a hundred.
template <class Set>
__attribute__((always_inline)) inline size_t NextBeginOf(const Set* window, const Set* table,
                                                         const uint8_t* bytes, size_t i,
                                                         size_t starts) {
  Set a, b, c, d;
  for (; i + 4 <= starts; i += 4) {
    BeginsAt(window, table, bytes, i, a);
    BeginsAt(window, table, bytes, i + 1, b);
    BeginsAt(window, table, bytes, i + 2, c);
    BeginsAt(window, table, bytes, i + 3, d);
    if (!Empty(a | b | c | d)) break;
  }
  for (; i < starts; ++i) {
    BeginsAt(window, table, bytes, i, a);
    if (!Empty(a)) break;
  }
  return i;
}

// (Called through the clones' resolver, so never inlined; under ThreadSanitizer it has no clones.)
VESKOR_AVX2_CLONES size_t NextBegin(const KeySet* window, const KeySet* table, const uint8_t* bytes,
                                    size_t i, size_t starts) {
  return NextBeginOf(window, table, bytes, i, starts);
}

__attribute__((noinline)) size_t NextBegin(const uint64_t* window, const uint64_t* table,
                                           const uint8_t* bytes, size_t i, size_t starts) {
  return NextBeginOf(window, table, bytes, i, starts);
}

// The keys of a set, one 64-bit lane at a time: all four lanes, or the one lane of a range of
// keys that fits in it.
template <class Set>
struct Lanes;
template <>
struct Lanes<KeySet> {
  static constexpr int kCount = 4;
  static uint64_t Get(const KeySet& set, int lane) { return set[lane]; }
};
template <>
struct Lanes<uint64_t> {
  static constexpr int kCount = 1;
  static uint64_t Get(uint64_t set, int) { return set; }
};

// The spans of one segment [begin, end) of the file: per key, the spans that begin there. `Set`
// holds the keys of a position: all 256, or the 64 of one lane.
template <class Set>
class SegmentScreen {
 public:
  // `kept` counts the spans that all segments keep, up to `max_spans`; past it `keeping` turns
  // false and every segment only counts from then on.
  // The spans go into `found`, emptied first.
  SegmentScreen(const ScanInput& input, const Screen& screen, std::atomic<bool>& keeping,
                std::atomic<size_t>& kept, size_t max_spans, DenseSpans::Found& found)
      : input_(input),
        screen_(screen),
        keeping_(keeping),
        kept_(kept),
        max_spans_(max_spans),
        keep_(keeping.load()),
        events_(found.events),
        event_keys_(found.keys),
        event_bounds_(found.bounds),
        counted_(found.counted) {
    window_.reset(new Set[kBlockPositions + 256]);
    events_.clear();
    event_keys_.clear();
    event_bounds_.clear();
    counted_.assign(screen.bounds && screen.floor > 0 ? 256 : 0, CountedRuns());
  }

  // False when a checkpoint said to stop.
  bool Run(uint64_t begin, uint64_t end, JobOutput& out) {
    for (uint64_t p = begin; p < end; p += kBlockPositions) {
      if ((p - begin) % input_.batch_bytes < kBlockPositions && !out.Checkpoint()) return false;
      const size_t before = events_.size();
      Block(p, std::min(end, p + kBlockPositions), begin);
      if (!keep_) continue;
      const size_t added = events_.size() - before;
      if (!keeping_.load(std::memory_order_relaxed) ||
          kept_.fetch_add(added, std::memory_order_relaxed) + added > max_spans_) {
        keeping_.store(false);
        keep_ = false;
        std::vector<uint32_t>().swap(events_);
        std::vector<uint8_t>().swap(event_keys_);
        std::vector<uint16_t>().swap(event_bounds_);
      }
    }
    return true;
  }

  bool kept_all() const { return keep_; }

  const std::array<uint64_t, 256>& counts() const { return counts_; }

 private:
  // Positions [p, q) as span starts. The bytes from p - 1 up to the last window and a tail are
  // copied out of the mapping first, so that a file that shrinks faults only there.
  void Block(uint64_t p, uint64_t q, uint64_t segment_begin) {
    const uint64_t m = screen_.m;
    const uint64_t from = p == 0 ? 0 : p - 1;
    const uint64_t to = std::min(input_.size, q + m - 1 + kTailBytes);
    bytes_.resize(static_cast<size_t>(to - from));
    uint8_t* copy = bytes_.data();
    const uint8_t* source = input_.data + from;
    const size_t length = bytes_.size();
    if (!ReadMapped([&] { std::memcpy(copy, source, length); })) throw InputReadError();
    const uint8_t* bytes = copy + (p - from);  // bytes[i] is position p + i
    const uint64_t copied = to - p;            // bytes[0 .. copied) are there
    // Windows that reach past the file's end have no keys.
    const uint64_t windows_end = std::min(q, input_.size >= m ? input_.size - m + 1 : 0);
    if (windows_end <= p) return;
    const size_t starts = static_cast<size_t>(windows_end - p);
    if constexpr (std::is_same_v<Set, KeySet>) {
      if (screen_.step != 0) return RunningBlock(p, bytes, starts, segment_begin, copied);
    }
    const Set* table = screen_.Table(static_cast<const Set*>(nullptr));
    Set* const window = window_.get();
    WindowSets(table, bytes, starts + m - 1, m, window);
    // At the file's start no member comes before.
    const size_t first = p == 0 ? 1 : 0;
    if (p == 0 && !Empty(window[0])) Begins(window[0], 0, 0, segment_begin, bytes, copied);
    // The next position where some span begins, in a function of its own whose loop keeps its
    // counter in a register, then the spans that begin there.
    for (size_t i = NextBegin(window, table, bytes, first, starts); i < starts;
         i = NextBegin(window, table, bytes, i + 1, starts)) {
      Set begins;
      BeginsAt(window, table, bytes, i, begins);
      Begins(begins, p, i, segment_begin, bytes, copied);
    }
  }

  // Block for a running key: every position's set turned by its offset. turned_[i] holds the
  // set of position p + i - 1.
  void RunningBlock(uint64_t p, const uint8_t* bytes, size_t starts, uint64_t segment_begin,
                    uint64_t copied) {
    const uint64_t m = screen_.m;
    const size_t count = starts + m - 1;
    turned_.resize(count + 1);
    Set* const window = window_.get();
    if (p > 0) screen_.TurnedSet(bytes[-1], p - 1, turned_[0]);
    for (size_t i = 0; i < count; ++i) {
      screen_.TurnedSet(bytes[i], p + i, turned_[i + 1]);
      window[i] = turned_[i + 1];
    }
    AndWindows(window, count, m);
    for (size_t i = 0; i < starts; ++i) {
      // At the file's start no member comes before.
      const Set begins = p + i == 0 ? window[0] : window[i] & ~turned_[i];
      if (!Empty(begins)) Begins(begins, p, i, segment_begin, bytes, copied);
    }
  }

  // Spans of the keys in `begins` start at position p + i.
  void Begins(const Set& begins, uint64_t p, size_t i, uint64_t segment_begin, const uint8_t* bytes,
              uint64_t copied) {
    const uint64_t m = screen_.m;
    {
      for (int lane = 0; lane < Lanes<Set>::kCount; ++lane) {
        for (uint64_t keys = Lanes<Set>::Get(begins, lane); keys != 0; keys &= keys - 1) {
          const int key = screen_.lane_base + lane * 64 + __builtin_ctzll(keys);
          ++counts_[key];
          if (!keep_) continue;
          // The span's end, up to kLongSpan: in the copied bytes, then in the file when it goes on
          // past them.
          const uint64_t stop = std::min(copied, i + DenseSpans::kLongSpan);
          uint64_t end = i + m;
          uint16_t bound = DenseSpans::kUnknownBound;
          if (screen_.bounds) {
            end = BoundedEnd(key, p, i, stop, bytes, bound);
          } else {
            while (end < stop && screen_.Member(key, bytes[end], p + end)) ++end;
          }
          uint64_t span_end = p + end;
          const uint64_t limit = std::min(input_.size, p + i + DenseSpans::kLongSpan);
          if (end == copied && span_end < limit) {
            const Screen& screen = screen_;
            const uint8_t* data = input_.data;
            if (!ReadMapped([&] {
                  if (screen.step != 0) {
                    while (span_end < limit && screen.Member(key, data[span_end], span_end))
                      ++span_end;
                  } else {
                    span_end = SpanEnd(data, screen.members[key], span_end, limit);
                  }
                })) {
              throw InputReadError();
            }
          }
          // A run read through whose bound cannot pass the floor is counted, not kept.
          if (!counted_.empty() && span_end == p + end && end < i + DenseSpans::kLongSpan) {
            const uint64_t length = span_end - (p + i);
            if (screen_.max_length != 0 && length > screen_.max_length) continue;
            const float value = static_cast<float>(bound) / PairGainTable::kUnitsPerBit;
            if (value <= screen_.floor) {
              Count(counted_[static_cast<size_t>(key)], p + i, length, value);
              continue;
            }
          }
          events_.push_back(static_cast<uint32_t>(
              (p + i - segment_begin) << DenseSpans::kLengthBits | (span_end - (p + i))));
          event_keys_.push_back(static_cast<uint8_t>(key));
          // A run that went on past the copied bytes, or as far as kLongSpan, was not read
          // through.
          if (screen_.bounds) {
            event_bounds_.push_back(span_end == p + end && end < i + DenseSpans::kLongSpan
                                        ? bound
                                        : DenseSpans::kUnknownBound);
          }
        }
      }
    }
  }

  // Counts a run of `length` from `start` whose bound, `value` bits, cannot pass the floor: as a
  // summary under the floor would count it (SpanJudge::Skip), its text never read.
  static void Count(CountedRuns& runs, uint64_t start, uint64_t length, float value) {
    ++runs.count;
    runs.characters += length;
    // Runs come in file order: the first of equally long ones stays.
    if (length > runs.longest) {
      runs.longest = length;
      runs.longest_start = start;
    }
    runs.lossy |= value > KeySummary::kWeakBits;
    if (value > KeySummary::kThresholdBits) {
      if (runs.lost_count < runs.lost.size()) {
        runs.lost[runs.lost_count++] = value;
      } else {
        float* lowest = std::min_element(runs.lost.begin(), runs.lost.end());
        if (value > *lowest) *lowest = value;
      }
    }
  }

  // The end of the run of slot `key` that starts at bytes[i] (position p + i), found as the
  // plain loop finds it (up to `stop`), and the best stretch of the pair gains of its decoded
  // text in `bound`, in eighths of a bit: the bound of its score that a summary reads instead
  // of the text.
  uint64_t BoundedEnd(int key, uint64_t p, uint64_t i, uint64_t stop, const uint8_t* bytes,
                      uint16_t& bound) const {
    const int8_t* after = screen_.after.data();
    const int shift = screen_.shift;
    size_t before = screen_.Place(key, bytes[i], p + i);
    int32_t run = screen_.first[before];
    int32_t best = run;
    uint64_t end = i + 1;
    if (screen_.triple != nullptr) {
      // The second character after the first, every later one after the two before it.
      const int8_t* rows = screen_.triple->rows.data();
      const uint32_t* row_of = screen_.triple->row_of.data();
      const size_t n = screen_.places_count;
      if (end < stop) {
        const uint8_t place = screen_.Place(key, bytes[end], p + end);
        if (place == Screen::kNoMember) {
          bound =
              static_cast<uint16_t>(std::clamp<int32_t>(best, 0, DenseSpans::kUnknownBound - 1));
          return end;
        }
        run = std::max(run, 0) + after[before << shift | place];
        best = std::max(best, run);
        size_t row = row_of[before * n + place];  // of the two characters before
        size_t last = place;
        for (++end; end < stop; ++end) {
          const uint8_t next = screen_.Place(key, bytes[end], p + end);
          if (next == Screen::kNoMember) break;
          run = std::max(run, 0) + rows[row + next];
          best = std::max(best, run);
          row = row_of[last * n + next];
          last = next;
        }
      }
    } else {
      for (; end < stop; ++end) {
        const uint8_t place = screen_.Place(key, bytes[end], p + end);
        if (place == Screen::kNoMember) break;
        run = std::max(run, 0) + after[before << shift | place];
        best = std::max(best, run);
        before = place;
      }
    }
    bound = static_cast<uint16_t>(std::clamp<int32_t>(best, 0, DenseSpans::kUnknownBound - 1));
    return end;
  }

  const ScanInput& input_;
  const Screen& screen_;
  std::atomic<bool>& keeping_;
  std::atomic<size_t>& kept_;
  const size_t max_spans_;
  bool keep_;
  std::unique_ptr<Set[]> window_;
  std::vector<Set> turned_;
  std::vector<uint8_t> bytes_;
  std::array<uint64_t, 256> counts_{};
  // The spans found, in file order: start - segment begin and length packed as a segment keeps
  // them, and beside them their keys.
  std::vector<uint32_t>& events_;
  std::vector<uint8_t>& event_keys_;
  std::vector<uint16_t>& event_bounds_;  // with bounds
  std::vector<CountedRuns>& counted_;    // of each key, under a floor
};

}  // namespace

DenseSpans::Found DenseSpans::TakeFound() {
  std::lock_guard lock(found_mutex_);
  if (spare_found_.empty()) return {};
  Found found = std::move(spare_found_.back());
  spare_found_.pop_back();
  return found;
}

void DenseSpans::GiveBack(Found found) {
  std::lock_guard lock(found_mutex_);
  spare_found_.push_back(std::move(found));
}

namespace {

Screen MakeScreen(const ScanInput& input, int key_base, int first_key, int last_key,
                  bool bounds = false, float floor = 0) {
  Screen screen;
  screen.bounds = bounds;
  screen.floor = floor;
  screen.max_length = input.fields->MaxLength;
  if (bounds) {
    std::vector<uint8_t> values;
    screen.place.fill(Screen::kNoMember);
    for (int c = 0; c < 256; ++c) {
      if (!input.in_alphabet[c]) continue;
      screen.place[c] = static_cast<uint8_t>(values.size());
      values.push_back(static_cast<uint8_t>(c));
    }
    // An alphabet of every byte value has no place left for kNoMember: it finds one run, the
    // whole file, whose bound the summary reads from its text.
    if (values.size() == 256) screen.bounds = false;
    screen.triple = TripleGains(values);
    screen.places_count = values.size();
    const PairGainTable& gains = PairGains();
    while ((size_t{1} << screen.shift) < values.size()) ++screen.shift;
    screen.after.resize(values.size() << screen.shift);
    screen.first.resize(values.size());
    for (size_t a = 0; a < values.size(); ++a) {
      screen.first[a] = gains.first[values[a]];
      for (size_t b = 0; b < values.size(); ++b) {
        screen.after[a << screen.shift | b] = gains.after[values[a]][values[b]];
      }
    }
    if (input.algorithm->Step == 0) {
      screen.places.resize(256);
      for (int key = first_key; key <= last_key; ++key) {
        const DecodeTable decode = MakeDecodeTable(input.algorithm->Decode, key_base + key);
        for (int b = 0; b < 256; ++b) {
          screen.places[static_cast<size_t>(key)][b] = screen.place[decode[b]];
        }
      }
    }
  }
  screen.m = input.min_span;
  screen.step = input.algorithm->Step;
  screen.key_base = key_base;
  screen.in_alphabet = &input.in_alphabet;
  const DecodeFunction decode = input.algorithm->Decode;
  for (int b = 0; b < 256; ++b) {
    KeySet set{0, 0, 0, 0};
    for (int key = first_key; key <= last_key; ++key) {
      if (input.in_alphabet[decode(static_cast<uint8_t>(b), key_base + key)]) {
        set[key >> 6] |= uint64_t{1} << (key & 63);
      }
    }
    screen.sets[b] = set;
  }
  // A range of keys inside one lane is screened with 64-bit sets: a quarter of the work.
  const bool one_lane = first_key / 64 == last_key / 64 && screen.step == 0;
  screen.lane_base = one_lane ? first_key / 64 * 64 : 0;
  for (int b = 0; b < 256; ++b) screen.lane[b] = screen.sets[b][first_key / 64];
  screen.members.reserve(256);
  for (int key = 0; key < 256; ++key) {
    std::array<bool, 256> member{};
    for (int b = 0; b < 256; ++b) member[b] = Has(screen.sets[b], key);
    screen.members.emplace_back(member);
  }
  if (screen.step != 0) {
    // Every key of the page turned as the offset moves it, then cut to the range.
    for (int key = first_key; key <= last_key; ++key) {
      screen.range[key >> 6] |= uint64_t{1} << (key & 63);
    }
    screen.turned.resize(8 * 256);
    for (int b = 0; b < 256; ++b) {
      std::array<uint8_t, 64> twice{};
      for (int j = 0; j < 512; ++j) {
        if (input.in_alphabet[static_cast<uint8_t>(b ^ (key_base + j))]) {
          twice[j >> 3] |= static_cast<uint8_t>(1 << (j & 7));
        }
      }
      for (int shift = 0; shift < 8; ++shift) {
        std::array<uint8_t, 64>& out = screen.turned[shift * 256 + b];
        for (int j = 0; j < 64; ++j) {
          const int next = j + 1 < 64 ? twice[j + 1] : 0;
          out[j] = static_cast<uint8_t>((twice[j] >> shift) | (next << (8 - shift)));
        }
      }
    }
  }
  return screen;
}

}  // namespace

DenseResult FindDenseSpans(const ScanInput& input, JobRunner& jobs, int key_base, int first_key,
                           int last_key, size_t max_spans, uint64_t segment_bytes,
                           DenseSpans& spans, std::array<uint64_t, 256>& counts, bool bounds,
                           float floor) {
  const Screen screen = MakeScreen(input, key_base, first_key, last_key, bounds, floor);
  // A running key's sets are turned whole.
  const bool one_lane = first_key / 64 == last_key / 64 && screen.step == 0;
  // A segment's starts fit the bits beside the length; a megabyte keeps the spans that wait for
  // their sorting small.
  segment_bytes =
      std::clamp<uint64_t>(segment_bytes, kBlockPositions, DenseSpans::kMaxSegmentBytes);
  // A file of a few segments is cut into more, of equal size, so that every worker has its share
  // of the pass: the runs' bounds are most of a summary's work, and a megabyte of a file would
  // otherwise be one worker's alone.
  const uint64_t balanced = static_cast<uint64_t>(kBalancedSegmentsPerWorker) *
                            static_cast<uint64_t>(std::max(1, jobs.workers()));
  if (jobs.workers() > 1 && CeilDiv(input.size, segment_bytes) < balanced) {
    const uint64_t count =
        std::max<uint64_t>(1, std::min(balanced, input.size / kBalancedSegmentBytes));
    segment_bytes =
        std::clamp<uint64_t>(CeilDiv(CeilDiv(input.size, count), kBlockPositions) * kBlockPositions,
                             kBlockPositions, segment_bytes);
  }
  const size_t segments = static_cast<size_t>(CeilDiv(input.size, segment_bytes));
  // The segments of an earlier pass keep their arrays for this one.
  spans.segments.resize(segments);
  for (DenseSpans::Segment& segment : spans.segments) {
    segment.begin = 0;
    segment.offsets.fill(0);
  }
  std::vector<std::array<uint64_t, 256>> segment_counts(segments);
  std::atomic<bool> keeping{true};
  std::atomic<size_t> kept{0};
  const bool completed = jobs.RunAll(segments, [&](size_t s, JobOutput& out) {
    const uint64_t begin = s * segment_bytes;
    const uint64_t end = std::min(input.size, begin + segment_bytes);
    DenseSpans::Found found = spans.TakeFound();
    auto screen_with = [&](auto& screen_segment) {
      if (!screen_segment.Run(begin, end, out)) return false;
      segment_counts[s] = screen_segment.counts();
      return screen_segment.kept_all() && keeping.load();
    };
    bool kept_all = false;
    try {
      if (one_lane) {
        SegmentScreen<uint64_t> screen_segment(input, screen, keeping, kept, max_spans, found);
        kept_all = screen_with(screen_segment);
      } else {
        SegmentScreen<KeySet> screen_segment(input, screen, keeping, kept, max_spans, found);
        kept_all = screen_with(screen_segment);
      }
    } catch (...) {
      spans.GiveBack(std::move(found));
      throw;
    }
    if (kept_all) {
      // The spans in file order, sorted by key (a counting sort keeps the order within a key).
      const std::vector<uint32_t>& events = found.events;
      const std::vector<uint8_t>& keys = found.keys;
      DenseSpans::Segment& segment = spans.segments[s];
      segment.begin = begin;
      segment.counted.assign(found.counted.begin(), found.counted.end());
      for (uint8_t key : keys) ++segment.offsets[key + 1];
      for (int key = 0; key < 256; ++key) segment.offsets[key + 1] += segment.offsets[key];
      if (segment.capacity < events.size()) {
        segment.spans.reset();
        segment.spans.reset(new uint32_t[events.size()]);
        segment.capacity = events.size();
      }
      std::array<uint32_t, 256> next;
      std::copy(segment.offsets.begin(), segment.offsets.end() - 1, next.begin());
      uint32_t* const sorted = segment.spans.get();
      if (bounds) {
        if (segment.bounds_capacity < events.size()) {
          segment.bounds.reset();
          segment.bounds.reset(new uint16_t[events.size()]);
          segment.bounds_capacity = events.size();
        }
        uint16_t* const sorted_bounds = segment.bounds.get();
        const std::vector<uint16_t>& span_bounds = found.bounds;
        for (size_t e = 0; e < events.size(); ++e) {
          const uint32_t at = next[keys[e]]++;
          sorted[at] = events[e];
          sorted_bounds[at] = span_bounds[e];
        }
      } else {
        segment.bounds.reset();
        segment.bounds_capacity = 0;
        for (size_t e = 0; e < events.size(); ++e) sorted[next[keys[e]]++] = events[e];
      }
    }
    spans.GiveBack(std::move(found));
  });
  if (!completed) return DenseResult::kStopped;
  counts.fill(0);
  for (const auto& c : segment_counts) {
    for (int key = 0; key < 256; ++key) counts[key] += c[key];
  }
  if (!keeping.load()) {
    spans.segments.clear();
    return DenseResult::kTooMany;
  }
  return DenseResult::kFound;
}

bool EstimateDenseSpans(const ScanInput& input, JobRunner& jobs, int key_base, int first_key,
                        int last_key, uint64_t segment_bytes, std::array<uint64_t, 256>& counts) {
  const Screen screen = MakeScreen(input, key_base, first_key, last_key);
  segment_bytes =
      std::clamp<uint64_t>(segment_bytes, kBlockPositions, DenseSpans::kMaxSegmentBytes);
  const size_t segments = static_cast<size_t>(CeilDiv(input.size, segment_bytes));
  // A small file is not sampled: its pass costs little whatever comes of it.
  counts.fill(0);
  if (segments < kSampledSegments) return true;
  // An eighth of the segments, spread evenly over the file.
  const size_t samples = segments / 8;
  std::vector<std::array<uint64_t, 256>> sample_counts(samples);
  std::atomic<bool> keeping{false};
  std::atomic<size_t> kept{0};
  const bool completed = jobs.RunAll(samples, [&](size_t j, JobOutput& out) {
    const uint64_t begin = (j * segments / samples) * segment_bytes;
    const uint64_t end = std::min(input.size, begin + segment_bytes);
    DenseSpans::Found unused;  // nothing is kept
    SegmentScreen<KeySet> screen_segment(input, screen, keeping, kept, 0, unused);
    if (screen_segment.Run(begin, end, out)) sample_counts[j] = screen_segment.counts();
  });
  if (!completed) return false;
  uint64_t sampled_bytes = 0;
  for (size_t j = 0; j < samples; ++j) {
    const uint64_t begin = (j * segments / samples) * segment_bytes;
    sampled_bytes += std::min(input.size, begin + segment_bytes) - begin;
  }
  for (const auto& c : sample_counts) {
    for (int key = 0; key < 256; ++key) counts[key] += c[key];
  }
  for (uint64_t& count : counts) {
    count = static_cast<uint64_t>(static_cast<double>(count) * static_cast<double>(input.size) /
                                  static_cast<double>(std::max<uint64_t>(1, sampled_bytes)));
  }
  return true;
}

}  // namespace veskor
