// The judging of one key's spans: MaxLength, the row's expression, and the line of each accepted
// span, written in batches through the line maker.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/score/key_summary.h"
#include "engine/score/text_score.h"
#include "engine/search/line_maker.h"
#include "engine/search/scan_input.h"
#include "engine/search/span_finder.h"
#include "engine/search/spilled_text.h"

namespace veskor {

class JobOutput;

// Strings up to this length are decoded whole; a longer one streams from the file into its line
// in pieces of this size, so memory does not grow with a string's length.
inline constexpr uint64_t kHeldTextBytes = uint64_t{64} << 10;

// Judges the spans of one key: a span longer than MaxLength is dropped, the row's expression is
// asked when it has one, and an accepted span becomes its line in `out`, at once or, for short
// lines without an expression, in batches whose texts are read out of the file together. Errors
// of the format, the expression or the file's reading pass through, after the lines before them.
class SpanJudge {
 public:
  // With a `summary`, every string whose line is written is counted and, where its text may
  // look like text, scored into it.
  SpanJudge(const ScanInput& input, const KeyView& key, JobOutput& out,
            KeySummary* summary = nullptr);
  void Judge(const Span& span);
  // Whether the span passes MaxLength and the expression, without writing a line.
  bool Accepts(const Span& span);
  // The line of a span already accepted, under this key (it may wait for Flush).
  void Write(const Span& span);
  // Writes the lines that wait. A job calls it when its spans are done.
  void Flush();
  // The text of a span, at most its first `max_bytes` bytes; valid until the next call.
  std::string_view Text(const Span& span, uint64_t max_bytes);

  // A summary's search that writes no line and asks no expression: counts the run, which
  // passes MaxLength, and scores it where it may matter. `bound` is the pair bound of its text
  // in eighths of a bit (DenseSpans::kUnknownBound when there is none): a run whose bound cannot
  // pass the floor is counted without its text being read.
  void SummarizeSpan(const Span& span, uint16_t bound);
  // Summarizes the runs that SummarizeSpan keeps waiting (it reads their model bounds together).
  // A job calls it when its runs are done.
  void FinishSpans();
  // Strings whose score cannot pass `floor` (RankFloor::Floor) are left unscored even where the
  // key's own entry would score them; 0 (the start) scores every string the summary needs.
  void SetFloor(float floor) { floor_ = floor; }
  // Whether a string was left unscored for the floor alone: the key's summary is then no
  // whole one. Its score is at most LossBound() when no string passed the floor into the
  // summary (Passed(); one that passed it but only counts, as the host's own text, adds
  // nothing); else the key must be summarized again without the floor.
  bool Lossy() const { return lossy_; }
  bool Passed() const { return passed_; }
  double LossBound() const;
  // Whether every string left unscored above KeySummary::kThresholdBits scores less than
  // `value` (true when there is none).
  bool LostBelow(float value) const;
  // Forgets what the floor left out, for a summary made again.
  void ClearLoss();
  // Strings the floor left out before they reached the judge (the dense pass counted them):
  // `lossy` when one of them might have mattered, and the highest of their bounds above the
  // threshold.
  void AddLoss(bool lossy, std::span<const float> bounds);

 private:
  static constexpr size_t kQueuedSpans = 512;
  char* TextBuffer(uint64_t length);
  // Decodes the spans' texts back to back into `out`; false when the file faulted.
  bool DecodeSpans(const Span* spans, size_t count, char* out) const;
  void Decode(const Span& span);
  void WriteNow(const Span& span);
  // The waiting lines written in place, their texts decoded into them or, when `texts` holds
  // them decoded back to back, copied from there; false when the format does not allow it or
  // the file faulted (nothing is then written).
  bool FlushInPlace(const char* texts);

