// The judging of one key's spans into their lines: one by one, or in batches whose texts are read
// out of the file together and written in place.
#include "engine/search/span_judge.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/input/fault_guard.h"
#include "engine/score/rank_floor.h"
#include "engine/search/dense_search.h"
#include "engine/search/job_runner.h"
#include "engine/search/string_filter.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

// The text of a long string, decoded from the mapping piece by piece as its line is written.
class MappedText : public LongText {
 public:
  // `length` characters from `in`.
  MappedText(const KeyView& key, const uint8_t* in, uint64_t length)
      : key_(key), in_(in), length_(length) {}
  uint64_t size() const override { return length_; }
  void WriteTo(uint64_t count, ByteSink& sink) const override {
    std::string piece(static_cast<size_t>(std::min(count, kHeldTextBytes)), '\0');
    const uint64_t width = key_.wide() ? 2 : 1;
    for (uint64_t at = 0; at < count; at += piece.size()) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(piece.size(), count - at));
      char* out = piece.data();
      const uint8_t* in = in_ + at * width;
      const KeyView& key = key_;
      if (!ReadMapped([&] { key.DecodeText(in, out, n); })) throw InputReadError();
      sink.Write(std::string_view(out, n));
    }
  }

 private:
  const KeyView& key_;
  const uint8_t* in_;
  uint64_t length_;
};

// Where the text shown for a best string starts: at its best stretch when that lies deep inside
// (a secret in padding), else at the string's start (its first letters may score less).
uint64_t ShownFrom(uint64_t best_start) { return best_start > 32 ? best_start : 0; }

// Lowers the letters of every word written in capitals alone (two letters or more), leaving
// words of mixed case as they are.
void LowerCapitalWords(char* text, uint64_t length) {
  auto letter = [](char c) {
    const auto byte = static_cast<uint8_t>(c);
    return ToLower1251(byte) != ToUpper1251(byte);
  };
  for (uint64_t at = 0; at < length;) {
    if (!letter(text[at])) {
      ++at;
      continue;
    }
    uint64_t end = at;
    bool small = false;
    for (; end < length && letter(text[end]); ++end) {
      small |= static_cast<uint8_t>(text[end]) == ToLower1251(static_cast<uint8_t>(text[end]));
    }
    if (!small && end - at >= 2) {
      for (uint64_t i = at; i < end; ++i) {
        text[i] = static_cast<char>(ToLower1251(static_cast<uint8_t>(text[i])));
      }
    }
    at = end;
  }
}

// Whether the `count` bytes from `bytes` are all one byte value.
bool Uniform(const void* bytes, uint64_t count) {
  const auto* at = static_cast<const uint8_t*>(bytes);
  return count < 2 || (at[0] == at[1] && std::memcmp(at, at + 1, count - 1) == 0);
}

}  // namespace

SpanJudge::SpanJudge(const ScanInput& input, const KeyView& key, JobOutput& out,
                     KeySummary* summary)
    : input_(input), key_(key), out_(out), summary_(summary) {}

void SpanJudge::Summarize(const Span& span, std::string_view text) {
  const uint64_t characters = input_.Characters(span);
  if (text.empty()) {
    // A text not held (a long string, or one written in place) is read again: whole when
    // short, else streamed through the scorer, whose best stretch is then read for display.
    if (characters <= kHeldTextBytes) {
      scratch_.resize(characters);
      if (!DecodeSpans(&span, 1, scratch_.data())) throw InputReadError();
      text = scratch_;
    } else {
      // Padding: stored bytes all alike decode alike under every key, and such a span scores
      // without reading it through.
      const uint8_t* stored = input_.data + span.start;
      bool uniform = false;
      if (!ReadMapped([&] { uniform = Uniform(stored, span.end - span.start); })) {
        throw InputReadError();
      }
      if (uniform) return SummarizeUniform(span, characters, {});
      struct Feed : ByteSink {
        TextScorer& to;
        explicit Feed(TextScorer& scorer) : to(scorer) {}
        void Write(std::string_view piece) override { to.Feed(piece); }
      } feed(scorer_);
      const MappedText whole(key_, input_.data + span.start, characters);
      scorer_.Reset();
      whole.WriteTo(characters, feed);
      const uint64_t from = ShownFrom(scorer_.BestStart());
      const uint64_t width = input_.wide ? 2 : 1;
      const Span shown{span.start + from * width,
                       std::min(span.end, span.start + (from + KeySummary::kTextBytes) * width)};
      scratch_.resize(input_.Characters(shown));
      if (!DecodeSpans(&shown, 1, scratch_.data())) throw InputReadError();
      return AddScored(span, characters, scratch_, scorer_.Score());
    }
  }
  SummarizeText(span, text, false);
}

