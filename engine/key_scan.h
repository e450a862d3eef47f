// The single-key scanner: the runs of one key's members in a stretch of the file, and the judging
// of each run (its length, the row's expression) into its line. Every search of a row is built
// from these two.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/algorithms.h"
#include "engine/fault_guard.h"
#include "engine/key_summary.h"
#include "engine/line_maker.h"
#include "engine/run_finder.h"
#include "engine/scan_context.h"
#include "engine/text_score.h"
#include "engine/worker_pool.h"
#include "text/error.h"

namespace veskor {

// Raised when the input's bytes can no longer be read (the file shrank under the mapping). The
// run turns it into its "cannot read" message and goes on with the next row.
class InputReadError : public Error {
 public:
  InputReadError() : Error("The input file could not be read") {}
};

// Strings up to this length are decoded whole; a longer one streams from the file into its line
// in pieces of this size, so memory does not grow with a string's length.
inline constexpr uint64_t kHeldTextBytes = uint64_t{64} << 10;

// The byte values of an alphabet text (order and repetition do not matter).
std::array<bool, 256> AlphabetSet(std::string_view alphabet);

// What every search of one row shares; nothing in it changes while the search runs, so the
// workers read it freely.
struct ScanInput {
  const uint8_t* data = nullptr;
  uint64_t size = 0;
  int32_t width = 0;
  const TAlgorithm* algorithm = nullptr;
  const TSearchFields* fields = nullptr;
  const LineMaker* lines = nullptr;
  uint64_t min_run = 1;  // MinLength, at least 1
  std::array<bool, 256> in_alphabet{};
  uint64_t batch_bytes = uint64_t{1} << 20;  // bytes scanned between two checkpoints

  ScanInput(const uint8_t* input_data, uint64_t input_size, int32_t position_width,
            const TAlgorithm& input_algorithm, const TSearchFields& search_fields,
            const LineMaker& line_maker, uint64_t batch);

  // A run's length in characters.
  uint64_t Characters(const Span& span) const {
    return wide ? (span.end - span.start) / 2 : span.end - span.start;
  }

  // Wide algorithms read the decoded bytes as UTF-16LE code units at every byte offset; a unit
  // is a character when its Windows-1251 form is in the alphabet (1 in unit_char).
  bool wide = false;
  std::vector<uint8_t> unit_char;
};

// One key: its decode table and the stored bytes that decode into the alphabet under it.
class KeyView {
 public:
  KeyView(const ScanInput& input, uint8_t key);
  uint8_t key() const { return key_; }
  const DecodeTable& decode() const { return decode_; }
  bool identity() const { return identity_; }  // NONE, or key 0: the text is the stored bytes
  bool wide() const { return wide_; }
  const ByteClass& members() const { return members_; }
  // The text of `length` characters stored from `in`: the decoded bytes, or of a wide
  // algorithm the Windows-1251 forms of the decoded code units. Touches nothing but PODs.
  void DecodeText(const uint8_t* in, char* out, uint64_t length) const;

 private:
  uint8_t key_;
  DecodeTable decode_;
  bool identity_;
  bool wide_;
  CipherFamily family_;
  ByteClass members_;
};

// Texts held in memory for the expression's test up to this length; a longer one is decoded
// into a temporary file instead.
inline constexpr uint64_t kHeldInMemoryBytes = uint64_t{64} << 20;

// A text too long to hold, decoded into an unlinked temporary file (in $TMPDIR, else /tmp) and
// read through its mapping.
class SpilledText {
 public:
  SpilledText() = default;
  ~SpilledText();
  SpilledText(const SpilledText&) = delete;
  SpilledText& operator=(const SpilledText&) = delete;
  // Room for `length` bytes; the previous text is released. Raises IoError ("Disk full", ...).
  char* Map(uint64_t length);

 private:
  void Release();
  void* data_ = nullptr;
  uint64_t length_ = 0;
  int fd_ = -1;
};

// Judges the runs of one key: a run longer than MaxLength is dropped, the row's expression is
// asked when it has one, and an accepted run becomes its line in `out`, at once or, for short
// lines without an expression, in batches whose texts are read out of the file together. Errors
// of the format, the expression or the file's reading pass through, after the lines before them.
class RunJudge {
 public:
  // With a `summary`, every string whose line is written is counted and, where its text may
  // look like text, scored into it.
  RunJudge(const ScanInput& input, const KeyView& key, JobOutput& out,
           KeySummary* summary = nullptr);
  void Judge(const Span& span);
  // Whether the run passes MaxLength and the expression, without writing a line.
  bool Accepts(const Span& span);
  // The line of a run already accepted, under this key (it may wait for Flush).
  void Write(const Span& span);
  // Writes the lines that wait. A job calls it when its runs are done.
  void Flush();
  // The text of a run, at most its first `max_bytes` bytes; valid until the next call.
  std::string_view Text(const Span& span, uint64_t max_bytes);

