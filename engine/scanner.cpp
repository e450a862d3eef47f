// Run finding by probing: a run of at least m members must cover the last byte of every window
// of m bytes it starts in, so a window whose last byte is no member is skipped whole.
#include "engine/scanner.h"

#include <algorithm>
#include <array>
#include <string>

#include "engine/fault_guard.h"

namespace veskor {
namespace {

using namespace std::chrono_literals;

// Bytes scanned in one batch between two looks at the stop flag and the clock.
constexpr uint64_t kDefaultBatchBytes = uint64_t{1} << 20;
// Runs collected in one batch before they are judged.
constexpr size_t kBatchRuns = 1024;
constexpr auto kEventInterval = 20ms;

using MemberTable = std::array<uint8_t, 256>;

struct RunState {
  uint64_t pos = 0;  // next byte to examine
  bool in_run = false;
  uint64_t run_start = 0;
};

struct Span {
  uint64_t start, end;
};

// Advances through data[state.pos, limit) and stores the runs of at least `m` members that end
// before `limit`. Stops at `limit` or when `capacity` runs are stored. Touches nothing but PODs
// so that it can run inside ReadMapped.
size_t FindRuns(const uint8_t* data, const uint8_t* member, uint64_t m, uint64_t limit,
                RunState& state, Span* out, size_t capacity) {
  size_t n = 0;
  uint64_t pos = state.pos;
  bool in_run = state.in_run;
  uint64_t run_start = state.run_start;
  while (pos < limit) {
    if (in_run) {
      while (pos < limit && member[data[pos]]) ++pos;
      if (pos == limit) break;
      if (pos - run_start >= m) out[n++] = {run_start, pos};
      in_run = false;
      ++pos;  // the byte that ended the run belongs to no run
      if (n == capacity) break;
      continue;
    }
    // Outside a run, the byte before pos is no member (or pos is 0).
    while (pos + m - 1 < limit && !member[data[pos + m - 1]]) pos += m;
    if (pos + m - 1 < limit) {
      const uint64_t probe = pos + m - 1;
      uint64_t start = probe;
      while (start > pos && member[data[start - 1]]) --start;
      in_run = true;
      run_start = start;
      pos = probe + 1;
    } else {
      while (pos < limit && !member[data[pos]]) ++pos;
      if (pos < limit) {
        in_run = true;
        run_start = pos++;
      }
    }
  }
  state = {pos, in_run, run_start};
  return n;
}

class Pass {
 public:
  Pass(const TAlgorithm& algorithm, const TSearchFields& fields, TScanContext& context,
       uint64_t batch_bytes, std::chrono::nanoseconds event_interval)
      : fields_(fields),
        context_(context),
        batch_bytes_(std::max<uint64_t>(1, batch_bytes)),
        event_interval_(event_interval) {
    decode_ = MakeDecodeTable(algorithm.Decode, context.Key);
    std::array<bool, 256> in_alphabet{};
    for (char c : fields.Alphabet) in_alphabet[static_cast<uint8_t>(c)] = true;
    for (int b = 0; b < 256; ++b) member_[b] = in_alphabet[decode_[b]];
    min_run_ = std::max<uint64_t>(1, fields.MinLength);
  }

  void Run() {
    const uint64_t size = context_.Size;
    RunState state;
    std::array<Span, kBatchRuns> spans;
    while (state.pos < size) {
      if (StopRequested.load(std::memory_order_relaxed)) return;  // the open run is dropped
      const uint64_t limit = std::min(size, state.pos + batch_bytes_);
      size_t found = 0;
      const bool read = ReadMapped([&] {
        found = FindRuns(context_.Data, member_.data(), min_run_, limit, state, spans.data(),
                         spans.size());
      });
      if (!read) throw InputReadError();
      for (size_t i = 0; i < found; ++i) Judge(spans[i]);
      PaceEvents(state.pos);
    }
    if (StopRequested.load(std::memory_order_relaxed)) return;
    // A run still open at the end of the file is judged like any other.
    if (state.in_run && size - state.run_start >= min_run_) Judge({state.run_start, size});
    context_.Services->SetProgress(100);
  }

 private:
  void Judge(const Span& span) {
    const uint64_t length = span.end - span.start;
    if (fields_.MaxLength != 0 && length > fields_.MaxLength) return;
    text_.resize(length);
    char* out = text_.data();
    const uint8_t* in = context_.Data + span.start;
    const bool read = ReadMapped([&] {
      for (uint64_t i = 0; i < length; ++i) out[i] = static_cast<char>(decode_[in[i]]);
    });
    if (!read) throw InputReadError();
    if (!fields_.RegExp.empty() && !context_.Services->MatchesExpression(fields_.RegExp, text_)) {
      return;
    }
    context_.Services->Report(context_.Key, context_.Width, static_cast<int64_t>(span.start),
                              text_);
    ++context_.Found;
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

  const TSearchFields& fields_;
  TScanContext& context_;
  const uint64_t batch_bytes_;
  const std::chrono::nanoseconds event_interval_;
  DecodeTable decode_;
  MemberTable member_;
  uint64_t min_run_;
  int last_progress_ = 0;
  std::string text_;
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

}  // namespace veskor