void SpanJudge::SummarizeText(const Span& span, std::string_view text, bool pair_bound_passed) {
  const uint64_t characters = input_.Characters(span);
  if (Uniform(text.data(), text.size())) return SummarizeUniform(span, characters, text);
  // Only a string that may pass the threshold is scored: most strings of a search are noise,
  // and the bound costs a few times less than the score.
  const float floor = Floor();
  if (floor_ > 0) {
    // Under a floor the bound's value is kept: the key's bound is made of them.
    const float bound = ModelBound(text);
    if (bound <= floor) return Skip(span, characters, text, bound);
  } else if (!(pair_bound_passed ? ModelMayExceed(text, floor) : TextScoreMayExceed(text, floor))) {
    summary_->Count(span.start, characters, text);
    return;
  }
  scorer_.Reset();
  scorer_.Feed(text);
  AddScored(span, characters, text.substr(ShownFrom(scorer_.BestStart())), scorer_.Score());
}

float SpanJudge::Floor() const { return std::max(summary_->EntryScore(), floor_); }

void SpanJudge::Skip(const Span& span, uint64_t characters, std::string_view text, float value) {
  if (value > summary_->EntryScore()) {
    lossy_ = true;
    if (value > KeySummary::kThresholdBits) Lose(value);
  }
  summary_->Count(span.start, characters, text);
}

void SpanJudge::Lose(float value) {
  // The highest kBestCount values make the bound.
  if (lost_.size() < KeySummary::kBestCount) {
    lost_.push_back(value);
  } else {
    auto lowest = std::min_element(lost_.begin(), lost_.end());
    if (value > *lowest) *lowest = value;
  }
}

void SpanJudge::AddLoss(bool lossy, std::span<const float> bounds) {
  lossy_ |= lossy;
  for (const float value : bounds) Lose(value);
}

double SpanJudge::LossBound() const { return RankFloor::BoundOf(lost_); }

bool SpanJudge::LostBelow(float value) const {
  return std::all_of(lost_.begin(), lost_.end(), [&](float lost) { return lost < value; });
}

void SpanJudge::ClearLoss() {
  lossy_ = passed_ = false;
  lost_.clear();
}

void SpanJudge::SummarizeSpan(const Span& span, uint16_t bound) {
  const uint64_t characters = input_.Characters(span);
  if (bound != DenseSpans::kUnknownBound) {
    const float value = static_cast<float>(bound) / PairGainTable::kUnitsPerBit;
    if (value <= Floor()) {
      std::string_view text;
      if (summary_->MayBecomeLongest(span.start, characters)) {
        text = Text(span, KeySummary::kTextBytes);
      }
      if (floor_ > 0) return Skip(span, characters, text, value);
      return summary_->Count(span.start, characters, text);
    }
  }
  if (characters > kHeldTextBytes) return Summarize(span, {});
  // A fixed map's runs wait, so that their model bounds are read from the stored bytes a few at
  // a time; a running key's are decoded and bounded one by one.
  if (!key_.running() && !input_.wide && bound != DenseSpans::kUnknownBound) {
    pending_.push_back(span);
    if (pending_.size() == kQueuedSpans) FinishSpans();
    return;
  }
  scratch_.resize(characters);
  if (!DecodeSpans(&span, 1, scratch_.data())) throw InputReadError();
  SummarizeText(span, scratch_, bound != DenseSpans::kUnknownBound);
}

