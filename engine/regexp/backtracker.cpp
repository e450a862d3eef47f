// The backtracking executor: runs a program compiled with loops over registers on an explicit
// stack of choice points, with a trail that undoes register writes (captures, loop counters)
// when the search backtracks. Nothing recurses on the tree or on the text.
//
// What keeps it from exponential time where it can: the states it has failed from are
// remembered and fail at once when met again. A state is a join point of the program, a
// position, and the registers that what follows can still read there (the compiler's liveness
// analysis): the spans of the groups that a later backreference reads, the counts and iteration
// starts of the loops still running. Every other register is overwritten before it is read, so
// the same key always has the same outcome. Where nothing is live the key is (instruction,
// position), one bit in a table.
#include "engine/regexp/backtracker.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/regexp/assertions.h"
#include "engine/regexp/compiler.h"
#include "engine/regexp/regexp_error.h"
#include "text/arithmetic.h"
#include "text/cp1251.h"

namespace veskor::regexp {
namespace {

// Long scans (a byte repetition, a backreference) are counted in pieces of this many bytes, so
// that the stop flag and the hook are seen between two pieces.
constexpr int64_t kScanPiece = ByteScanner::kPiece;

enum class ChoiceKind : uint8_t {
  kResume,       // go on at `pc` from `pos`
  kGreedyBytes,  // kByteRepeat at `pc` began at `pos` and holds `count` bytes: give one back
  kLazyBytes,    // kByteRepeat at `pc` holds `count` bytes up to `pos`: take one more
};

struct Choice {
  int32_t pc;
  ChoiceKind kind;
  size_t trail_size;
  int64_t pos;
  int64_t count;
};

struct TrailEntry {
  int32_t reg;
  int64_t old_value;
};

// A stack in fixed-size chunks: it grows without moving what it holds, and a search that made
// it huge gives the memory back afterwards.
template <typename T>
class ChunkedStack {
 public:
  static constexpr size_t kChunk = 4096;
  static constexpr size_t kKeptChunks = 64;

  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  void clear() { size_ = 0; }
  void truncate(size_t size) { size_ = size; }
  T& operator[](size_t i) { return chunks_[i / kChunk][i % kChunk]; }
  T& back() { return (*this)[size_ - 1]; }
  void pop_back() { --size_; }
  void push_back(const T& value) {
    if (size_ == chunks_.size() * kChunk) chunks_.push_back(std::make_unique<T[]>(kChunk));
    (*this)[size_++] = value;
  }
  void Trim() {
    if (chunks_.size() > kKeptChunks) chunks_.resize(kKeptChunks);
  }

 private:
  std::vector<std::unique_ptr<T[]>> chunks_;
  size_t size_ = 0;
};

const std::array<uint8_t, 256>& OtherCaseTable() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b) t[b] = OtherCase1251(static_cast<uint8_t>(b));
    return t;
  }();
  return table;
}

// The states met by one search, remembered once the search has become slow.
class MemoTable {
 public:
  bool active() const { return active_; }

  // Starts remembering for a text of `size` bytes; false (nothing remembered) when positions
  // do not fit the keys.
  void Start(const Program& program, int64_t size);

  // Gives back what a big search took and forgets every state.
  void Finish();

  // True when the state (join point, position, live registers) was met before: the search
  // failed from it then, as it will now. Otherwise remembers it, while there is room.
  bool Seen(const JoinPoint& join, int32_t index, int64_t pos, const int64_t* regs);

 private:
  static constexpr size_t kInitialSlots = 1024;
  static constexpr size_t kSmallBitWords = 4096;
  // A join point whose states come back less than once in 64 over a window of lookups is
  // passed by without a lookup for a while, twice as long each window in a row that does as
  // badly: enumerations that never meet a state twice do not pay for the hash set.
  static constexpr uint32_t kWindow = 1024;
  static constexpr uint32_t kFewHits = kWindow / 64;
  static constexpr int64_t kMaxPause = int64_t{1} << 20;

