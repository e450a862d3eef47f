// The production scanner: batches of run finding (engine/run_finder) between looks at the stop
// flag and the clock, the judging of runs, and the search of all keys in few passes.
#include "engine/scanner.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/fault_guard.h"
#include "engine/run_finder.h"

namespace veskor {
namespace {

using namespace std::chrono_literals;

// Bytes scanned in one batch between two looks at the stop flag and the clock.
constexpr uint64_t kDefaultBatchBytes = uint64_t{1} << 20;
// Runs collected in one batch before they are judged.
constexpr size_t kBatchRuns = 1024;
constexpr auto kEventInterval = 20ms;
// Strings up to this length are decoded whole; a longer one streams from the file into its line
// in pieces of this size, so memory does not grow with a string's length.
constexpr uint64_t kHeldTextBytes = uint64_t{64} << 10;

// The text of a long string, decoded from the mapping piece by piece as its line is written.
class MappedText : public LongText {
 public:
  MappedText(const uint8_t* data, uint64_t length, const DecodeTable* decode)
      : data_(data), length_(length), decode_(decode) {}
  uint64_t size() const override { return length_; }
  void WriteTo(uint64_t count, ByteSink& sink) const override {
    std::string piece(static_cast<size_t>(std::min(count, kHeldTextBytes)), '\0');
    for (uint64_t at = 0; at < count; at += piece.size()) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(piece.size(), count - at));
      char* out = piece.data();
      const uint8_t* in = data_ + at;
      const bool read = ReadMapped([&] {
        for (size_t i = 0; i < n; ++i) {
          out[i] = static_cast<char>(decode_ != nullptr ? (*decode_)[in[i]] : in[i]);
        }
      });
      if (!read) throw InputReadError();
      sink.Write(std::string_view(out, n));
    }
  }

 private:
  const uint8_t* data_;
  uint64_t length_;
  const DecodeTable* decode_;  // null: the text is the stored bytes
};

// Which decoders turn a pair of stored bytes into two alphabet bytes under a common key is
// known from the pair alone for the three keyed ciphers: XOR8 keeps b ^ b', ADD8 and SUB8 keep
// b' - b. That lets one pass find every place where some key could have a run.
enum class KeyFamily { kXor, kAdd, kSub, kNone, kOther };

KeyFamily FamilyOf(DecodeFunction decode) {
  bool is_xor = true, is_add = true, is_sub = true, is_none = true;
  for (int k = 0; k < 256; ++k) {
    for (int b = 0; b < 256; ++b) {
      const uint8_t d = decode(static_cast<uint8_t>(b), static_cast<uint8_t>(k));
      is_xor = is_xor && d == (b ^ k);
      is_add = is_add && d == static_cast<uint8_t>(b + k);
      is_sub = is_sub && d == static_cast<uint8_t>(b - k);
      is_none = is_none && d == b;
    }
  }
  if (is_none) return KeyFamily::kNone;
  if (is_xor) return KeyFamily::kXor;
  if (is_add) return KeyFamily::kAdd;
  if (is_sub) return KeyFamily::kSub;
  return KeyFamily::kOther;
}

// At most this many regions or strings (16 bytes each) are kept for the search of all keys;
// beyond it the search falls back to one pass per key, so memory stays bounded.
constexpr size_t kDefaultMaxRegions = size_t{1} << 20;

class Pass {
 public:
  Pass(const TAlgorithm& algorithm, const TSearchFields& fields, TScanContext& context,
       uint64_t batch_bytes, std::chrono::nanoseconds event_interval,
       size_t max_regions = kDefaultMaxRegions)
      : algorithm_(algorithm),
        fields_(fields),
        context_(context),
        batch_bytes_(std::max<uint64_t>(1, batch_bytes)),
        event_interval_(event_interval),
        max_regions_(max_regions) {
    for (char c : fields.Alphabet) in_alphabet_[static_cast<uint8_t>(c)] = true;
    min_run_ = std::max<uint64_t>(1, fields.MinLength);
    SetKey(context.Key);
  }

  // One pass over the whole file with context.Key.
  void Run() {
    if (!ScanRange(0, context_.Size)) return;
    context_.Services->SetProgress(100);
  }

  // Every key from 1 to 255 in key order, as that many passes would give them.
  void RunAllKeys(const std::function<bool(int)>& after_key) {
    SetKey(1);
    const KeyFamily family = FamilyOf(algorithm_.Decode);
    if (family == KeyFamily::kNone) return RunAllKeysUnkeyed(after_key);
    std::vector<Span> regions;
    if (min_run_ >= 2 && family != KeyFamily::kOther && FindAllRegions(family, regions)) {
      for (int key = 1; key <= 255; ++key) {
        SetKey(static_cast<uint8_t>(key));
        for (const Span& region : regions) {
          if (!ScanRange(region.start, region.end)) return;
        }
        if (!after_key(key)) return;
      }
      return;
    }
    for (int key = 1; key <= 255; ++key) {
      SetKey(static_cast<uint8_t>(key));
      if (!ScanRange(0, context_.Size)) return;
      if (!after_key(key)) return;
    }
  }