void SpanJudge::FinishSpans() {
  if (pending_.empty()) return;
  stored_.clear();
  for (const Span& span : pending_) {
    stored_.push_back({input_.data + span.start, span.end - span.start});
  }
  pending_bounds_.resize(pending_.size());
  const DecodeTable& decode = key_.decode();
  float* bounds = pending_bounds_.data();
  const std::vector<StoredText>& stored = stored_;
  if (!ReadMapped([&] { StoredModelBounds(stored, decode, bounds); })) {
    pending_.clear();
    throw InputReadError();
  }
  // The runs whose model bound passes the floor as it stands are decoded back to back and
  // scored together (TextScores, a few times faster than one by one). The floor only rises on
  // the way, so every run that needs a score has one.
  const float floor = Floor();
  size_t passing_bytes = 0;
  for (size_t i = 0; i < pending_.size(); ++i) {
    if (pending_bounds_[i] > floor) passing_bytes += pending_[i].end - pending_[i].start;
  }
  // Their own buffer: Text() below may grow the other.
  batch_text_.resize(passing_bytes);
  text_views_.clear();
  {
    char* at = batch_text_.data();
    for (size_t i = 0; i < pending_.size(); ++i) {
      if (pending_bounds_[i] <= floor) continue;
      const uint64_t length = pending_[i].end - pending_[i].start;
      if (!DecodeSpans(&pending_[i], 1, at)) {
        pending_.clear();
        throw InputReadError();
      }
      text_views_.emplace_back(at, length);
      at += length;
    }
  }
  text_scores_.resize(text_views_.size());
  TextScores(text_views_, text_scores_.data());
  // Waiting runs are summarized in file order, each against the floor of its own turn.
  std::vector<Span> runs;
  runs.swap(pending_);
  size_t scored = 0;  // of text_views_
  for (size_t i = 0; i < runs.size(); ++i) {
    const Span& span = runs[i];
    const uint64_t characters = span.end - span.start;
    const bool decoded = pending_bounds_[i] > floor;
    const size_t at = decoded ? scored++ : 0;
    if (pending_bounds_[i] <= Floor()) {
      const std::string_view text = summary_->MayBecomeLongest(span.start, characters)
                                        ? Text(span, KeySummary::kTextBytes)
                                        : std::string_view();
      if (floor_ > 0) {
        Skip(span, characters, text, pending_bounds_[i]);
      } else {
        summary_->Count(span.start, characters, text);
      }
      continue;
    }
    const std::string_view text = text_views_[at];
    if (Uniform(text.data(), text.size())) {
      SummarizeUniform(span, characters, text);
      continue;
    }
    // A string that cannot pass the floor is only counted, its text not shown unless it becomes
    // the longest: its best stretch is not needed.
    const float score = text_scores_[at];
    if (score <= Floor() && !summary_->MayBecomeLongest(span.start, characters)) {
      AddScored(span, characters, {}, score);
      continue;
    }
    scorer_.Reset();
    scorer_.Feed(text);
    AddScored(span, characters, text.substr(ShownFrom(scorer_.BestStart())), scorer_.Score());
  }
  runs.clear();
  pending_.swap(runs);  // keeps the memory
}

void SpanJudge::AddScored(const Span& span, uint64_t characters, std::string_view shown,
                          float score) {
  if (floor_ > 0 && score <= floor_) return Skip(span, characters, shown, score);
  // Asked only of a string that would lift its key, which few strings do. A string that passed
  // the floor but only counts (the host's own text, a running key's counter) adds nothing to
  // the key's score: what the floor left out still bounds it.
  if (score > summary_->EntryScore() && !key_.identity() &&
      ((key_.running() && KeyStream(span, scorer_.BestStart(), scorer_.BestLength())) ||
       PlainTextShowsThrough(span, scorer_.BestStart(), scorer_.BestLength()) ||
       JoinedReading(span, scorer_.BestStart(), scorer_.BestLength()))) {
    return summary_->Count(span.start, characters, shown);
  }
  passed_ |= floor_ > 0;
  summary_->Add(span.start, characters, shown, score);
}