  struct JoinStats {
    uint32_t lookups = 0;
    uint32_t hits = 0;
    int64_t pause = 0;       // visits still to pass by
    int64_t last_pause = 0;  // 0 after a good window
  };

  // Out of line: the search loop stays small where the hash set is not used.
  [[gnu::noinline]] bool Lookup(const JoinPoint& join, int32_t index, int64_t pos,
                                const int64_t* regs);
  static void EndWindow(JoinStats& stats);
  bool Insert(const uint32_t* key, size_t length);
  void Grow();

  bool active_ = false;
  uint64_t row_length_ = 0;
  uint64_t* bits_ = nullptr;
  std::vector<uint64_t> small_bits_;
  std::unique_ptr<uint64_t[], decltype(&std::free)> big_bits_{nullptr, &std::free};
  // Open addressing: a slot holds the key's hash tag (high half) and its offset + 1 in keys_
  // (low half); 0 is a free slot. A key is its length in words, then its words.
  std::vector<uint64_t> slots_;
  std::vector<uint32_t> keys_;
  size_t count_ = 0;
  std::vector<uint32_t> key_;
  std::vector<JoinStats> stats_;
};

uint64_t HashWords(const uint32_t* words, size_t length) {
  uint64_t h = 0x9E3779B97F4A7C15u;
  for (size_t i = 0; i < length; ++i) {
    h = (h ^ words[i]) * 0xBF58476D1CE4E5B9u;
    h ^= h >> 29;
  }
  h *= 0x94D049BB133111EBu;
  return h ^ (h >> 32);
}

void MemoTable::Start(const Program& program, int64_t size) {
  if (static_cast<uint64_t>(size) >= 0xFFFFFFFEu) return;
  active_ = true;
  row_length_ = static_cast<uint64_t>(size) + 1;
  stats_.assign(program.joins.size(), JoinStats{});
  const uint64_t bits = static_cast<uint64_t>(program.bit_rows) * row_length_;
  if (bits == 0 || bits > Backtracker::kMaxMemoBits) return;  // the hash set serves them all
  const size_t words = CeilDiv(bits, 64);
  if (words <= kSmallBitWords) {
    small_bits_.assign(words, 0);
    bits_ = small_bits_.data();
  } else {
    // Fresh zeroed pages cost nothing until they are touched.
    big_bits_.reset(static_cast<uint64_t*>(std::calloc(words, sizeof(uint64_t))));
    bits_ = big_bits_.get();
  }
}

void MemoTable::Finish() {
  active_ = false;
  bits_ = nullptr;
  big_bits_.reset();
  if (slots_.size() > kInitialSlots) {
    std::vector<uint64_t>().swap(slots_);
    std::vector<uint32_t>().swap(keys_);
  } else if (count_ > 0) {
    std::fill(slots_.begin(), slots_.end(), 0);
    keys_.clear();
  }
  count_ = 0;
}

inline bool MemoTable::Seen(const JoinPoint& join, int32_t index, int64_t pos,
                            const int64_t* regs) {
  if (join.bit_row >= 0 && bits_ != nullptr) {
    const uint64_t bit =
        static_cast<uint64_t>(join.bit_row) * row_length_ + static_cast<uint64_t>(pos);
    uint64_t& word = bits_[bit >> 6];
    const uint64_t mask = uint64_t{1} << (bit & 63);
    if (word & mask) return true;
    word |= mask;
    return false;
  }
  JoinStats& stats = stats_[index];
  if (stats.pause > 0) {
    --stats.pause;
    return false;
  }
  const bool seen = Lookup(join, index, pos, regs);
  stats.hits += seen;
  if (++stats.lookups == kWindow) EndWindow(stats);
  return seen;
}

void MemoTable::EndWindow(JoinStats& stats) {
  if (stats.hits < kFewHits) {
    stats.last_pause = std::min(kMaxPause, stats.last_pause == 0 ? kWindow : 2 * stats.last_pause);
    stats.pause = stats.last_pause;
  } else {
    stats.last_pause = 0;
  }
  stats.lookups = stats.hits = 0;
}

