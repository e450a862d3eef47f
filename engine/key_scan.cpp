// Runs of one key in a stretch of the file, and their judging.
#include "engine/key_scan.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/fault_guard.h"
#include "engine/line_maker.h"
#include "engine/worker_pool.h"
#include "files/io_error.h"
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

// The Windows-1251 form of every UTF-16 code unit that has one (the others map to 0), built on
// first use.
const std::array<uint8_t, 65536>& UnitForms() {
  static const std::array<uint8_t, 65536> forms = [] {
    std::array<uint8_t, 65536> table{};
    for (int b = 1; b < 256; ++b)
      table[Cp1251ToChar16(static_cast<uint8_t>(b))] = static_cast<uint8_t>(b);
    return table;
  }();
  return forms;
}

// Eight bytes at once: XOR with the key in every byte, or the key added to every byte without a
// carry from one byte into the next.
inline uint64_t DecodeWord(uint64_t word, CipherFamily family, uint64_t keys) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  if (family == CipherFamily::kXor) return word ^ keys;
  return ((word & kLow7) + (keys & kLow7)) ^ ((word ^ keys) & ~kLow7);
}

// The keyed ciphers decode by arithmetic: eight bytes at a time for the short texts of most
// strings, which the compiler's vector loop would spend its set-up on.
void DecodeBytes(const uint8_t* __restrict in, char* __restrict out, uint64_t length,
                 CipherFamily family, uint8_t key) {
  if (length >= 8 && length <= 64 && family != CipherFamily::kNone) {
    // SUB8 adds the key's negation.
    const uint8_t added = family == CipherFamily::kSub ? static_cast<uint8_t>(-key) : key;
    const uint64_t keys = added * 0x0101010101010101ULL;
    uint64_t word;
    for (uint64_t i = 0; i + 8 <= length; i += 8) {
      std::memcpy(&word, in + i, 8);
      word = DecodeWord(word, family, keys);
      std::memcpy(out + i, &word, 8);
    }
    // The last eight bytes again, from the source, cover a tail shorter than eight.
    std::memcpy(&word, in + length - 8, 8);
    word = DecodeWord(word, family, keys);
    std::memcpy(out + length - 8, &word, 8);
    return;
  }
  switch (family) {
    case CipherFamily::kNone:
      std::memcpy(out, in, length);
      break;
    case CipherFamily::kXor:
      for (uint64_t i = 0; i < length; ++i) out[i] = static_cast<char>(in[i] ^ key);
      break;
    case CipherFamily::kAdd:
      for (uint64_t i = 0; i < length; ++i) out[i] = static_cast<char>(in[i] + key);
      break;
    case CipherFamily::kSub:
      for (uint64_t i = 0; i < length; ++i) out[i] = static_cast<char>(in[i] - key);
      break;
  }
}

std::array<bool, 256> MembersUnder(const ScanInput& input, const DecodeTable& decode) {
  std::array<bool, 256> member{};
  for (int b = 0; b < 256; ++b) member[b] = input.in_alphabet[decode[b]];
  return member;
}

}  // namespace

void KeyView::DecodeText(const uint8_t* in, char* out, uint64_t length) const {
  if (!wide_) return DecodeBytes(in, out, length, family_, key_);
  const std::array<uint8_t, 65536>& forms = UnitForms();
  for (uint64_t t = 0; t < length; ++t) {
    out[t] = static_cast<char>(forms[decode_[in[2 * t]] | decode_[in[2 * t + 1]] << 8]);
  }
}

std::array<bool, 256> AlphabetSet(std::string_view alphabet) {
  std::array<bool, 256> set{};
  for (char c : alphabet) set[static_cast<uint8_t>(c)] = true;
  return set;
}