bool SpanJudge::PlainTextShowsThrough(const Span& span, uint64_t from, uint64_t length) {
  // A key that swaps case or shifts by 32 turns the file's plain names and prose into text of
  // the other case. Such text is there to read with no key, in the file's own strings: runs of
  // the row's alphabet that a zero byte or a line break ends (after any byte, when they are not
  // short), that the byte before them gives the length of, that compiled code moves as a
  // number, or that are long enough to be strings by themselves (a text hidden under the key
  // ends its plain runs anywhere, at what its digits and signs are stored as). The strings
  // are found with the plain bytes around the stretch, and each is read for the part of it
  // that lies in the stretch. Only a reading under the key that explains the stretch far
  // better than those strings shows text hidden there.
  constexpr uint64_t kJudgedCharacters = 4096;
  constexpr uint64_t kAround = 256;         // plain characters looked at on each side
  constexpr uint64_t kLongString = 16;      // a plain run this long is a string of the file
  constexpr uint64_t kShortestCounted = 3;  // the shortest string a length byte gives
  constexpr uint64_t kImmediate = 8;        // the bytes of a 64-bit immediate
  constexpr uint64_t kEnded = 4;            // a plain run this long that a zero byte ends
  constexpr float kHiddenFactor = 2.0f;
  length = std::min(length, kJudgedCharacters);
  if (length == 0) return false;
  if (!plain_) plain_.emplace(input_, KeyView::NoKey{});
  const uint64_t width = input_.wide ? 2 : 1;
  const uint64_t first = span.start + from * width;  // the stretch's first stored byte
  const uint64_t last = first + length * width;      // just past its last
  const DecodeTable& none_decode = plain_->decode();
  const ScanInput& input = input_;
  // A narrow stretch may start or end inside a plain string whose letters the key turned into
  // signs at either side (a name after its length byte, which the key makes printable): the
  // judged plain text goes on to where that string does, with the byte on either side.
  uint64_t back = 0, ahead = 0;
  bool open_before = true, open_after = true;  // a plain run at the region's edge goes on
  if (width == 1) {
    if (!ReadMapped([&] {
          if (input.in_alphabet[none_decode[input.data[first]]]) {
            while (back < std::min(first, kAround) &&
                   input.in_alphabet[none_decode[input.data[first - back - 1]]]) {
              ++back;
            }
          }
          if (input.in_alphabet[none_decode[input.data[last - 1]]]) {
            while (ahead < std::min(input.size - last, kAround) &&
                   input.in_alphabet[none_decode[input.data[last + ahead]]]) {
              ++ahead;
            }
          }
        })) {
      throw InputReadError();
    }
    // Past the characters looked at, or at the file's ends, a run goes on; else the byte on
    // either side (a length, a zero byte, or any other) is part of the judged text.
    open_before = back == kAround || back == first;
    open_after = ahead == kAround || ahead == input.size - last;
    back += !open_before;
    ahead += !open_after;
  }
  const uint64_t region = back + length + ahead;
  plain_text_.resize(static_cast<size_t>(3 * region));
  char* plain = plain_text_.data();
  char* kinds = plain + region;  // of each plain character: kMember, kEnd or 0
  char* keyed = kinds + region;  // the stretch under the key
  constexpr char kMember = 1, kEnd = 2;
  const uint8_t* stored = input_.data + first - back * width;
  const KeyView& key = key_;
  const KeyView& none = *plain_;
  if (!ReadMapped([&] {
        key.DecodeText(input.data + first, keyed, length);
        none.DecodeText(stored, plain, region);
        for (uint64_t i = 0; i < region; ++i) {
          const uint32_t unit = width == 1 ? stored[i] : stored[2 * i] | stored[2 * i + 1] << 8;
          kinds[i] = unit == 0 || unit == '\n' || unit == '\r'           ? kEnd
                     : input.in_alphabet[static_cast<uint8_t>(plain[i])] ? kMember
                                                                         : 0;
        }
      })) {
    throw InputReadError();
  }
  // A key that only changes the case of letters leaves nothing but the case to go by, and names
  // in capitals are as plain as in small letters: words in capitals are then judged in small
  // letters in both readings, while words of mixed case keep theirs ("lOCAL" is no name a file
  // stores plainly; "Local" is).
  const DecodeTable& decode = key_.decode();
  const bool case_key = !key_.running() && (decode['a'] == 'A' || decode['A'] == 'a');
  if (case_key) {
    // Such a key reads the host's signs as other signs ('|' as '\', '{' as '['): where the plain
    // bytes are signs of the alphabet too, the key's reading of them is no evidence of its own.
    for (uint64_t i = 0; i < length; ++i) {
      const auto c = static_cast<uint8_t>(keyed[i]);
      if (kinds[back + i] == kMember && ToLower1251(c) == ToUpper1251(c))
        keyed[i] = plain[back + i];
    }
    LowerCapitalWords(keyed, length);
  }
  float plain_score = 0;
  for (uint64_t at = 0; at < region;) {
    if (kinds[at] != kMember) {
      ++at;
      continue;
    }
    uint64_t end = at;
    while (end < region && kinds[end] == kMember) ++end;
    if (case_key) LowerCapitalWords(plain + at, end - at);
    const bool starts = at == 0 ? open_before : kinds[at - 1] == kEnd;
    const bool ends = end == region ? open_after : kinds[end] == kEnd;
    uint64_t string_end = 0;  // the end of a string of the file that starts here
    if ((starts && ends) || end - at >= kLongString || (ends && end - at >= kEnded)) {
      string_end = end;
    } else if (width == 1 && at > 0) {
      // A string that carries its length: the run holds at least that many characters.
      const auto counted = static_cast<uint8_t>(plain[at - 1]);
      if (counted >= kShortestCounted && counted <= end - at) string_end = at + counted;
      // Eight characters of a string that compiled code moves into place as one number (a
      // 64-bit move of an immediate: a REX.W prefix, then B8 to BF).
      if (end - at >= kImmediate && ImmediateAt(first - back + at)) {
        string_end = std::max(string_end, at + kImmediate);
      }
    }
    if (string_end > at) {
      const uint64_t cover_from = std::max(at, back);
      const uint64_t cover_to = std::min(string_end, back + length);
      const uint64_t covered = cover_to > cover_from ? cover_to - cover_from : 0;
      if (covered > 0) {
        plain_score += std::max(0.0f, TextScore(std::string_view(plain + cover_from, covered)));
      }
    }
    at = end;
  }
  return kHiddenFactor * plain_score >= TextScore(std::string_view(keyed, length));
}