bool MemoTable::Lookup(const JoinPoint& join, int32_t index, int64_t pos, const int64_t* regs) {
  key_.resize(3 + join.live.size());
  key_[0] = static_cast<uint32_t>(key_.size());
  key_[1] = static_cast<uint32_t>(index);
  key_[2] = static_cast<uint32_t>(pos);
  for (size_t i = 0; i < join.live.size(); ++i) {
    // Registers hold -1 (unset), positions and counts; a count beyond 32 bits is not remembered.
    const int64_t value = regs[join.live[i]] + 1;
    if (value < 0 || value > 0xFFFFFFFF) return false;
    key_[3 + i] = static_cast<uint32_t>(value);
  }
  return Insert(key_.data(), key_.size());
}

bool MemoTable::Insert(const uint32_t* key, size_t length) {
  if (slots_.empty()) slots_.assign(kInitialSlots, 0);
  const uint64_t hash = HashWords(key, length);
  const uint64_t tag = hash >> 32;
  const size_t mask = slots_.size() - 1;
  size_t i = hash & mask;
  for (; slots_[i] != 0; i = (i + 1) & mask) {
    if ((slots_[i] >> 32) != tag) continue;
    const uint32_t* other = keys_.data() + ((slots_[i] & 0xFFFFFFFF) - 1);
    if (other[0] == length && std::equal(key, key + length, other)) return true;
  }
  if (count_ >= Backtracker::kMaxMemoEntries ||
      keys_.size() + length > Backtracker::kMaxMemoKeyWords) {
    return false;  // full: the state is searched again whenever it is met
  }
  if (keys_.size() + length > keys_.capacity()) {
    // Grown by hand, so that the keys never take more than their cap.
    keys_.reserve(std::min<size_t>(std::max<size_t>(2 * keys_.capacity(), 4096),
                                   Backtracker::kMaxMemoKeyWords));
  }
  slots_[i] = (tag << 32) | (keys_.size() + 1);
  keys_.insert(keys_.end(), key, key + length);
  if (++count_ * 2 > slots_.size()) Grow();
  return false;
}

