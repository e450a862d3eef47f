// The text score: one lookup per byte in the generated model automaton, the string's own byte
// frequencies as the second noise explanation, progressions, and the best stretch.
#include "engine/score/text_score.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <vector>

#include "text/cp1251.h"

namespace veskor {
namespace {

#include "text_model_table.inc"

// Lags of the progressions that count as noise, and how many bytes in a row must continue one
// at its lag before a byte counts: with a step of 0 these are repeats ("ZZZZ", "ababab",
// "abcabcab", "abcdabcd"), with other steps the tables of binaries under a wrong key
// (" !\"#$%&'()*+", "egeheiejekel").
constexpr int kLags = 4;
constexpr std::array<uint32_t, kLags> kProgressionAfter = {2, 4, 5, 4};

// A byte that repeats the byte three or four back counts as noise after this many in a row:
// names repeated in a table (" at at at", " mot mot mot"), while words rarely repeat a part.
constexpr uint32_t kRepeatedAfter = 3;

// Digits beyond this many in a row count as noise: numbers in text are short, while tables of
// digits (such as the "00010203..." table of number formatting code) fill whole strings.
constexpr uint32_t kLongestNumber = 10;

// A stretch where every other byte is the same byte counts as noise once that byte has come
// back three times in a row: the tables of byte values under a wrong key (".5.4.7.6.1.0.3.2")
// and wide text read a byte at a time under one ("h e l l o"), while text alternates only
// briefly ("e.g.", "1.2.3"). The mask picks a byte's flag and those of the two bytes of its
// parity before it.
constexpr uint32_t kAlternationMask = 0b10101;
// A stretch of digits and one other byte counts as noise beyond this many bytes: tables of small
// numbers ("12,7,95,3,14,"), while a date, a version or most addresses stay shorter.
constexpr uint32_t kLongestNumberList = 12;

constexpr int32_t kNoisePenaltyUnits =
    static_cast<int32_t>(TextScorer::kNoisePenaltyBits * kModelUnitsPerBit);
constexpr int32_t kLetterlessUnits =
    static_cast<int32_t>(TextScorer::kLetterlessBits * kModelUnitsPerBit);

// The frequency explanation gives a byte seen c times among the n before it the probability
// (c + kPrior / 256) / (n + kPrior): at first close to uniform, later close to the frequency.
constexpr double kPrior = 16.0;
// The frequency explanation is weighed 1/4 against uniform bytes (2 bits): it has to explain a
// byte clearly better before it counts, so that the letters of short text, which recur at
// their usual frequencies, keep most of their evidence.
constexpr int32_t kFrequencyWeightUnits = static_cast<int32_t>(2 * kModelUnitsPerBit);
constexpr size_t kLogTable = 1024;

// log2(x) in model units.
int32_t LogUnits(double x) {
  return static_cast<int32_t>(std::lround(std::log2(x) * kModelUnitsPerBit));
}

// log2(1 + i / 256) in model units, for the logarithms of large counts.
struct MantissaLogs {
  std::array<int32_t, 256> units;
  MantissaLogs() {
    for (int i = 0; i < 256; ++i) units[i] = LogUnits(1.0 + i / 256.0);
  }
};

// log2(x) for x >= 1 from the float's exponent and the top eight bits of its mantissa, within
// 1/100 bit: the counts of long strings need no more, and no call into the maths library.
int32_t FastLogUnits(float x, const MantissaLogs& mantissa) {
  const uint32_t bits = std::bit_cast<uint32_t>(x);
  const int32_t exponent = static_cast<int32_t>(bits >> 23) - 127;
  return exponent * static_cast<int32_t>(kModelUnitsPerBit) + mantissa.units[(bits >> 15) & 0xFF];
}

struct FrequencyLogs {
  std::array<int32_t, kLogTable> count;  // log2(c + kPrior / 256)
  std::array<int32_t, kLogTable> total;  // log2(n + kPrior) - 8, so that uniform is 0
  MantissaLogs mantissa;
  FrequencyLogs() {
    for (size_t i = 0; i < kLogTable; ++i) {
      count[i] = LogUnits(static_cast<double>(i) + kPrior / 256);
      total[i] = LogUnits(static_cast<double>(i) + kPrior) - LogUnits(256);
    }
  }
  // The gain of the frequency explanation over a uniform byte, in model units.
  int32_t Gain(uint64_t c, uint64_t n) const {
    const int32_t log_c =
        c < kLogTable ? count[c] : FastLogUnits(static_cast<float>(c) + kPrior / 256, mantissa);
    const int32_t log_n = n < kLogTable ? total[n]
                                        : FastLogUnits(static_cast<float>(n) + kPrior, mantissa) -
                                              8 * static_cast<int32_t>(kModelUnitsPerBit);
    return log_c - log_n;
  }
};

// The letters of Windows-1251: Latin and Cyrillic, the bytes that have another case.
const std::array<bool, 256>& Letters() {
  static const std::array<bool, 256> letters = [] {
    std::array<bool, 256> table{};
    for (int b = 0; b < 256; ++b) {
      table[b] = ToLower1251(static_cast<uint8_t>(b)) != ToUpper1251(static_cast<uint8_t>(b));
    }
    return table;
  }();
  return letters;
}

// Built on first use, so that a scorer used during another file's static initialisation finds
// the tables ready; read-only afterwards.
const FrequencyLogs& Logs() {
  static const FrequencyLogs logs;
  return logs;
}

// The largest gain of byte b after byte c, over every state of the model that the byte c leads
// into, and of the first byte of a string, in eighths of a bit rounded up (so a table of 64 KiB
// that stays in the cache); built on first use from the model's transitions.
constexpr int kBoundUnitsPerBit = 8;

static_assert(kBoundUnitsPerBit == PairGainTable::kUnitsPerBit);

struct BoundTable : PairGainTable {
  int32_t most_gain = 0;  // the largest of them all, at least 0
  BoundTable() {
    // The bytes that lead into each state.
    std::vector<std::array<uint64_t, 4>> into(kModelStates, std::array<uint64_t, 4>{});
    for (uint32_t state = 0; state < static_cast<uint32_t>(kModelStates); ++state) {
      for (int c = 0; c < 256; ++c) {
        const uint32_t next = kModelTable[(state << 8) | kModelColumn[c]] >> 16;
        into[next][c >> 6] |= uint64_t{1} << (c & 63);
      }
    }
    std::array<std::array<int32_t, 256>, 256> most;
    for (auto& row : most) row.fill(std::numeric_limits<int32_t>::min());
    std::array<int32_t, 256> first_gains{};
    for (uint32_t state = 0; state < static_cast<uint32_t>(kModelStates); ++state) {
      std::array<int32_t, 256> gains;
      for (int b = 0; b < 256; ++b) {
        gains[b] = static_cast<int16_t>(kModelTable[(state << 8) | kModelColumn[b]] & 0xFFFF);
      }
      if (state == 0) first_gains = gains;
      for (int c = 0; c < 256; ++c) {
        if (((into[state][c >> 6] >> (c & 63)) & 1) == 0) continue;
        for (int b = 0; b < 256; ++b) most[c][b] = std::max(most[c][b], gains[b]);
      }
    }
    for (int c = 0; c < 256; ++c) {
      for (int b = 0; b < 256; ++b) after[c][b] = Eighths(most[c][b]);
    }
    for (int b = 0; b < 256; ++b) first[b] = Eighths(first_gains[b]);
    for (int c = 0; c < 256; ++c) {
      for (int b = 0; b < 256; ++b) most_gain = std::max<int32_t>(most_gain, after[c][b]);
      most_gain = std::max<int32_t>(most_gain, first[c]);
    }
  }
  // Model units to eighths of a bit, rounded up and kept within int8.
  static int8_t Eighths(int32_t units) {
    const int32_t per = static_cast<int32_t>(kModelUnitsPerBit) / kBoundUnitsPerBit;
    const int32_t eighths = units >= 0 ? (units + per - 1) / per : -((-units) / per);
    return static_cast<int8_t>(std::clamp(eighths, -128, 127));
  }
};

const BoundTable& Bounds() {
  static const BoundTable table;
  return table;
}

}  // namespace

const PairGainTable& PairGains() { return Bounds(); }

std::shared_ptr<const TripleGainTable> TripleGains(const std::vector<uint8_t>& values) {
  if (values.size() > TripleGainTable::kMaxValues) return nullptr;
  static std::mutex mutex;
  static std::vector<std::shared_ptr<const TripleGainTable>> made;
  std::lock_guard lock(mutex);
  for (const auto& table : made) {
    if (table->values == values) return table;
  }
  const size_t n = values.size();
  auto table = std::make_shared<TripleGainTable>();
  table->values = values;
  std::vector<int8_t> gains(n, std::numeric_limits<int8_t>::min());  // of the row being made
  std::map<std::vector<int8_t>, uint32_t> seen_rows;
  table->row_of.resize(n * n);
  table->place.fill(TripleGainTable::kNoPlace);
  for (size_t i = 0; i < n; ++i) table->place[values[i]] = static_cast<uint8_t>(i);
  // The states that one byte leads into from any state, then those that a second leads into
  // from them: the contexts a third byte may be read in.
  std::vector<uint32_t> after_one, after_two;
  std::vector<uint8_t> seen(static_cast<size_t>(kModelStates));
  auto add = [&](std::vector<uint32_t>& to, uint32_t state) {
    if (seen[state] == 0) {
      seen[state] = 1;
      to.push_back(state);
    }
  };
  auto forget = [&](const std::vector<uint32_t>& states) {
    for (uint32_t state : states) seen[state] = 0;
  };
  for (size_t i = 0; i < n; ++i) {
    after_one.clear();
    for (uint32_t state = 0; state < static_cast<uint32_t>(kModelStates); ++state) {
      add(after_one, kModelTable[(state << 8) | kModelColumn[values[i]]] >> 16);
    }
    forget(after_one);
    for (size_t j = 0; j < n; ++j) {
      after_two.clear();
      for (uint32_t state : after_one) {
        add(after_two, kModelTable[(state << 8) | kModelColumn[values[j]]] >> 16);
      }
      forget(after_two);
      std::fill(gains.begin(), gains.end(), std::numeric_limits<int8_t>::min());
      for (uint32_t state : after_two) {
        for (size_t k = 0; k < n; ++k) {
          const auto gain =
              static_cast<int16_t>(kModelTable[(state << 8) | kModelColumn[values[k]]] & 0xFFFF);
          gains[k] = std::max(gains[k], BoundTable::Eighths(gain));
        }
      }
      const auto [row, added] =
          seen_rows.try_emplace(gains, static_cast<uint32_t>(table->rows.size()));
      if (added) table->rows.insert(table->rows.end(), gains.begin(), gains.end());
      table->row_of[i * n + j] = row->second;
    }
  }
  // A few alphabets are kept: a window whose presets change makes a table for each.
  constexpr size_t kKeptTables = 4;
  if (made.size() == kKeptTables) made.erase(made.begin());
  made.push_back(table);
  return table;
}

bool ModelMayExceed(std::string_view text, float floor) {
  if (text.empty()) return floor < 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int64_t limit = static_cast<int64_t>(std::floor(floor * kModelUnitsPerBit));
  uint32_t state = 0;
  int64_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const uint32_t entry = kModelTable[(state << 8) | kModelColumn[bytes[i]]];
    state = entry >> 16;
    run = std::max<int64_t>(run, 0) + static_cast<int16_t>(entry & 0xFFFF);
    if (run > limit) return true;
  }
  return false;
}