bool SpanJudge::JoinedReading(const Span& span, uint64_t from, uint64_t length) {
  // Only long stretches join strings: a table's names or a text's lines, read as one.
  constexpr uint64_t kShortest = 64;
  constexpr uint64_t kJudgedCharacters = 4096;
  constexpr uint64_t kListWords = 16;
  constexpr uint64_t kNameLetters = 4;
  if (input_.wide || key_.running() || length < kListWords * (kNameLetters + 1)) return false;
  length = std::min(length, kJudgedCharacters);
  const uint8_t* stored = input_.data + span.start + from;
  joined_text_.resize(static_cast<size_t>(2 * length));
  char* keyed = joined_text_.data();
  char* other = keyed + length;
  std::array<uint64_t, 256> counts{};
  const KeyView& key = key_;
  if (!ReadMapped([&] {
        key.DecodeText(stored, keyed, length);
        for (uint64_t i = 0; i < length; ++i) ++counts[stored[i]];
      })) {
    throw InputReadError();
  }
  // Words of four letters or more in one case and single spaces alone: a table of names whose
  // zero bytes the key reads as spaces (a key 32 from the table's own reads it so, in the
  // other case). Sentences have short words, signs, digits or capitals somewhere. The words at
  // either end may be cut by the stretch.
  {
    uint64_t words = 0, word = 0;
    bool small = false, capital = false, list = true;
    for (uint64_t i = 0; i <= length && list; ++i) {
      const auto c = i < length ? static_cast<uint8_t>(keyed[i]) : uint8_t{' '};
      if (c == ' ') {
        list = word >= kNameLetters || words == 0 || i == length;
        words += word != 0;
        word = 0;
      } else if (ToLower1251(c) == ToUpper1251(c)) {
        list = false;
      } else {
        ++word;
        small |= c == ToLower1251(c);
        capital |= c != ToLower1251(c);
      }
    }
    if (list && words >= kListWords && !(small && capital)) return true;
  }
  if (length < kShortest) return false;
  // Lines or strings read as one: another map reads the stretch byte for byte as this key does,
  // but for line ends or zero bytes where this key reads letters or signs. Only a reading whose
  // lines together read no worse than the joined text is kept apart.
  const DecodeTable& decode = key_.decode();
  std::vector<uint8_t>& values = values_;
  values.clear();
  for (int v = 0; v < 256; ++v) {
    if (counts[v] != 0) values.push_back(static_cast<uint8_t>(v));
  }
  std::sort(values.begin(), values.end(),
            [&](uint8_t a, uint8_t b) { return counts[a] > counts[b]; });
  const float joined = TextScore(std::string_view(keyed, length));
  for (const DecodeTable& map : EveryByteMap()) {
    if (map[values[0]] != decode[values[0]] ||
        (values.size() > 1 && map[values[1]] != decode[values[1]])) {
      continue;
    }
    uint64_t same = 0, line_ends = 0;
    for (const uint8_t v : values) {
      if (map[v] == decode[v]) {
        same += counts[v];
      } else if ((map[v] == '\n' || map[v] == '\r' || map[v] == 0) &&
                 input_.in_alphabet[decode[v]]) {
        line_ends += counts[v];
      }
    }
    if (line_ends == 0 || 10 * (same + line_ends) < 9 * length) continue;
    for (uint64_t i = 0; i < length; ++i) other[i] = static_cast<char>(map[stored[i]]);
    float lines = 0;
    for (uint64_t at = 0; at < length;) {
      if (!input_.in_alphabet[static_cast<uint8_t>(other[at])]) {
        ++at;
        continue;
      }
      uint64_t end = at;
      while (end < length && input_.in_alphabet[static_cast<uint8_t>(other[end])]) ++end;
      lines += std::max(0.0f, TextScore(std::string_view(other + at, end - at)));
      at = end;
    }
    if (lines >= joined) return true;
  }
  return false;
}