 private:
  void SetKey(uint8_t key) {
    context_.Key = key;
    decode_ = MakeDecodeTable(algorithm_.Decode, key);
    identity_ = true;
    for (int b = 0; b < 256; ++b) identity_ = identity_ && decode_[b] == b;
    std::array<bool, 256> member{};
    for (int b = 0; b < 256; ++b) member[b] = in_alphabet_[decode_[b]];
    members_.emplace(member);
  }

  // Scans [begin, end) as if the bytes just outside it were no members. Returns false when a
  // stop ended it (the open run is dropped).
  bool ScanRange(uint64_t begin, uint64_t end) {
    RunState state;
    state.pos = begin;
    std::array<Span, kBatchRuns> spans;
    while (state.pos < end) {
      if (StopRequested.load(std::memory_order_relaxed)) return false;
      const uint64_t limit = std::min(end, state.pos + batch_bytes_);
      size_t found = 0;
      const bool read = ReadMapped([&] {
        found = FindByteRuns(context_.Data, *members_, min_run_, limit, state, spans.data(),
                             spans.size());
      });
      if (!read) throw InputReadError();
      for (size_t i = 0; i < found; ++i) Judge(spans[i]);
      PaceEvents(state.pos);
    }
    if (StopRequested.load(std::memory_order_relaxed)) return false;
    // A run still open at the end (of the file, or of a region) is judged like any other.
    if (state.in_run && end - state.run_start >= min_run_) Judge({state.run_start, end});
    return true;
  }

  // The stretches where adjacent stored bytes could both decode into the alphabet under one key:
  // every pair (i, i + 1) inside has its value (b ^ b' for XOR8, b' - b for ADD8 and SUB8) among
  // the values of two alphabet bytes, and the stretch has at least m bytes. A run of m or more
  // members under any key lies inside one such stretch, and the bytes just outside a stretch
  // end every run that touches it. Returns false when there are more than max_regions_.
  bool FindAllRegions(KeyFamily family, std::vector<Span>& regions) {
    std::array<bool, 256> pair_ok{};
    for (int a = 0; a < 256; ++a) {
      if (!in_alphabet_[a]) continue;
      for (int b = 0; b < 256; ++b) {
        if (!in_alphabet_[b]) continue;
        pair_ok[family == KeyFamily::kXor ? a ^ b : static_cast<uint8_t>(b - a)] = true;
      }
    }
    const ByteClass pairs(pair_ok);
    const PairValue value = family == KeyFamily::kXor ? PairValue::kXor : PairValue::kDifference;
    const uint64_t positions = context_.Size - 1;  // pair i joins bytes i and i + 1
    RunState state;
    std::array<Span, kBatchRuns> spans;
    auto add = [&](Span pair_run) {
      if (regions.size() == max_regions_) return false;
      regions.push_back({pair_run.start, pair_run.end + 1});
      return true;
    };
    while (state.pos < positions) {
      if (StopRequested.load(std::memory_order_relaxed)) return true;  // the key loop stops
      const uint64_t limit = std::min(positions, state.pos + batch_bytes_);
      size_t found = 0;
      const bool read = ReadMapped([&] {
        found = FindPairRuns(context_.Data, pairs, value, min_run_ - 1, limit, state, spans.data(),
                             spans.size());
      });
      if (!read) throw InputReadError();
      for (size_t i = 0; i < found; ++i) {
        if (!add(spans[i])) return false;
      }
      PaceEvents(state.pos);
    }
    if (state.in_run && positions - state.run_start >= min_run_ - 1) {
      return add({state.run_start, positions});
    }
    return true;
  }

  // NONE decodes the same under every key: one scan finds the strings, and every key reports
  // them again with its own number. The strings are kept as spans while they fit.
  void RunAllKeysUnkeyed(const std::function<bool(int)>& after_key) {
    collected_.clear();
    collecting_ = true;
    const bool complete = ScanRange(0, context_.Size);
    collecting_ = false;
    if (!complete) return;
    if (overflow_) {
      overflow_ = false;
      collected_.clear();
      collected_.shrink_to_fit();
      if (!after_key(1)) return;
      for (int key = 2; key <= 255; ++key) {
        SetKey(static_cast<uint8_t>(key));
        if (!ScanRange(0, context_.Size)) return;
        if (!after_key(key)) return;
      }
      return;
    }
    if (!after_key(1)) return;
    for (int key = 2; key <= 255; ++key) {
      context_.Key = static_cast<uint8_t>(key);
      for (const Span& span : collected_) {
        if (StopRequested.load(std::memory_order_relaxed)) return;
        Report(span);
        PaceEvents(span.end);
      }
      if (!after_key(key)) return;
    }
  }