float ModelBound(std::string_view text) {
  if (text.empty()) return 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  uint32_t state = 0;
  int64_t run = 0, best = std::numeric_limits<int64_t>::min();
  for (size_t i = 0; i < text.size(); ++i) {
    const uint32_t entry = kModelTable[(state << 8) | kModelColumn[bytes[i]]];
    state = entry >> 16;
    run = std::max<int64_t>(run, 0) + static_cast<int16_t>(entry & 0xFFFF);
    best = std::max(best, run);
  }
  return static_cast<float>(best) / kModelUnitsPerBit;
}

bool TextScoreMayExceed(std::string_view text, float floor) {
  if (text.empty()) return floor < 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  // First the largest gains after each byte, from a table that stays in the cache.
  {
    const BoundTable& bounds = Bounds();
    const int64_t limit = static_cast<int64_t>(std::floor(floor * kBoundUnitsPerBit));
    int64_t run = bounds.first[bytes[0]];
    bool may = run > limit;
    for (size_t i = 1; i < text.size() && !may; ++i) {
      run = std::max<int64_t>(run, 0) + bounds.after[bytes[i - 1]][bytes[i]];
      may = run > limit;
    }
    if (!may) return false;
  }
  // Then the model's own gains, without the noise explanations that only lower them: a few
  // times tighter, and still a few times cheaper than the score.
  return ModelMayExceed(text, floor);
}

