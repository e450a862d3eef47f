// Runs of one key in a stretch of the file, and their judging.
#include "engine/key_scan.h"

#include <algorithm>
#include <cstring>

#include "engine/fault_guard.h"
#include "engine/line_maker.h"
#include "engine/worker_pool.h"

namespace veskor {
namespace {

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
      const DecodeTable* decode = decode_;
      const bool read = ReadMapped([&] {
        if (decode == nullptr) {
          std::memcpy(out, in, n);
        } else {
          for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>((*decode)[in[i]]);
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

// The keyed ciphers decode by arithmetic, which the compiler does 16 or 32 bytes at a time.
void DecodeBytes(const uint8_t* __restrict in, char* __restrict out, uint64_t length,
                 CipherFamily family, uint8_t key) {
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

std::array<bool, 256> AlphabetSet(std::string_view alphabet) {
  std::array<bool, 256> set{};
  for (char c : alphabet) set[static_cast<uint8_t>(c)] = true;
  return set;
}

ScanInput::ScanInput(const uint8_t* data, uint64_t size, int32_t width, const TAlgorithm& algorithm,
                     const TSearchFields& fields, const LineMaker& lines, uint64_t batch_bytes)
    : data(data),
      size(size),
      width(width),
      algorithm(&algorithm),
      fields(&fields),
      lines(&lines),
      min_run(std::max<uint64_t>(1, fields.MinLength)),
      in_alphabet(AlphabetSet(fields.Alphabet)),
      batch_bytes(std::max<uint64_t>(1, batch_bytes)) {}

KeyView::KeyView(const ScanInput& input, uint8_t key)
    : key_(key),
      decode_(MakeDecodeTable(input.algorithm->Decode, key)),
      identity_(true),
      members_(MembersUnder(input, decode_)) {
  for (int b = 0; b < 256; ++b) identity_ = identity_ && decode_[b] == b;
}

RunJudge::RunJudge(const ScanInput& input, const KeyView& key, JobOutput& out)
    : input_(input), key_(key), out_(out) {}

char* RunJudge::TextBuffer(uint64_t length) {
  if (text_capacity_ < length) {
    text_capacity_ = std::max<uint64_t>(length, 2 * text_capacity_);
    text_buffer_.reset(new char[text_capacity_]);
  }
  return text_buffer_.get();
}

bool RunJudge::DecodeRuns(const Span* runs, size_t count, char* out) const {
  const uint8_t* data = input_.data;
  const uint8_t key = key_.key();
  const CipherFamily family = key_.identity() ? CipherFamily::kNone : input_.algorithm->Family;
  return ReadMapped([&] {
    char* at = out;
    for (size_t i = 0; i < count; ++i) {
      const uint64_t length = runs[i].end - runs[i].start;
      DecodeBytes(data + runs[i].start, at, length, family, key);
      at += length;
    }
  });
}

void RunJudge::Decode(const Span& span) {
  char* out = TextBuffer(span.end - span.start);
  if (!DecodeRuns(&span, 1, out)) throw InputReadError();
  text_ = std::string_view(out, span.end - span.start);
  decoded_ = span;
}

bool RunJudge::Accepts(const Span& span) {
  const uint64_t length = span.end - span.start;
  const TSearchFields& fields = *input_.fields;
  if (fields.MaxLength != 0 && length > fields.MaxLength) return false;
  if (fields.RegExp.empty()) return true;
  Decode(span);
  return input_.lines->Matches(text_, out_.StopFlag(), [this] { out_.Pace(); });
}

void RunJudge::Write(const Span& span) {
  const uint64_t length = span.end - span.start;
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
  const uint64_t length = span.end - span.start;
  const auto position = static_cast<int64_t>(span.start);
  if (length > kHeldTextBytes) {
    const MappedText text(input_.data + span.start, length,
                          key_.identity() ? nullptr : &key_.decode());
    input_.lines->WriteLine(out_, key_.key(), input_.width, position, text);
    out_.EndLine();
    return;
  }
  // The text may already be decoded by the expression's test.
  if (decoded_.start != span.start || decoded_.end != span.end) Decode(span);
  input_.lines->AppendLine(out_.Buffer(), key_.key(), input_.width, position, text_);
  out_.EndLine();
}

void RunJudge::Flush() {
  if (queued_.empty()) return;
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
  for (const Span& span : queued_) {
    const uint64_t length = span.end - span.start;
    input_.lines->AppendLine(out_.Buffer(), key_.key(), input_.width,
                             static_cast<int64_t>(span.start), std::string_view(texts, length));
    out_.EndLine();
    texts += length;
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

}  // namespace veskor