  void Judge(const Span& span) {
    const uint64_t length = span.end - span.start;
    if (fields_.MaxLength != 0 && length > fields_.MaxLength) return;
    if (fields_.RegExp.empty() && length > kHeldTextBytes) {
      ReportLong(span);
    } else {
      Decode(span);
      if (!fields_.RegExp.empty() && !context_.Services->MatchesExpression(fields_.RegExp, text_)) {
        return;
      }
      context_.Services->Report(context_.Key, context_.Width, static_cast<int64_t>(span.start),
                                text_);
      ++context_.Found;
    }
    if (collecting_) {
      if (collected_.size() < max_regions_) {
        collected_.push_back(span);
      } else {
        overflow_ = true;
      }
    }
  }

  void ReportLong(const Span& span) {
    const MappedText text(context_.Data + span.start, span.end - span.start,
                          identity_ ? nullptr : &decode_);
    context_.Services->ReportLong(context_.Key, context_.Width, static_cast<int64_t>(span.start),
                                  text);
    ++context_.Found;
  }

  void Report(const Span& span) {
    if (span.end - span.start > kHeldTextBytes) return ReportLong(span);
    Decode(span);
    context_.Services->Report(context_.Key, context_.Width, static_cast<int64_t>(span.start),
                              text_);
    ++context_.Found;
  }

  void Decode(const Span& span) {
    const uint64_t length = span.end - span.start;
    text_.resize(length);
    char* out = text_.data();
    const uint8_t* in = context_.Data + span.start;
    const bool read = ReadMapped([&] {
      if (identity_) {
        std::memcpy(out, in, length);
      } else {
        for (uint64_t i = 0; i < length; ++i) out[i] = static_cast<char>(decode_[in[i]]);
      }
    });
    if (!read) throw InputReadError();
  }

  // `pos` bytes have been examined: show progress and let the window in every 20 ms or so.
  void PaceEvents(uint64_t pos) {
    const auto now = std::chrono::steady_clock::now();
    if (now - context_.LastEvents < event_interval_) return;
    if (context_.SingleKey) {
      // The reference writes the progress of the last byte it examined, pos - 1.
      const int p = ProgressAt(pos - 1, context_.Size);
      if (p > last_progress_) {
        context_.Services->SetProgress(p);
        last_progress_ = p;
      }
    }
    context_.Services->ProcessEvents();
    context_.LastEvents = std::chrono::steady_clock::now();
  }

  const TAlgorithm& algorithm_;
  const TSearchFields& fields_;
  TScanContext& context_;
  const uint64_t batch_bytes_;
  const std::chrono::nanoseconds event_interval_;
  const size_t max_regions_;
  std::array<bool, 256> in_alphabet_{};
  DecodeTable decode_;
  bool identity_ = false;  // NONE, or key 0: the text is the stored bytes
  std::optional<ByteClass> members_;
  uint64_t min_run_;
  int last_progress_ = 0;
  std::string text_;
  bool collecting_ = false;
  bool overflow_ = false;
  std::vector<Span> collected_;
};

}  // namespace

void ScanPass(const TAlgorithm& algorithm, const TSearchFields& fields, TScanContext& context) {
  Pass(algorithm, fields, context, kDefaultBatchBytes, kEventInterval).Run();
}

void ScanPassWithBatch(const TAlgorithm& algorithm, const TSearchFields& fields,
                       TScanContext& context, uint64_t batch_bytes,
                       std::chrono::nanoseconds event_interval) {
  Pass(algorithm, fields, context, batch_bytes, event_interval).Run();
}

void ScanAllKeys(const TAlgorithm& algorithm, const TSearchFields& fields, TScanContext& context,
                 const std::function<bool(int)>& after_key) {
  Pass(algorithm, fields, context, kDefaultBatchBytes, kEventInterval).RunAllKeys(after_key);
}

void ScanAllKeysWithBatch(const TAlgorithm& algorithm, const TSearchFields& fields,
                          TScanContext& context, const std::function<bool(int)>& after_key,
                          uint64_t batch_bytes, std::chrono::nanoseconds event_interval,
                          size_t max_regions) {
  Pass(algorithm, fields, context, batch_bytes, event_interval, max_regions).RunAllKeys(after_key);
}

}  // namespace veskor