bool SpanJudge::ImmediateAt(uint64_t position) {
  if (position < 2 || position + 8 > input_.size) return false;
  bool immediate = false;
  const uint8_t* at = input_.data + position;
  if (!ReadMapped([&] {
        immediate = (at[-2] == 0x48 || at[-2] == 0x49) && at[-1] >= 0xB8 && at[-1] <= 0xBF;
      })) {
    throw InputReadError();
  }
  return immediate;
}

bool SpanJudge::KeyStream(const Span& span, uint64_t from, uint64_t length) {
  // Text hidden under a running key is stored as ever new values: the key moves on at every
  // character, so even a repeated letter is stored anew (one byte in thirty repeats one of the
  // eight before it by chance). A table of small numbers repeats its few values at every turn:
  // a third of its bytes or more. The bytes before the stretch count among the eight: a stretch
  // may start inside such a table.
  constexpr uint64_t kNear = 8;
  const uint64_t first = span.start + from;
  const uint8_t* stored = input_.data + first;
  uint64_t repeats = 0;
  if (!ReadMapped([&] {
        for (uint64_t i = 0; i < length; ++i) {
          for (uint64_t back = 1; back <= std::min(first + i, kNear); ++back) {
            if (stored[i] == *(stored + i - back)) {
              ++repeats;
              break;
            }
          }
        }
      })) {
    throw InputReadError();
  }
  return 3 * repeats >= length;
}

void SpanJudge::SummarizeQueued() {
  // The entry only rises as strings are added, so a span turned down at the batch's entry would
  // be turned down at its own turn too.
  const float entry = summary_->EntryScore();
  const uint8_t* data = input_.data;
  const DecodeTable& decode = key_.decode();
  may_score_.resize(queued_.size());
  stored_.clear();
  for (const Span& span : queued_) stored_.push_back({data + span.start, span.end - span.start});
  // A running key has no one decode table: its texts are decoded and bounded as texts.
  if (key_.running()) {
    std::fill(may_score_.begin(), may_score_.end(), 1);
  } else if (!ReadMapped(
                 [&] { StoredTextsMayExceed(stored_, decode, entry, may_score_.data()); })) {
    throw InputReadError();
  }
  for (size_t i = 0; i < queued_.size(); ++i) {
    const Span& span = queued_[i];
    const uint64_t characters = span.end - span.start;
    if (may_score_[i] == 0 && !summary_->MayBecomeLongest(span.start, characters)) {
      summary_->Count(span.start, characters, {});
      continue;
    }
    const Span text{span.start,
                    may_score_[i] != 0
                        ? span.end
                        : std::min<uint64_t>(span.end, span.start + KeySummary::kTextBytes)};
    scratch_.resize(text.end - text.start);
    if (!DecodeSpans(&text, 1, scratch_.data())) throw InputReadError();
    if (may_score_[i] != 0) {
      Summarize(span, scratch_);
    } else {
      summary_->Count(span.start, characters, scratch_);
    }
  }
}