 private:
  static constexpr size_t kQueuedRuns = 512;
  char* TextBuffer(uint64_t length);
  // Decodes the runs' texts back to back into `out`; false when the file faulted.
  bool DecodeRuns(const Span* runs, size_t count, char* out) const;
  void Decode(const Span& span);
  void WriteNow(const Span& span);
  // The waiting lines written in place, their texts decoded into them or, when `texts` holds
  // them decoded back to back, copied from there; false when the format does not allow it or
  // the file faulted (nothing is then written).
  bool FlushInPlace(const char* texts);

  // Counts and scores a written string into the summary; `text` is its whole text when it is
  // held, else empty (the text is read from the file).
  void Summarize(const Span& span, std::string_view text);

  const ScanInput& input_;
  const KeyView& key_;
  JobOutput& out_;
  KeySummary* summary_;
  TextScorer scorer_;
  std::string scratch_;  // a text decoded again for the summary
  std::unique_ptr<char[]> text_buffer_;
  uint64_t text_capacity_ = 0;
  SpilledText spilled_;
  std::string_view text_;
  Span decoded_{0, 0};  // the run whose text text_ holds
  std::vector<Span> queued_;
  uint64_t queued_bytes_ = 0;
  // The key's lines written in place, looked for at the first batch.
  std::unique_ptr<const KeyLineWriter> in_place_;
  bool in_place_known_ = false;
  std::vector<InPlaceLine> batch_;  // the queued runs' lines for in_place_
};

// The loop behind the scans of stretches, for any kind of position: `finder` has
//   size_t Find(uint64_t limit, RunState& state, Span* out, size_t capacity)
//   bool Has(uint64_t position) and uint64_t End(uint64_t position, uint64_t limit)
// each touching nothing but the mapping and PODs (they run under the fault guard). Hands the
// runs of at least m positions that start in [begin, end) to on_run, in order. Unless
// `cut_at_end`, a run that goes on across `begin` belongs to the stretch before and is skipped,
// and a run open at `end` goes on up to `positions` (the number of positions there are); with
// it, `begin` and `end` end every run (a region).
template <class Finder, class OnRun>
bool RunsStartingIn(const Finder& finder, uint64_t m, uint64_t begin, uint64_t end,
                    uint64_t positions, bool cut_at_end, uint64_t batch_bytes, JobOutput& out,
                    OnRun&& on_run);

// Scans byte offsets [begin, end) for the runs of the key's characters that start there, in file
// order, as ScanKeyRange does; for a wide algorithm the runs of code units at even and at odd
// offsets alike, merged in the order of their starts (a run is [first byte, byte after its last
// unit)).
bool ScanRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
               bool cut_at_end, JobOutput& out, const std::function<void(const Span&)>& on_run);

// Scans positions [begin, end) for the runs of the key's members that start there, in file
// order, and hands each run of MinLength or more to `on_run`. A run that began before `begin`
// belongs to the stretch before and is skipped; one that reaches past `end` is followed to its
// end, unless `cut_at_end` (a region whose outside bytes end every run: there `end` ends it).
// Checkpoints after every batch; returns false when one said to stop.
bool ScanKeyRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
                  bool cut_at_end, JobOutput& out, const std::function<void(const Span&)>& on_run);

template <class Finder, class OnRun>
bool RunsStartingIn(const Finder& finder, uint64_t m, uint64_t begin, uint64_t end,
                    uint64_t positions, bool cut_at_end, uint64_t batch_bytes, JobOutput& out,
                    OnRun&& on_run) {
  constexpr size_t kBatchRuns = 1024;
  RunState state;
  state.pos = begin;
  if (begin > 0 && !cut_at_end) {
    // A run that goes on across `begin` started before it: take it up as open, and skip it.
    bool member = false;
    if (!ReadMapped([&] { member = finder.Has(begin - 1); })) throw InputReadError();
    if (member) state = {begin, true, begin - 1};
  }
  std::array<Span, kBatchRuns> spans;
  while (state.pos < end) {
    if (!out.Checkpoint()) return false;
    const uint64_t limit = std::min(end, state.pos + batch_bytes);
    size_t found = 0;
    if (!ReadMapped([&] { found = finder.Find(limit, state, spans.data(), spans.size()); })) {
      throw InputReadError();
    }
    for (size_t i = 0; i < found; ++i) {
      if (spans[i].start >= begin) on_run(spans[i]);
    }
  }
  if (!out.Checkpoint()) return false;
  if (state.in_run && state.run_start >= begin) {
    uint64_t run_end = end;
    if (!cut_at_end && !ReadMapped([&] { run_end = finder.End(end, positions); })) {
      throw InputReadError();
    }
    if (run_end - state.run_start >= m) on_run(Span{state.run_start, run_end});
  }
  return true;
}

}  // namespace veskor