ScanInput::ScanInput(const uint8_t* input_data, uint64_t input_size, int32_t position_width,
                     const TAlgorithm& input_algorithm, const TSearchFields& search_fields,
                     const LineMaker& line_maker, uint64_t batch)
    : data(input_data),
      size(input_size),
      width(position_width),
      algorithm(&input_algorithm),
      fields(&search_fields),
      lines(&line_maker),
      min_run(std::max<uint64_t>(1, search_fields.MinLength)),
      in_alphabet(AlphabetSet(search_fields.Alphabet)),
      batch_bytes(std::max<uint64_t>(1, batch)),
      wide(input_algorithm.Width == 2) {
  if (!wide) return;
  // A code unit is a character when its Windows-1251 form is in the alphabet.
  unit_char.assign(65536, 0);
  for (int b = 0; b < 256; ++b) {
    if (in_alphabet[b]) unit_char[Cp1251ToChar16(static_cast<uint8_t>(b))] = 1;
  }
}

KeyView::KeyView(const ScanInput& input, uint8_t key)
    : key_(key),
      decode_(MakeDecodeTable(input.algorithm->Decode, key)),
      identity_(true),
      wide_(input.wide),
      members_(MembersUnder(input, decode_)) {
  for (int b = 0; b < 256; ++b) identity_ = identity_ && decode_[b] == b;
  family_ = identity_ ? CipherFamily::kNone : input.algorithm->Family;
}

RunJudge::RunJudge(const ScanInput& input, const KeyView& key, JobOutput& out, KeySummary* summary)
    : input_(input), key_(key), out_(out), summary_(summary) {}

SpilledText::~SpilledText() { Release(); }

void SpilledText::Release() {
  if (data_ != nullptr) ::munmap(data_, static_cast<size_t>(length_));
  if (fd_ >= 0) ::close(fd_);
  data_ = nullptr;
  fd_ = -1;
  length_ = 0;
}

char* SpilledText::Map(uint64_t length) {
  Release();
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string dir = tmpdir != nullptr && *tmpdir == '/' ? tmpdir : "/tmp";
  fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    std::string name = dir + "/.veskor-text-XXXXXX";
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ >= 0) ::unlink(name.c_str());
  }
  // The space is taken first: a full disk then fails here with its message, not later as a
  // fault while the text is written through the mapping.
  int error = fd_ < 0 ? errno : ::posix_fallocate(fd_, 0, static_cast<off_t>(length));
  void* data = MAP_FAILED;
  if (error == 0) {
    data = ::mmap(nullptr, static_cast<size_t>(length), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (data == MAP_FAILED) error = errno;
  }
  if (error != 0) {
    Release();
    IoError failure = IoErrorFromErrno(error);
    failure.set_file(dir);
    throw failure;
  }
  data_ = data;
  length_ = length;
  return static_cast<char*>(data_);
}

// Where the text shown for a best string starts: at its best stretch when that lies deep inside
// (a secret in padding), else at the string's start (its first letters may score less).
uint64_t ShownFrom(uint64_t best_start) { return best_start > 32 ? best_start : 0; }

void RunJudge::Summarize(const Span& span, std::string_view text) {
  const uint64_t characters = input_.Characters(span);
  if (text.empty()) {
    // A text not held (a long string, or one written in place) is read again: whole when
    // short, else streamed through the scorer, whose best stretch is then read for display.
    if (characters <= kHeldTextBytes) {
      scratch_.resize(characters);
      if (!DecodeRuns(&span, 1, scratch_.data())) throw InputReadError();
      text = scratch_;
    } else {
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
      if (!DecodeRuns(&shown, 1, scratch_.data())) throw InputReadError();
      summary_->Add(span.start, characters, scratch_, scorer_.Score());
      return;
    }
  }
  // Only a string that may pass the threshold is scored: most strings of a search are noise,
  // and the bound costs a few times less than the score.
  if (!TextScoreMayExceed(text, summary_->EntryScore())) {
    summary_->Count(span.start, characters, text);
    return;
  }
  scorer_.Reset();
  scorer_.Feed(text);
  summary_->Add(span.start, characters, text.substr(ShownFrom(scorer_.BestStart())),
                scorer_.Score());
}