void SpanJudge::SummarizeUniform(const Span& span, uint64_t characters, std::string_view text) {
  char byte = 0;
  if (text.empty()) {
    const Span first{span.start, span.start + (input_.wide ? 2 : 1)};
    if (!DecodeSpans(&first, 1, &byte)) throw InputReadError();
  } else {
    byte = text[0];
  }
  ScoreUniformSpan(scorer_, byte, characters);
  const uint64_t from = ShownFrom(scorer_.BestStart());
  if (text.empty()) {
    scratch_.assign(static_cast<size_t>(std::min(characters, from + KeySummary::kTextBytes)), byte);
    text = scratch_;
  }
  // Counted when its score cannot pass the entry, as after the bound: the same summary.
  const float score = scorer_.Score();
  if (floor_ > 0 && score <= Floor()) return Skip(span, characters, text, score);
  if (score <= summary_->EntryScore()) return summary_->Count(span.start, characters, text);
  passed_ |= floor_ > 0;
  summary_->Add(span.start, characters, text.substr(static_cast<size_t>(from)), score);
}

char* SpanJudge::TextBuffer(uint64_t length) {
  if (text_capacity_ < length) {
    text_capacity_ = std::max<uint64_t>(length, 2 * text_capacity_);
    text_buffer_.reset(new char[text_capacity_]);
  }
  return text_buffer_.get();
}

bool SpanJudge::DecodeSpans(const Span* spans, size_t count, char* out) const {
  const uint8_t* data = input_.data;
  const KeyView& key = key_;
  const ScanInput& input = input_;
  return ReadMapped([&] {
    char* at = out;
    for (size_t i = 0; i < count; ++i) {
      const uint64_t length = input.Characters(spans[i]);
      key.DecodeText(data + spans[i].start, at, length);
      at += length;
    }
  });
}

void SpanJudge::Decode(const Span& span) {
  const uint64_t length = input_.Characters(span);
  // A text longer than memory should hold (an expression asked about a span of a gigabyte) is
  // decoded into a temporary file and read through its mapping, which the kernel pages out.
  char* out = length > kHeldInMemoryBytes ? spilled_.Map(length) : TextBuffer(length);
  if (!DecodeSpans(&span, 1, out)) throw InputReadError();
  text_ = std::string_view(out, length);
  decoded_ = span;
}

std::string_view SpanJudge::Text(const Span& span, uint64_t max_bytes) {
  const uint64_t width = input_.wide ? 2 : 1;
  const Span shown{span.start, std::min(span.end, span.start + max_bytes * width)};
  Decode(shown);
  decoded_ = {0, 0};  // a cut text is no span's whole text
  return text_;
}

bool SpanJudge::Accepts(const Span& span) {
  const uint64_t length = input_.Characters(span);
  const SearchFields& fields = *input_.fields;
  if (fields.MaxLength != 0 && length > fields.MaxLength) return false;
  if (fields.RegExp.empty()) return true;
  Decode(span);
  return input_.filter->Matches(text_, out_.StopFlag(), [this] { out_.Pace(); });
}

void SpanJudge::Write(const Span& span) {
  const uint64_t length = input_.Characters(span);
  if (length > kHeldTextBytes || (decoded_.start == span.start && decoded_.end == span.end)) {
    Flush();
    return WriteNow(span);
  }
  // Short lines wait in a batch, whose texts are read out of the file under one guard.
  queued_.push_back(span);
  queued_bytes_ += length;
  if (queued_.size() >= kQueuedSpans || queued_bytes_ >= kHeldTextBytes) Flush();
}