namespace {

// The pair bound of StoredTextsMayExceed for one text: false only when no stretch of the text's
// largest pair gains passes `limit` (in eighths of a bit).
bool PairBoundMayExceed(const BoundTable& bounds, const uint8_t* stored, uint64_t length,
                        const std::array<uint8_t, 256>& decode, int64_t limit) {
  // No stretch gains more than the largest gain at every byte: once a key's eighth best string
  // scores high, its short strings are turned down by their length alone.
  if (static_cast<int64_t>(length) * bounds.most_gain <= limit) return false;
  uint8_t before = decode[stored[0]];
  int64_t run = bounds.first[before];
  bool may = run > limit;
  for (uint64_t i = 1; i < length && !may; ++i) {
    const uint8_t byte = decode[stored[i]];
    run = std::max<int64_t>(run, 0) + bounds.after[before][byte];
    may = run > limit;
    before = byte;
  }
  return may;
}

// One text followed through the model's gains.
struct ModelLane {
  const uint8_t* at = nullptr;
  const uint8_t* end = nullptr;
  uint8_t* may = nullptr;  // where the verdict goes
  uint32_t state = 0;
  int64_t run = 0;
  bool passed = false;
};

}  // namespace

int64_t StoredPairBound(const uint8_t* bytes, uint64_t length,
                        const std::array<uint8_t, 256>& decode) {
  if (length == 0) return 0;
  const BoundTable& bounds = Bounds();
  uint8_t before = decode[bytes[0]];
  int64_t run = bounds.first[before];
  int64_t best = run;
  for (uint64_t i = 1; i < length; ++i) {
    const uint8_t byte = decode[bytes[i]];
    run = std::max<int64_t>(run, 0) + bounds.after[before][byte];
    best = std::max(best, run);
    before = byte;
  }
  return best;
}