char* RunJudge::TextBuffer(uint64_t length) {
  if (text_capacity_ < length) {
    text_capacity_ = std::max<uint64_t>(length, 2 * text_capacity_);
    text_buffer_.reset(new char[text_capacity_]);
  }
  return text_buffer_.get();
}

bool RunJudge::DecodeRuns(const Span* runs, size_t count, char* out) const {
  const uint8_t* data = input_.data;
  const KeyView& key = key_;
  const ScanInput& input = input_;
  return ReadMapped([&] {
    char* at = out;
    for (size_t i = 0; i < count; ++i) {
      const uint64_t length = input.Characters(runs[i]);
      key.DecodeText(data + runs[i].start, at, length);
      at += length;
    }
  });
}

void RunJudge::Decode(const Span& span) {
  const uint64_t length = input_.Characters(span);
  // A text longer than memory should hold (an expression asked about a run of a gigabyte) is
  // decoded into a temporary file and read through its mapping, which the kernel pages out.
  char* out = length > kHeldInMemoryBytes ? spilled_.Map(length) : TextBuffer(length);
  if (!DecodeRuns(&span, 1, out)) throw InputReadError();
  text_ = std::string_view(out, length);
  decoded_ = span;
}

std::string_view RunJudge::Text(const Span& span, uint64_t max_bytes) {
  const uint64_t width = input_.wide ? 2 : 1;
  const Span shown{span.start, std::min(span.end, span.start + max_bytes * width)};
  Decode(shown);
  decoded_ = {0, 0};  // a cut text is no run's whole text
  return text_;
}

bool RunJudge::Accepts(const Span& span) {
  const uint64_t length = input_.Characters(span);
  const TSearchFields& fields = *input_.fields;
  if (fields.MaxLength != 0 && length > fields.MaxLength) return false;
  if (fields.RegExp.empty()) return true;
  Decode(span);
  return input_.lines->Matches(text_, out_.StopFlag(), [this] { out_.Pace(); });
}

void RunJudge::Write(const Span& span) {
  const uint64_t length = input_.Characters(span);
  if (length > kHeldTextBytes || (decoded_.start == span.start && decoded_.end == span.end)) {
    Flush();
    return WriteNow(span);
  }
  // Short lines wait in a batch, whose texts are read out of the file under one guard.
  queued_.push_back(span);
  queued_bytes_ += length;
  if (queued_.size() >= kQueuedRuns || queued_bytes_ >= kHeldTextBytes) Flush();
}