  // Counts and scores a written string into the summary; `text` is its whole text when it is
  // held, else empty (the text is read from the file).
  void Summarize(const Span& span, std::string_view text);
  // Summarize for the queued spans, whose lines are written: most are counted from their stored
  // bytes, and only those that may score or become the longest are decoded.
  void SummarizeQueued();
  // Summarize for a held text whose pair bound is known to pass the floor.
  void SummarizeText(const Span& span, std::string_view text, bool pair_bound_passed);
  // The score a string must pass to matter: the key's entry, or the floor when higher.
  float Floor() const;
  // Counts a string left unscored, whose score is at most `value`: a loss when only the floor
  // kept it from being scored.
  void Skip(const Span& span, uint64_t characters, std::string_view text, float value);
  // Keeps a bound above the threshold among the highest the floor left unscored.
  void Lose(float value);
  // Summarize for a run of one character, whose text is `text` when held, else empty.
  void SummarizeUniform(const Span& span, uint64_t characters, std::string_view text);
  // Adds a scored string, whose best stretch scorer_ holds, to the summary; `shown` is its text
  // from where it is shown. The host's own text only counts.
  void AddScored(const Span& span, uint64_t characters, std::string_view shown, float score);
  // Whether the `length` characters from `from` of a run read as text with no key already.
  bool PlainTextShowsThrough(const Span& span, uint64_t from, uint64_t length);
  // Whether the `length` characters from `from` of a run join strings that another reading of
  // the same bytes keeps apart: a list of words that a key reads with spaces where another
  // reads the zero bytes between them (a table of names), or lines whose ends the key reads as
  // letters where another map reads them as line ends.
  bool JoinedReading(const Span& span, uint64_t from, uint64_t length);
  // Whether the 8 bytes from `position` are the immediate of a 64-bit move in x86-64 code, where
  // compilers put the first bytes of a short string they copy.
  bool ImmediateAt(uint64_t position);
  // Whether the `length` stored bytes from `from` of a run repeat their values so often that a
  // running key reads its own counter in them: a table of small numbers turns into letters that
  // drift by one or two (";99;75573311//-/++)+'%%%#!!!"), not text hidden there.
  bool KeyStream(const Span& span, uint64_t from, uint64_t length);

  const ScanInput& input_;
  const KeyView& key_;
  JobOutput& out_;
  KeySummary* summary_;
  TextScorer scorer_;
  std::string scratch_;           // a text decoded again for the summary
  std::optional<KeyView> plain_;  // the row's decoding under no key, made on first use
  std::string plain_text_;        // a stretch's text under both, for PlainTextShowsThrough
  std::string joined_text_;       // a stretch's text under two maps, for JoinedReading
  std::vector<uint8_t> values_;   // the byte values of a stretch, most frequent first
  std::unique_ptr<char[]> text_buffer_;
  uint64_t text_capacity_ = 0;
  SpilledText spilled_;
  std::string_view text_;
  Span decoded_{0, 0};  // the span whose text text_ holds
  std::vector<Span> queued_;
  uint64_t queued_bytes_ = 0;
  // The key's lines written in place, looked for at the first batch.
  std::unique_ptr<const KeyLineWriter> in_place_;
  bool in_place_known_ = false;
  std::vector<InPlaceLine> batch_;  // the queued runs' lines for in_place_
  std::vector<StoredText> stored_;  // the queued runs' stored bytes
  std::vector<uint8_t> may_score_;  // of each queued run, whether its text may pass the entry
  // Runs whose pair bound passed the floor, waiting for their model bounds to be read together.
  std::vector<Span> pending_;
  std::vector<float> pending_bounds_;
  std::vector<char> batch_text_;              // the texts of those that pass, decoded
  std::vector<std::string_view> text_views_;  // each of them
  std::vector<float> text_scores_;            // and their scores
  float floor_ = 0;
  bool lossy_ = false;
  bool passed_ = false;      // a string scored above the floor went into the summary
  std::vector<float> lost_;  // the highest bounds of the strings the floor left unscored
};

}  // namespace veskor