int64_t StoredTripleBound(const uint8_t* bytes, uint64_t length,
                          const std::array<uint8_t, 256>& decode, const TripleGainTable& triple) {
  if (length < 3) return StoredPairBound(bytes, length, decode);
  const BoundTable& bounds = Bounds();
  const size_t n = triple.values.size();
  uint8_t two_back = decode[bytes[0]];
  uint8_t one_back = decode[bytes[1]];
  int64_t run = bounds.first[two_back];
  int64_t best = run;
  run = std::max<int64_t>(run, 0) + bounds.after[two_back][one_back];
  best = std::max(best, run);
  if (triple.place[two_back] == TripleGainTable::kNoPlace ||
      triple.place[one_back] == TripleGainTable::kNoPlace) {
    return StoredPairBound(bytes, length, decode);
  }
  size_t row = triple.row_of[size_t{triple.place[two_back]} * n + triple.place[one_back]];
  for (uint64_t i = 2; i < length; ++i) {
    const uint8_t place = triple.place[decode[bytes[i]]];
    if (place == TripleGainTable::kNoPlace) return StoredPairBound(bytes, length, decode);
    run = std::max<int64_t>(run, 0) + triple.rows[row + place];
    best = std::max(best, run);
    row = triple.row_of[size_t{triple.place[decode[bytes[i - 1]]]} * n + place];
  }
  return best;
}

void StoredModelBounds(std::span<const StoredText> texts, const std::array<uint8_t, 256>& decode,
                       float* bounds) {
  struct Lane {
    const uint8_t* at = nullptr;
    const uint8_t* end = nullptr;
    float* bound = nullptr;
    uint32_t state = 0;
    int64_t run = 0, best = 0;
  };
  constexpr size_t kLanes = 8;
  std::array<Lane, kLanes> lanes;
  size_t next = 0;
  auto refill = [&](Lane& lane) {
    while (next < texts.size() && texts[next].length == 0) bounds[next++] = 0;
    if (next == texts.size()) {
      lane.at = nullptr;
      return;
    }
    lane = Lane{texts[next].bytes,
                texts[next].bytes + texts[next].length,
                &bounds[next],
                0,
                0,
                std::numeric_limits<int64_t>::min()};
    ++next;
  };
  size_t active = 0;
  for (Lane& lane : lanes) {
    refill(lane);
    active += lane.at != nullptr;
  }
  while (active != 0) {
    for (Lane& lane : lanes) {
      if (lane.at == nullptr) continue;
      const uint32_t entry = kModelTable[(lane.state << 8) | kModelColumn[decode[*lane.at]]];
      lane.state = entry >> 16;
      lane.run = std::max<int64_t>(lane.run, 0) + static_cast<int16_t>(entry & 0xFFFF);
      lane.best = std::max(lane.best, lane.run);
      if (++lane.at == lane.end) {
        *lane.bound = static_cast<float>(lane.best) / kModelUnitsPerBit;
        refill(lane);
        active -= lane.at == nullptr;
      }
    }
  }
}

void StoredTextsMayExceed(std::span<const StoredText> texts, const std::array<uint8_t, 256>& decode,
                          float floor, uint8_t* may) {
  const BoundTable& bounds = Bounds();
  const int64_t limit = static_cast<int64_t>(std::floor(floor * kBoundUnitsPerBit));
  // First the pair bound, from a table that stays in the cache.
  size_t left = 0;  // texts that passed it, to follow through the model
  for (size_t i = 0; i < texts.size(); ++i) {
    const StoredText& text = texts[i];
    may[i] = text.length == 0 ? floor < 0
                              : PairBoundMayExceed(bounds, text.bytes, text.length, decode, limit);
    left += may[i];
  }
  if (left == 0) return;
  // Then the model's own gains, as TextScoreMayExceed. The model's table does not stay in the
  // cache: a few texts are followed at once, so that their misses overlap.
  const int64_t model_limit = static_cast<int64_t>(std::floor(floor * kModelUnitsPerBit));
  constexpr size_t kLanes = 4;
  std::array<ModelLane, kLanes> lanes;
  size_t next = 0;
  auto refill = [&](ModelLane& lane) {
    while (next < texts.size() && (may[next] == 0 || texts[next].length == 0)) ++next;
    if (next == texts.size()) {
      lane.at = lane.end = nullptr;
      return;
    }
    lane.at = texts[next].bytes;
    lane.end = lane.at + texts[next].length;
    lane.may = &may[next];
    lane.state = 0;
    lane.run = 0;
    lane.passed = false;
    ++next;
  };
  size_t active = 0;
  for (ModelLane& lane : lanes) {
    refill(lane);
    active += lane.at != nullptr;
  }
  while (active != 0) {
    for (ModelLane& lane : lanes) {
      if (lane.at == nullptr) continue;
      const uint32_t entry = kModelTable[(lane.state << 8) | kModelColumn[decode[*lane.at]]];
      lane.state = entry >> 16;
      lane.run = std::max<int64_t>(lane.run, 0) + static_cast<int16_t>(entry & 0xFFFF);
      lane.passed |= lane.run > model_limit;
      if (++lane.at == lane.end || lane.passed) {
        *lane.may = lane.passed;
        refill(lane);
        active -= lane.at == nullptr;
      }
    }
  }
}