void RunJudge::WriteNow(const Span& span) {
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

bool RunJudge::FlushInPlace(const char* texts) {
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
  if (!read) return false;  // the lines are made one by one, up to the run that faults
  buffer.Commit(static_cast<size_t>(end - start));
  out_.EndLines(static_cast<int64_t>(batch_.size()));
  return true;
}

void RunJudge::Flush() {
  if (queued_.empty()) return;
  // Without a summary the texts go straight from the file into their lines; the summary reads
  // them too, so with one they are decoded once for both.
  if (summary_ == nullptr && FlushInPlace(nullptr)) {
    queued_.clear();
    queued_bytes_ = 0;
    return;
  }
  char* texts = TextBuffer(queued_bytes_);
  if (!DecodeRuns(queued_.data(), queued_.size(), texts)) {
    // The file can no longer be read: the lines before the run that faults are still written.
    std::vector<Span> runs;
    runs.swap(queued_);
    queued_bytes_ = 0;
    for (const Span& span : runs) WriteNow(span);
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

void RunJudge::Judge(const Span& span) {
  if (Accepts(span)) Write(span);
}

namespace {

// The key's members, one byte per position.
struct ByteRuns {
  const uint8_t* data;
  const ByteClass& members;
  uint64_t m;
  size_t Find(uint64_t limit, RunState& state, Span* out, size_t capacity) const {
    return FindByteRuns(data, members, m, limit, state, out, capacity);
  }
  bool Has(uint64_t position) const { return members.Has(data[position]); }
  uint64_t End(uint64_t position, uint64_t limit) const {
    return RunEnd(data, members, position, limit);
  }
};

}  // namespace

bool ScanKeyRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
                  bool cut_at_end, JobOutput& out, const std::function<void(const Span&)>& on_run) {
  const ByteRuns runs{input.data, key.members(), input.min_run};
  return RunsStartingIn(runs, input.min_run, begin, end, input.size, cut_at_end, input.batch_bytes,
                        out, on_run);
}

namespace {

// Merged steps of a wide scan: the runs of both parities that start in so many bytes are put in
// order of their starts.
constexpr uint64_t kWideChunkBytes = uint64_t{1} << 20;

// The code units of one parity: position j is the unit at byte offset 2j + parity.
struct UnitRuns {
  const uint8_t* data;
  const DecodeTable& decode;
  const uint8_t* unit_char;
  uint64_t parity;
  uint64_t m;
  bool operator()(uint64_t j) const { return Has(j); }
  bool Has(uint64_t j) const {
    const uint8_t* p = data + 2 * j + parity;
    return unit_char[decode[p[0]] | decode[p[1]] << 8] != 0;
  }
  size_t Find(uint64_t limit, RunState& state, Span* out, size_t capacity) const {
    return ProbeRuns(*this, m, limit, state, out, capacity, 0);
  }
  uint64_t End(uint64_t j, uint64_t limit) const {
    while (j < limit && Has(j)) ++j;
    return j;
  }
};

// The first unit of a parity at or after a byte offset.
uint64_t FirstUnit(uint64_t offset, uint64_t parity) {
  return offset <= parity ? 0 : (offset - parity + 1) / 2;
}

bool ScanWideRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
                   bool cut_at_end, JobOutput& out,
                   const std::function<void(const Span&)>& on_run) {
  // The units whose two bytes are both in the file, per parity.
  const uint64_t units[2] = {input.size / 2, (input.size - 1) / 2};
  std::vector<Span> runs[2];
  for (uint64_t from = begin; from < end;) {
    // A region is taken whole: its own ends cut its runs.
    const uint64_t to = cut_at_end ? end : std::min(end, from + kWideChunkBytes);
    for (uint64_t parity = 0; parity < 2; ++parity) {
      runs[parity].clear();
      const UnitRuns finder{input.data, key.decode(), input.unit_char.data(), parity,
                            input.min_run};
      const uint64_t first = std::min(units[parity], FirstUnit(from, parity));
      const uint64_t last = std::min(units[parity], FirstUnit(to, parity));
      const bool done = RunsStartingIn(
          finder, input.min_run, first, last, units[parity], cut_at_end,
          std::max<uint64_t>(1, input.batch_bytes / 2), out, [&](const Span& unit_run) {
            runs[parity].push_back({2 * unit_run.start + parity, 2 * unit_run.end + parity});
          });
      if (!done) return false;
    }
    // Both parities in the order of their starts.
    std::vector<Span>::const_iterator even = runs[0].begin(), odd = runs[1].begin();
    while (even != runs[0].end() || odd != runs[1].end()) {
      if (odd == runs[1].end() || (even != runs[0].end() && even->start < odd->start)) {
        on_run(*even++);
      } else {
        on_run(*odd++);
      }
    }
    from = to;
  }
  return true;
}

}  // namespace

bool ScanRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
               bool cut_at_end, JobOutput& out, const std::function<void(const Span&)>& on_run) {
  if (input.wide) return ScanWideRange(input, key, begin, end, cut_at_end, out, on_run);
  return ScanKeyRange(input, key, begin, end, cut_at_end, out, on_run);
}

}  // namespace veskor