void MemoTable::Grow() {
  std::vector<uint64_t> old(slots_.size() * 2, 0);
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (uint64_t slot : old) {
    if (slot == 0) continue;
    const uint32_t* key = keys_.data() + ((slot & 0xFFFFFFFF) - 1);
    size_t i = HashWords(key, key[0]) & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

// Per-thread working memory, kept from search to search.
struct Scratch {
  ChunkedStack<Choice> choices;
  ChunkedStack<TrailEntry> trail;
  std::vector<int64_t> regs;
  MemoTable memo;
};

// Gives back what one huge search took, also when the search throws.
struct ScratchTrimmer {
  Scratch& scratch;
  ~ScratchTrimmer() {
    scratch.choices.Trim();
    scratch.trail.Trim();
    scratch.memo.Finish();
  }
};

enum class Outcome { kNoMatch, kMatch, kStopped };

// Counts the bytes of `set` from text[pos] on, at most `limit` of them, in pieces between
// which the poller is counted. Returns -1 when stopped.
inline int64_t CountBytes(const ByteSet& set, const uint8_t* text, int64_t pos, int64_t limit,
                          Poller& poller) {
  int64_t n = 0;
  for (;;) {
    const int64_t from = n;
    const int64_t piece_end = std::min(limit, n + kScanPiece);
    while (n < piece_end && set[text[pos + n]]) ++n;
    if (poller.Tick((n - from) >> 4)) return -1;
    if (n < piece_end || n == limit) return n;
  }
}

// Does text[b, b + length) equal text[a, a + length), byte for byte or (caseless) each byte
// or its other case? Compared in pieces between which the poller is counted; -1 when stopped.
inline int SameText(const uint8_t* a, const uint8_t* b, int64_t length, bool caseless,
                    Poller& poller) {
  if (length <= 16 && !caseless) {
    // The usual capture: a few bytes, cheaper compared here than through a call.
    for (int64_t i = 0; i < length; ++i) {
      if (a[i] != b[i]) return 0;
    }
    return 1;
  }
  const auto& other = OtherCaseTable();
  for (int64_t done = 0; done < length;) {
    const int64_t piece = std::min(length - done, kScanPiece);
    if (caseless) {
      for (int64_t i = done; i < done + piece; ++i) {
        if (a[i] != b[i] && other[a[i]] != b[i]) return 0;
      }
    } else if (std::memcmp(a + done, b + done, static_cast<size_t>(piece)) != 0) {
      return 0;
    }
    done += piece;
    if (poller.Tick(piece >> 4)) return -1;
  }
  return 1;
}

// What one instruction did: go on at the new pc and position, fail (back to the latest
// choice), succeed, or end the search on the stop flag.
enum class Step { kGo, kFail, kMatch, kStopped };

// One search over one text: the attempts from every start, sharing the memo.
class TextSearch {
 public:
  TextSearch(const Program& program, Scratch& scratch, const uint8_t* text, int64_t size,
             Poller& poller)
      : program_(program),
        code_(program.code.data()),
        sets_(program.sets.data()),
        scratch_(scratch),
        text_(text),
        size_(size),
        poller_(poller) {}

  // The memo starts after `steps` steps; 0 starts it now, a negative count never.
  void StartMemoAfter(int64_t steps) {
    steps_until_memo_ = steps;
    if (steps == 0) scratch_.memo.Start(program_, size_);
  }

  Outcome Attempt(int64_t start);

 private:
  // Was the state at `in` met before with the same live registers? It failed then, so it
  // fails now.
  bool KnownToFail(const Inst& in, int64_t pos) {
    return in.memo >= 0 && scratch_.memo.active() &&
           scratch_.memo.Seen(program_.joins[in.memo], in.memo, pos, scratch_.regs.data());
  }
  void SetRegister(int32_t reg, int64_t value) {
    if (!scratch_.choices.empty()) scratch_.trail.push_back({reg, scratch_.regs[reg]});
    scratch_.regs[reg] = value;
  }
  void PushChoice(int32_t pc, ChoiceKind kind, int64_t pos, int64_t count = 0) {
    scratch_.choices.push_back({pc, kind, scratch_.trail.size(), pos, count});
  }
  Step Execute(const Inst& in, int32_t& pc, int64_t& pos);
  Step BackReference(const Inst& in, int64_t& pos);
  Step RepeatTest(const Inst& in, int32_t& pc, int64_t pos);
  Step RepeatNext(const Inst& in, int32_t& pc, int64_t pos);
  Step ByteRepeat(const Inst& in, int32_t pc, int64_t& pos);
  bool Backtrack(int32_t& pc, int64_t& pos);

  const Program& program_;
  const Inst* code_;
  const ByteSet* sets_;
  Scratch& scratch_;
  const uint8_t* text_;
  int64_t size_;
  Poller& poller_;
  int64_t steps_until_memo_ = -1;
};

Outcome TextSearch::Attempt(int64_t start) {
  scratch_.choices.clear();
  scratch_.trail.clear();
  // Only the capture registers are read before they are written.
  std::fill(scratch_.regs.begin(), scratch_.regs.begin() + 3 * program_.used_group_slots,
            int64_t{-1});
  int32_t pc = 0;
  int64_t pos = start;
  for (;;) {
    if (poller_.Tick()) return Outcome::kStopped;
    if (steps_until_memo_ > 0 && --steps_until_memo_ == 0) scratch_.memo.Start(program_, size_);
    const Inst& in = code_[pc];
    switch (KnownToFail(in, pos) ? Step::kFail : Execute(in, pc, pos)) {
      case Step::kGo:
        continue;
      case Step::kFail:
        if (Backtrack(pc, pos)) continue;
        return Outcome::kNoMatch;
      case Step::kMatch:
        return Outcome::kMatch;
      case Step::kStopped:
        return Outcome::kStopped;
    }
  }
}

inline Step TextSearch::Execute(const Inst& in, int32_t& pc, int64_t& pos) {
  switch (in.op) {
    case Op::kByteSet:
      if (pos >= size_ || !sets_[in.arg][text_[pos]]) return Step::kFail;
      ++pos;
      break;
    case Op::kAnyByte:
      if (pos >= size_) return Step::kFail;
      ++pos;
      break;
    case Op::kAssert:
      if (!AssertionHolds(in.assertion, text_, size_, pos)) return Step::kFail;
      break;
    case Op::kGroupOpen:
      SetRegister(GroupOpenAt(in.arg), pos);
      break;
    case Op::kGroupClose:
      SetRegister(CaptureStart(in.arg), scratch_.regs[GroupOpenAt(in.arg)]);
      SetRegister(CaptureEnd(in.arg), pos);
      break;
    case Op::kBackReference:
      if (const Step step = BackReference(in, pos); step != Step::kGo) return step;
      break;
    case Op::kSplit:
      PushChoice(in.alt, ChoiceKind::kResume, pos);
      pc = in.target;
      return Step::kGo;
    case Op::kJump:
      pc = in.target;
      return Step::kGo;
    case Op::kRepeatEnter:
      SetRegister(LoopCount(in.arg), 0);
      break;
    case Op::kRepeatTest:
      return RepeatTest(in, pc, pos);
    case Op::kRepeatBody:
      SetRegister(LoopIterationStart(in.arg), pos);
      break;
    case Op::kRepeatNext:
      return RepeatNext(in, pc, pos);
    case Op::kByteRepeat:
      if (const Step step = ByteRepeat(in, pc, pos); step != Step::kGo) return step;
      break;
    case Op::kLoopTooDeep:
      throw ExecError(kLoopStackExceeded);
    case Op::kFail:
      return Step::kFail;
    case Op::kMatch:
      return Step::kMatch;
  }
  ++pc;
  return Step::kGo;
}

inline Step TextSearch::BackReference(const Inst& in, int64_t& pos) {
  const int64_t from = scratch_.regs[CaptureStart(in.arg)];
  if (from < 0) return Step::kFail;
  const int64_t length = scratch_.regs[CaptureEnd(in.arg)] - from;
  if (length > size_ - pos) return Step::kFail;
  const int same = SameText(text_ + from, text_ + pos, length, in.flag, poller_);
  if (same < 0) return Step::kStopped;
  if (same == 0) return Step::kFail;
  pos += length;
  return Step::kGo;
}

inline Step TextSearch::RepeatTest(const Inst& in, int32_t& pc, int64_t pos) {
  const int64_t done = scratch_.regs[LoopCount(in.arg)];
  if (done < in.min) {
    ++pc;
  } else if (in.max != kInfinite && done >= in.max) {
    pc = in.target;
  } else if (in.flag) {
    PushChoice(in.target, ChoiceKind::kResume, pos);
    ++pc;
  } else {
    PushChoice(pc + 1, ChoiceKind::kResume, pos);
    pc = in.target;
  }
  return Step::kGo;
}

inline Step TextSearch::RepeatNext(const Inst& in, int32_t& pc, int64_t pos) {
  const int64_t done = scratch_.regs[LoopCount(in.arg)];
  // An empty iteration once the minimum is reached can only repeat itself: refuse it.
  if (in.flag && pos == scratch_.regs[LoopIterationStart(in.arg)] && done >= in.min) {
    return Step::kFail;
  }
  SetRegister(LoopCount(in.arg), done + 1);
  pc = in.target;
  return Step::kGo;
}

// Greedy: takes all the bytes it may, leaving a choice to give them back one by one. Lazy:
// takes the minimum, leaving a choice to take one more.
inline Step TextSearch::ByteRepeat(const Inst& in, int32_t pc, int64_t& pos) {
  const ByteSet& set = sets_[in.arg];
  int64_t limit = size_ - pos;
  if (in.max != kInfinite) limit = std::min<int64_t>(limit, in.max);
  if (!in.flag && in.min > limit) return Step::kFail;
  const int64_t n = CountBytes(set, text_, pos, in.flag ? limit : in.min, poller_);
  if (n < 0) return Step::kStopped;
  if (n < in.min) return Step::kFail;
  if (in.flag && n > in.min) PushChoice(pc, ChoiceKind::kGreedyBytes, pos, n);
  pos += n;
  if (!in.flag && n < limit) PushChoice(pc, ChoiceKind::kLazyBytes, pos, n);
  return Step::kGo;
}

// Goes back to the latest choice point that still has something to try, undoing the register
// writes made since; false when there is none.
bool TextSearch::Backtrack(int32_t& pc, int64_t& pos) {
  ChunkedStack<Choice>& choices = scratch_.choices;
  ChunkedStack<TrailEntry>& trail = scratch_.trail;
  for (;;) {
    if (choices.empty()) return false;
    Choice& choice = choices.back();
    for (size_t i = trail.size(); i > choice.trail_size; --i) {
      scratch_.regs[trail[i - 1].reg] = trail[i - 1].old_value;
    }
    trail.truncate(choice.trail_size);
    if (choice.kind == ChoiceKind::kResume) {
      pc = choice.pc;
      pos = choice.pos;
      choices.pop_back();
      return true;
    }
    const Inst& repeat = code_[choice.pc];
    pc = choice.pc + 1;
    if (choice.kind == ChoiceKind::kGreedyBytes) {
      --choice.count;
      pos = choice.pos + choice.count;
      if (choice.count == repeat.min) choices.pop_back();
      return true;
    }
    // kLazyBytes: one byte more, while the set and the maximum allow.
    if (choice.pos < size_ && sets_[repeat.arg][text_[choice.pos]]) {
      ++choice.pos;
      ++choice.count;
      pos = choice.pos;
      if (pos == size_ || (repeat.max != kInfinite && choice.count >= repeat.max)) {
        choices.pop_back();
      }
      return true;
    }
    choices.pop_back();
  }
}

}  // namespace

Backtracker::Backtracker(const SyntaxTree& tree, Memo memo)
    : program_(std::make_shared<const Program>(*Compile(tree, Loops::kCounted))), memo_(memo) {
  if (!program_->may_be_empty && !program_->first_bytes.all()) {
    first_bytes_.emplace(program_->first_bytes);
  }
}

bool Backtracker::Search(std::string_view text, const std::atomic<bool>* stop, SearchHook hook,
                         int64_t last_start) const {
  if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
  Poller poller(stop, hook);
  return Search(text, poller, last_start);
}

bool Backtracker::Search(std::string_view text, Poller& poller, int64_t last_start) const {
  const Program& program = *program_;
  ScratchLease<Scratch> scratch;
  ScratchTrimmer trimmer{*scratch};
  const size_t registers = static_cast<size_t>(program.RegisterCount());
  if (scratch->regs.size() < registers) scratch->regs.resize(registers);

  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int64_t size = static_cast<int64_t>(text.size());
  TextSearch search(program, *scratch, bytes, size, poller);
  switch (memo_) {
    case Memo::kWhenSlow:
      // About the steps a search that meets every (instruction, position) once would take.
      search.StartMemoAfter(2 * Poller::kInterval +
                            static_cast<int64_t>(program.code.size()) * (size + 1));
      break;
    case Memo::kAlways:
      search.StartMemoAfter(0);
      break;
    case Memo::kNever:
      break;
  }
  int64_t last = std::min(program.anchored ? 0 : size, last_start);
  // A match that consumes a byte first begins before the end, at a byte it can begin with.
  if (!program.may_be_empty) last = std::min(last, size - 1);
  for (int64_t start = 0; start <= last; ++start) {
    if (first_bytes_ && !first_bytes_->set()[bytes[start]]) {
      start = first_bytes_->First(bytes, start + 1, last + 1, poller);
      if (start < 0 || start > last) return false;
    }
    switch (search.Attempt(start)) {
      case Outcome::kMatch:
        return true;
      case Outcome::kStopped:
        return false;
      case Outcome::kNoMatch:
        break;
    }
  }
  return false;
}

}  // namespace veskor::regexp