void TextScorer::Reset() {
  state_ = 0;
  length_ = 0;
  total_ = 0;
  run_ = 0;
  run_start_ = 0;
  best_ = std::numeric_limits<int64_t>::min();
  best_start_ = best_end_ = 0;
  history_ = 0;
  progressions_.fill(0);
  digits_ = 0;
  same_as_two_back_ = 0;
  numeric_ = 0;
  numeric_separator_ = 0;
  letterless_ = letterless_low_ = 0;
  address_ = Address();
  repeats_.fill(0);
  if (++stamp_ == 0) {  // the stamps wrapped around: every count is stale
    counts_.fill(0);
    stamp_ = 1;
  }
}

void TextScorer::Feed(std::string_view piece) {
  // The state lives in locals while the bytes are scored: the stores into the count table
  // could otherwise alias the members and force them through memory on every byte.
  uint32_t state = state_;
  uint64_t length = length_;
  int64_t total = total_, run = run_, best = best_;
  uint64_t run_start = run_start_, best_start = best_start_, best_end = best_end_;
  uint64_t history = history_;
  std::array<uint32_t, 4> progressions = progressions_;
  uint32_t digits = digits_;
  uint32_t same_as_two_back = same_as_two_back_;
  uint32_t numeric = numeric_;
  uint8_t numeric_separator = numeric_separator_;
  int32_t letterless = letterless_, letterless_low = letterless_low_;
  Address address = address_;
  std::array<uint32_t, 2> repeats = repeats_;
  const std::array<bool, 256>& letters = Letters();
  const uint64_t stamp = uint64_t{stamp_} << 32;
  const FrequencyLogs& logs = Logs();
  for (char c : piece) {
    const uint8_t byte = static_cast<uint8_t>(c);
    const uint32_t entry = kModelTable[(state << 8) | kModelColumn[byte]];
    state = entry >> 16;
    int32_t gain = static_cast<int16_t>(entry & 0xFFFF);

    // The frequency explanation can only beat a uniform byte for a byte seen before.
    const uint64_t stamped = counts_[byte];
    const uint32_t count =
        (stamped & ~uint64_t{0xFFFFFFFF}) == stamp ? static_cast<uint32_t>(stamped) : 0;
    counts_[byte] = stamp | (count + (count != UINT32_MAX));
    if (count != 0) gain -= std::max(0, logs.Gain(count, length) - kFrequencyWeightUnits);

    // Does the byte continue, at some lag, a progression of bytes with a constant step?
    bool progression = false;
    for (int lag = 1; lag <= kLags; ++lag) {
      const uint8_t back = static_cast<uint8_t>(history >> (8 * (lag - 1)));
      const uint8_t back2 = static_cast<uint8_t>(history >> (8 * (2 * lag - 1)));
      const bool step = length >= 2u * lag && static_cast<uint8_t>(byte + back2 - 2 * back) == 0;
      uint32_t& steps = progressions[lag - 1];
      steps = step ? steps + 1 : 0;
      progression |= steps >= kProgressionAfter[lag - 1];
    }
    // Little variety: the same byte at every other position, or digits and one separator.
    same_as_two_back = (same_as_two_back << 1) |
                       (length >= 2 && byte == static_cast<uint8_t>(history >> 8) ? 1 : 0);
    const bool alternating =
        ((same_as_two_back & kAlternationMask) == kAlternationMask) ||
        ((same_as_two_back & (kAlternationMask << 1)) == kAlternationMask << 1);
    const bool digit = static_cast<unsigned>(byte - '0') < 10;
    if (digit || byte == numeric_separator) {
      ++numeric;
    } else {
      numeric = digits + 1;
      numeric_separator = byte;
    }
    // A period of three or four bytes repeated.
    bool periodic = false;
    for (uint32_t lag = 3; lag <= 4; ++lag) {
      uint32_t& repeated = repeats[lag - 3];
      repeated = length >= lag && byte == static_cast<uint8_t>(history >> (8 * (lag - 1)))
                     ? repeated + 1
                     : 0;
      periodic |= repeated >= kRepeatedAfter;
    }
    history = (history << 8) | byte;
    ++length;
    digits = digit ? digits + 1 : 0;
    if (progression || alternating || periodic || digits > kLongestNumber ||
        numeric > kLongestNumberList) {
      gain = std::min(gain, -kNoisePenaltyUnits);
    }
    // No stretch of the bytes since the last letter gains more than kLetterlessUnits, but for
    // an IPv4 address: what its bytes were denied comes back at the byte after it, which the
    // address's letters-like words end.
    const bool ip_ends = address.Ends(byte);
    const int32_t denied = ip_ends ? address.denied : 0;
    const bool in_address = address.Feed(byte);
    if (letters[byte] || ip_ends) {
      letterless = letterless_low = 0;
      gain += denied;
    }
    if (!letters[byte]) {
      const int32_t allowed = std::min(gain, kLetterlessUnits - (letterless - letterless_low));
      if (in_address) address.denied += gain - allowed;
      gain = allowed;
      letterless += gain;
      letterless_low = std::min(letterless_low, letterless);
    }

    total += gain;
    if (run <= 0) {  // a stretch that starts here does better than one that includes the past
      run = 0;
      run_start = length - 1;
    }
    run += gain;
    if (run > best) {
      best = run;
      best_start = run_start;
      best_end = length;
    }
  }
  state_ = state;
  length_ = length;
  total_ = total;
  run_ = run;
  best_ = best;
  run_start_ = run_start;
  best_start_ = best_start;
  best_end_ = best_end;
  history_ = history;
  progressions_ = progressions;
  digits_ = digits;
  same_as_two_back_ = same_as_two_back;
  numeric_ = numeric;
  numeric_separator_ = numeric_separator;
  letterless_ = letterless;
  letterless_low_ = letterless_low;
  address_ = address;
  repeats_ = repeats;
}