void SpanJudge::WriteNow(const Span& span) {
  const uint64_t length = input_.Characters(span);
  const auto position = static_cast<int64_t>(span.start);
  if (length > kHeldTextBytes) {
    const MappedText text(key_, input_.data + span.start, length);
    input_.lines->WriteLine(out_, key_.key(), input_.width, position, text);
    out_.EndLine();
    if (summary_ != nullptr) Summarize(span, {});
    return;
  }
  // The text may already be decoded by the expression's test.
  if (decoded_.start != span.start || decoded_.end != span.end) Decode(span);
  input_.lines->AppendLine(out_.Buffer(), key_.key(), input_.width, position, text_);
  out_.EndLine();
  if (summary_ != nullptr) Summarize(span, text_);
}
namespace {

// The texts of a batch's lines: decoded straight from the file under the key, or, without a key,
// copied from the batch's texts decoded before.
class RunTexts : public TextSource {
 public:
  explicit RunTexts(const KeyView* key) : key_(key) {}
  void Copy(const void* text, char* to, uint64_t count) const override {
    if (key_ != nullptr) {
      key_->DecodeText(static_cast<const uint8_t*>(text), to, count);
    } else {
      std::memcpy(to, text, count);
    }
  }

 private:
  const KeyView* key_;
};

}  // namespace

bool SpanJudge::FlushInPlace(const char* texts) {
  if (!in_place_known_) {
    in_place_known_ = true;
    in_place_ = input_.lines->InPlace(key_.key(), input_.width);
  }
  const KeyLineWriter* lines = in_place_.get();
  if (lines == nullptr) return false;
  // Each line's position and where its text is read from. The texts lie all over the file: ask
  // for them all before the first is read, so that their cache misses overlap (a prefetch never
  // faults, even past a file that shrank).
  batch_.clear();
  const char* held = texts;
  for (const Span& span : queued_) {
    const uint64_t length = input_.Characters(span);
    const void* text = held;
    if (held != nullptr) {
      held += length;
    } else {
      text = input_.data + span.start;
      __builtin_prefetch(text);
    }
    batch_.push_back({static_cast<int64_t>(span.start), length, text});
  }
  // Room for every line first: inside the fault guard nothing is allocated.
  LineBuffer& buffer = out_.Buffer();
  char* const start =
      buffer.Extend(static_cast<size_t>(lines->Bound(batch_.size(), queued_bytes_)));
  char* end = start;
  const RunTexts source(texts == nullptr ? &key_ : nullptr);
  const std::span<const InPlaceLine> batch(batch_);
  // One call writes the whole batch.
  const bool read = ReadMapped([&] { end = lines->Write(start, batch, source); });
  if (!read) return false;  // the lines are made one by one, up to the span that faults
  buffer.Commit(static_cast<size_t>(end - start));
  out_.EndLines(static_cast<int64_t>(batch_.size()));
  return true;
}

void SpanJudge::Flush() {
  if (queued_.empty()) return;
  // The texts go straight from the file into their lines. The summary of a narrow algorithm
  // reads the stored bytes again and decodes only the few texts it needs; a wide one's texts
  // are decoded once for both.
  if ((summary_ == nullptr || !input_.wide) && FlushInPlace(nullptr)) {
    try {
      if (summary_ != nullptr) SummarizeQueued();
    } catch (...) {
      queued_.clear();  // their lines are written
      queued_bytes_ = 0;
      throw;
    }
    queued_.clear();
    queued_bytes_ = 0;
    return;
  }
  char* texts = TextBuffer(queued_bytes_);
  if (!DecodeSpans(queued_.data(), queued_.size(), texts)) {
    // The file can no longer be read: the lines before the span that faults are still written.
    std::vector<Span> spans;
    spans.swap(queued_);
    queued_bytes_ = 0;
    for (const Span& span : spans) WriteNow(span);
    return;
  }
  decoded_ = {0, 0};
  if (!FlushInPlace(texts)) {
    const char* at = texts;
    for (const Span& span : queued_) {
      const uint64_t length = input_.Characters(span);
      input_.lines->AppendLine(out_.Buffer(), key_.key(), input_.width,
                               static_cast<int64_t>(span.start), std::string_view(at, length));
      out_.EndLine();
      at += length;
    }
  }
  if (summary_ != nullptr) {
    const char* at = texts;
    for (const Span& span : queued_) {
      const uint64_t length = input_.Characters(span);
      Summarize(span, std::string_view(at, length));
      at += length;
    }
  }
  queued_.clear();
  queued_bytes_ = 0;
}

void SpanJudge::Judge(const Span& span) {
  if (Accepts(span)) Write(span);
}

}  // namespace veskor