float TextScorer::Score() const {
  return length_ == 0 ? 0.0f : static_cast<float>(best_) / kModelUnitsPerBit;
}

float TextScorer::TotalScore() const { return static_cast<float>(total_) / kModelUnitsPerBit; }

void ScoreUniformSpan(TextScorer& scorer, char byte, uint64_t length) {
  // From its fourth byte on, a span of one byte continues the progression of step 0 at lag 1
  // (kProgressionAfter[0] = 2 bytes in a row before it), so every further byte gains at most
  // -kNoisePenaltyBits: the stretch that ends there only loses, and the best stretch lies in the
  // first bytes. A prefix of some margin beyond that settles it.
  constexpr uint64_t kSettledAfter = 32;
  static_assert(kProgressionAfter[0] + 2 <= kSettledAfter);
  static_assert(TextScorer::kNoisePenaltyBits > 0);
  std::array<char, kSettledAfter> prefix;
  prefix.fill(byte);
  scorer.Reset();
  scorer.Feed(
      std::string_view(prefix.data(), static_cast<size_t>(std::min(length, kSettledAfter))));
}

float TextScore(std::string_view text) {
  TextScorer scorer;
  scorer.Feed(text);
  return scorer.Score();
}

namespace {

// The lanes score texts shorter than this, whose counts and lengths fit 16 bits.
constexpr size_t kLaneText = 4096;

// The tables of the rules, built on first use.
struct RuleTables {
  // The frequency explanation's gain over a uniform byte, less its weight, for a byte seen c
  // times among n: count_less_weight[c] - total[n], the figures of FrequencyLogs::Gain. A byte
  // not seen before never gains.
  std::array<int32_t, kLaneText> count_less_weight;
  std::array<int32_t, kLaneText> total;
  std::array<bool, 256> letters;
  RuleTables() {
    const FrequencyLogs& logs = Logs();
    count_less_weight[0] = std::numeric_limits<int32_t>::min() / 4;
    for (size_t c = 1; c < kLaneText; ++c) {
      count_less_weight[c] = logs.Gain(c, 0) + logs.total[0] - kFrequencyWeightUnits;
    }
    for (size_t n = 0; n < kLaneText; ++n) total[n] = logs.count[0] - logs.Gain(0, n);
    letters = Letters();
  }
};

const RuleTables& Tables() {
  static const RuleTables tables;
  return tables;
}

// Eight lanes of 32-bit integers: a lane for each of eight texts scored side by side.
typedef int32_t Lanes __attribute__((vector_size(32)));
constexpr int kLanes = 8;

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VESKOR_LANES_UNDER_TSAN
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(VESKOR_LANES_UNDER_TSAN)
#define VESKOR_LANE_CLONES  // ThreadSanitizer cannot resolve the clones at startup
#else
#define VESKOR_LANE_CLONES __attribute__((target_clones("avx2", "default")))
#endif

float Bits(int64_t units) { return static_cast<float>(units) / kModelUnitsPerBit; }

// TextScore of the texts at the indices `order` lists (each of 1 to kLaneText - 1 bytes), into
// scores[index], eight at a time: each step reads a byte of every lane's text, walks the model
// and counts the byte in the lane's own table, then applies the noise rules of TextScorer::Feed to
// all eight in vector operations (AVX2 where the processor has it). The eight model walks run
// side by side, so that their misses in the model table overlap.
VESKOR_LANE_CLONES
void ScoreInLanes(std::span<const std::string_view> texts, std::span<const uint32_t> order,
                  float* scores) {
  const RuleTables& tables = Tables();
  // Each lane's text: where its next byte is, how many are left, whose score it is, the model's
  // state and the bytes read so far; each lane counts its bytes in a table of its own.
  std::array<const uint8_t*, kLanes> at{};
  std::array<uint32_t, kLanes> left{}, text{}, state{}, read{};
  std::array<std::array<uint16_t, 256>, kLanes> counts{};  // zero between texts
  // What a step hands from the lanes to the rules and back; -1 in `fresh` for a lane whose text
  // starts at this step.
  alignas(32) std::array<int32_t, kLanes> bytes{}, gains{}, letters{}, fresh{}, bests{};
  // The rules' counters and flags of every lane, as TextScorer keeps them. `back` holds the
  // bytes one to four back (the latest in the low byte) and five to eight back.
  Lanes length{}, back_near{}, back_far{}, progressions[kLags] = {}, repeats[2] = {};
  Lanes digits{}, same_as_two_back{}, numeric{}, numeric_separator{};
  Lanes letterless{}, letterless_low{}, dots{}, address_digits{}, value{}, denied{};
  Lanes run{}, best{};
  const Lanes kLowest = Lanes{} + std::numeric_limits<int32_t>::min();
  size_t next = 0;
  int active = 0;
  // Starts the lane's next text, or leaves it idle.
  auto start = [&](int lane) {
    if (next == order.size()) {
      left[lane] = 0;
      return;
    }
    const uint32_t index = order[next++];
    text[lane] = index;
    at[lane] = reinterpret_cast<const uint8_t*>(texts[index].data());
    left[lane] = static_cast<uint32_t>(texts[index].size());
    state[lane] = read[lane] = 0;
    fresh[lane] = -1;
    ++active;
  };
  for (int lane = 0; lane < kLanes; ++lane) start(lane);
  while (active != 0) {
    // Each lane's byte, its model gain less the frequency explanation's, and whether it is a
    // letter; an idle lane reads a space that nothing keeps.
    // The model's entries first, in a loop of their own: each is likely a cache miss, and with
    // nothing between them the eight misses overlap.
    std::array<uint32_t, kLanes> entries;
    for (int lane = 0; lane < kLanes; ++lane) {
      const uint32_t b = left[lane] == 0 ? ' ' : *at[lane];
      bytes[lane] = static_cast<int32_t>(b);
      entries[lane] = kModelTable[(state[lane] << 8) | kModelColumn[b]];
    }
    for (int lane = 0; lane < kLanes; ++lane) {
      if (left[lane] == 0) {
        gains[lane] = letters[lane] = 0;
        continue;
      }
      const auto b = static_cast<uint32_t>(bytes[lane]);
      const uint32_t entry = entries[lane];
      state[lane] = entry >> 16;
      const uint32_t count = counts[lane][b];
      counts[lane][b] = static_cast<uint16_t>(count + 1);
      gains[lane] = static_cast<int16_t>(entry & 0xFFFF) -
                    std::max(0, tables.count_less_weight[count] - tables.total[read[lane]]);
      letters[lane] = tables.letters[b] ? -1 : 0;
    }
    Lanes byte, gain, letter, restart;
    std::memcpy(&byte, bytes.data(), sizeof byte);
    std::memcpy(&gain, gains.data(), sizeof gain);
    std::memcpy(&letter, letters.data(), sizeof letter);
    std::memcpy(&restart, fresh.data(), sizeof restart);
    fresh.fill(0);
    // A lane whose text starts here forgets the text before.
    const Lanes keep = ~restart;
    length &= keep;
    back_near &= keep;
    back_far &= keep;
    for (Lanes& steps : progressions) steps &= keep;
    repeats[0] &= keep;
    repeats[1] &= keep;
    digits &= keep;
    same_as_two_back &= keep;
    numeric &= keep;
    numeric_separator &= keep;
    letterless &= keep;
    letterless_low &= keep;
    dots &= keep;
    address_digits &= keep;
    value &= keep;
    denied &= keep;
    run &= keep;
    best = restart ? kLowest : best;

    std::array<Lanes, 9> back;  // back[i]: the byte i back, 1 to 8
    for (int i = 1; i <= 4; ++i) {
      back[i] = (back_near >> (8 * (i - 1))) & 0xFF;
      back[i + 4] = (back_far >> (8 * (i - 1))) & 0xFF;
    }
    Lanes progression{};
    for (int lag = 1; lag <= kLags; ++lag) {
      const Lanes step =
          (length >= 2 * lag) & (((byte + back[2 * lag] - 2 * back[lag]) & 0xFF) == 0);
      progressions[lag - 1] = (progressions[lag - 1] + 1) & step;
      progression |= progressions[lag - 1] >= static_cast<int32_t>(kProgressionAfter[lag - 1]);
    }
    same_as_two_back = (same_as_two_back << 1) | ((length >= 2) & (byte == back[2]) & 1);
    const int32_t kMask = kAlternationMask;
    const Lanes alternating =
        ((same_as_two_back & kMask) == kMask) | ((same_as_two_back & (kMask << 1)) == (kMask << 1));
    const Lanes digit_value = byte - '0';
    const Lanes digit = (digit_value >= 0) & (digit_value < 10);
    const Lanes numeric_byte = digit | (byte == numeric_separator);
    numeric = numeric_byte ? numeric + 1 : digits + 1;
    numeric_separator = numeric_byte ? numeric_separator : byte;
    Lanes periodic{};
    for (int lag = 3; lag <= 4; ++lag) {
      const Lanes repeat = (length >= lag) & (byte == back[lag]);
      repeats[lag - 3] = (repeats[lag - 3] + 1) & repeat;
      periodic |= repeats[lag - 3] >= static_cast<int32_t>(kRepeatedAfter);
    }
    back_far = (back_far << 8) | ((back_near >> 24) & 0xFF);
    back_near = (back_near << 8) | byte;
    digits = (digits + 1) & digit;
    const Lanes noise = progression | alternating | periodic |
                        (digits > static_cast<int32_t>(kLongestNumber)) |
                        (numeric > static_cast<int32_t>(kLongestNumberList));
    const Lanes penalised = gain < -kNoisePenaltyUnits ? gain : -kNoisePenaltyUnits;
    gain = noise ? penalised : gain;

    const Lanes dot = byte == '.';
    const Lanes address_ends = (dots == 3) & (address_digits > 0) & ~dot & ~digit;
    const Lanes returned = address_ends & denied;
    const Lanes longer = value * 10 + digit_value;
    const Lanes digit_fits = digit & (address_digits < 3) & (longer <= 255);
    const Lanes dot_fits = dot & (address_digits > 0) & (dots < 3);
    const Lanes in_address = digit | dot_fits;
    dots = dot_fits ? dots + 1 : (digit_fits & dots);
    address_digits = digit_fits ? address_digits + 1 : (digit & 1);
    value = digit_fits ? longer : (digit & digit_value);
    denied = (digit_fits | dot_fits) & denied;

    const Lanes letterless_restart = letter | address_ends;
    letterless &= ~letterless_restart;
    letterless_low &= ~letterless_restart;
    gain += returned;
    const Lanes room = kLetterlessUnits - (letterless - letterless_low);
    const Lanes allowed = gain < room ? gain : room;
    denied += (~letter & in_address) & (gain - allowed);
    gain = letter ? gain : allowed;
    letterless = letter ? letterless : letterless + gain;
    letterless_low = letterless < letterless_low ? letterless : letterless_low;

    run = (run > 0 ? run : 0) + gain;
    best = run > best ? run : best;
    length += 1;
    std::memcpy(bests.data(), &best, sizeof best);

    for (int lane = 0; lane < kLanes; ++lane) {
      if (left[lane] == 0) continue;
      ++at[lane];
      ++read[lane];
      if (--left[lane] != 0) continue;
      const uint32_t index = text[lane];
      scores[index] = Bits(bests[lane]);
      for (const char c : texts[index]) counts[lane][static_cast<uint8_t>(c)] = 0;
      --active;
      start(lane);
    }
  }
}

}  // namespace

void TextScores(std::span<const std::string_view> texts, float* scores) {
  // The texts go to the lanes a few hundred at a time, the longer ones first, so that the short
  // ones fill the other lanes meanwhile. A text longer than an eighth of all of them would
  // leave the other lanes idle at the end: it is fed whole, as one too long for the lanes.
  constexpr size_t kBatch = 512;
  constexpr size_t kLongFirst = 32;
  for (size_t first = 0; first < texts.size(); first += kBatch) {
    const std::span<const std::string_view> batch =
        texts.subspan(first, std::min(kBatch, texts.size() - first));
    uint64_t bytes = 0;
    for (const std::string_view text : batch) bytes += text.size();
    const uint64_t share = std::min<uint64_t>(kLaneText - 1, bytes / kLanes);
    std::array<uint32_t, kBatch> order;
    size_t long_ones = 0, waiting = 0;
    for (size_t i = 0; i < batch.size(); ++i) {
      const size_t size = batch[i].size();
      const auto index = static_cast<uint32_t>(first + i);
      if (size == 0) {
        scores[index] = 0;
      } else if (size > share) {
        scores[index] = TextScore(batch[i]);
      } else if (size >= kLongFirst) {
        // The long ones gather at the front, the short ones move behind them.
        if (waiting != long_ones) order[waiting] = order[long_ones];
        order[long_ones++] = index;
        ++waiting;
      } else {
        order[waiting++] = index;
      }
    }
    ScoreInLanes(texts, std::span(order.data(), waiting), scores);
  }
}

}  // namespace veskor
