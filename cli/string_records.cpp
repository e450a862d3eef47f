// String records written field by field into the line buffer, with the escapes and the number
// forms of the JSON library that writes the batch's other records, so that a record's bytes do
// not depend on which of the two wrote it.
#include "cli/string_records.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli/terminal_text.h"
#include "engine/score/text_score.h"
#include "text/cp1251.h"
#include "text/integer_syntax.h"

namespace veskor {
namespace {

// Appends one byte of UTF-8 text as a JSON string holds it: the quote, the backslash and the
// control bytes escaped (the short escapes where JSON has them), every other byte as it is.
void AppendEscaped(std::string& out, char c) {
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  if (static_cast<uint8_t>(c) < 0x20) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
    out += escape;
    return;
  }
  out += c;
}

// UTF-8 text as a quoted JSON string.
std::string Quoted(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) AppendEscaped(out, c);
  return out + "\"";
}

// Every Windows-1251 byte as a JSON string holds it: its UTF-8 form (at most three bytes),
// escaped (at most six: \u001f).
class ByteTexts {
 public:
  // The room one byte's text may need: each is copied as a block of this size.
  static constexpr size_t kRoom = 8;

  ByteTexts() {
    for (int byte = 0; byte < 256; ++byte) {
      std::string text;
      for (char c : Cp1251ToUtf8(std::string(1, static_cast<char>(byte)))) AppendEscaped(text, c);
      std::memcpy(text_[byte].data(), text.data(), text.size());
      size_[byte] = static_cast<uint8_t>(text.size());
    }
  }

  // Writes the texts of `bytes` at `at`, which has room for kRoom bytes per byte; returns the end.
  // Eight bytes that are all their own text (ASCII, no control byte, quote nor backslash, as
  // most strings of a search are) are copied at once.
  char* Write(char* at, std::string_view bytes) const {
    const char* from = bytes.data();
    const char* const end = from + bytes.size();
    while (end - from >= 8) {
      uint64_t eight;
      std::memcpy(&eight, from, 8);
      if (!AllPlain(eight)) break;
      std::memcpy(at, from, 8);
      at += 8;
      from += 8;
    }
    for (; from != end; ++from) {
      const uint8_t byte = static_cast<uint8_t>(*from);
      std::memcpy(at, text_[byte].data(), kRoom);
      at += size_[byte];
    }
    return at;
  }

  // Write for a text followed by kSlack readable bytes, into an `at` with kSlack bytes of room
  // beyond the text's own: sixteen bytes are tested and copied at once, up to the first that is
  // not its own text (a byte to escape, or one from 0x80 on); the bytes copied beyond it are
  // written over after.
  static constexpr size_t kSlack = 16;
  char* WriteWithSlack(char* at, std::string_view bytes) const {
    const char* from = bytes.data();
    const char* const end = from + bytes.size();
    const __m128i kBelowSpace = _mm_set1_epi8(0x1F);
    const __m128i kQuote = _mm_set1_epi8('"');
    const __m128i kBackslash = _mm_set1_epi8('\\');
    while (from < end) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
      // Signed, the bytes from 0x80 on are below zero: only 0x20 to 0x7F pass.
      const __m128i special =
          _mm_or_si128(_mm_cmpeq_epi8(block, kQuote), _mm_cmpeq_epi8(block, kBackslash));
      const auto plain = static_cast<uint32_t>(
          _mm_movemask_epi8(_mm_andnot_si128(special, _mm_cmpgt_epi8(block, kBelowSpace))));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(at), block);
      const auto run = static_cast<size_t>(std::countr_one(plain));  // 16 when all are plain
      const size_t left = static_cast<size_t>(end - from);
      if (run >= left) return at + left;
      at += run;
      from += run;
      if (run == 16) continue;
      const uint8_t byte = static_cast<uint8_t>(*from++);
      std::memcpy(at, text_[byte].data(), kRoom);
      at += size_[byte];
    }
    return at;
  }

 private:
  // Whether each of the eight bytes is in 0x20 to 0x7F and neither '"' nor '\\' (0x7F, DEL,
  // is no control byte to JSON). Each test keeps its byte's high bit for a byte that fails it;
  // none carries into the next byte, since every byte is below 0x80 when they are made.
  static bool AllPlain(uint64_t eight) {
    constexpr uint64_t kOnes = 0x0101010101010101;
    constexpr uint64_t kHigh = 0x8080808080808080;
    if ((eight & kHigh) != 0) return false;
    const uint64_t control = eight - kOnes * 0x20;  // high bit set below 0x20
    const uint64_t quote = eight ^ (kOnes * '"');
    const uint64_t backslash = eight ^ (kOnes * '\\');
    // A zero byte of x sets the high bit of (x - 1) and leaves x's clear.
    const uint64_t quotes = (quote - kOnes) & ~quote;
    const uint64_t backslashes = (backslash - kOnes) & ~backslash;
    return ((control | quotes | backslashes) & kHigh) == 0;
  }

  std::array<std::array<char, kRoom>, 256> text_{};
  std::array<uint8_t, 256> size_{};
};

const ByteTexts& JsonBytes() {
  static const ByteTexts texts;
  return texts;
}

// The most bytes a record takes beyond its head and its text: the numbers, the field names
// between them, the score and the closing bytes; a key of 32 bytes written as its text takes 68.
constexpr size_t kFieldsRoom = 224;

char* WriteText(char* at, std::string_view text) {
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
}

template <typename Integer>
char* WriteInteger(char* at, Integer value) {
  return std::to_chars(at, at + 24, value).ptr;
}

// A score as the library writes the double that it rounds to two decimals: the shortest text
// that reads back as that double, which is the rounded number without its trailing zeros, and
// ".0" after a whole number ("-0.0" for a small negative score). The rounding is "%.2f"'s, done
// on integers: a float's 24-bit significand times 100 is exact in a double.
char* WriteScore(char* at, float score) {
  // Rounded to the nearest, a half to even, as nearbyint does, without its call. A score is
  // most often a whole number of 64ths of a bit (the scorer's unit): its hundredths are then
  // sixteenths in integers; else the fraction of a double below 2^52 is exact.
  uint64_t rounded;
  const float units = std::fabs(score) * 64;
  const auto whole = static_cast<uint32_t>(std::min(0x1p24f, units));
  if (static_cast<float>(whole) == units) {
    // Plus 7, and 1 more when the result would be odd: a half goes up to the even neighbour.
    const uint64_t sixteenths = uint64_t{whole} * 25;  // 100 / 64 = 25 / 16
    rounded = (sixteenths + 7 + ((sixteenths >> 4) & 1)) >> 4;
  } else {
    const double hundredths = std::fabs(static_cast<double>(score) * 100);
    rounded = static_cast<uint64_t>(hundredths);
    const double fraction = hundredths - static_cast<double>(rounded);
    rounded += fraction > 0.5 || (fraction == 0.5 && (rounded & 1) != 0);
  }
  // The sign and the second decimal are written in any case and kept or not, without a branch
  // on the score.
  *at = '-';
  at += std::signbit(score);
  at = WriteInteger(at, rounded / 100);
  const auto decimals = static_cast<unsigned>(rounded % 100);
  at[0] = '.';
  at[1] = static_cast<char>('0' + decimals / 10);
  at[2] = static_cast<char>('0' + decimals % 10);
  at += 2 + (decimals % 10 != 0);
  return at;
}

// Each worker scores with a scorer of its own, made once: a new one clears its table of counts.
TextScorer& ThreadScorer() {
  thread_local TextScorer scorer;
  scorer.Reset();
  return scorer;
}

// A long text on its way into a record: each piece scored, and escaped in pieces of its own, so
// that a string of a gigabyte is never held whole.
class Escaping : public ByteSink {
 public:
  explicit Escaping(ByteSink& to) : to_(to), scorer_(ThreadScorer()) {}
  void Write(std::string_view bytes) override {
    scorer_.Feed(bytes);
    while (!bytes.empty()) {
      const std::string_view piece = bytes.substr(0, kPiece);
      bytes.remove_prefix(piece.size());
      char* const end = JsonBytes().Write(buffer_.data(), piece);
      to_.Write(std::string_view(buffer_.data(), static_cast<size_t>(end - buffer_.data())));
    }
  }
  float Score() const { return scorer_.Score(); }

 private:
  static constexpr size_t kPiece = 4096;
  ByteSink& to_;
  TextScorer& scorer_;
  std::array<char, kPiece * ByteTexts::kRoom> buffer_;
};

class StringLines : public LineMaker {
 public:
  StringLines(const std::string& file, const TAlgorithm& algorithm) {
    if (algorithm.XorKeys) {
      for (const XorKey& key : *algorithm.XorKeys) key_texts_.push_back('"' + key.Text() + '"');
    }
    head_ = R"({"type":"string","file":)";
    if (IsValidUtf8(file)) {
      head_ += Quoted(file);
    } else {
      // A name that is not UTF-8 is read as Windows-1251, and its bytes kept in hex to recover it.
      head_ += Quoted(Cp1251ToUtf8(file)) + R"(,"file_hex":")" + LowerHex(file) + '"';
    }
    head_ += R"(,"algo":)" + Quoted(Cp1251ToUtf8(algorithm.Name)) + R"(,"key":)";
  }

  void AppendLine(LineBuffer& out, int32_t key, int32_t width, int64_t position,
                  std::string_view text) const override {
    TextScorer& scorer = ThreadScorer();
    scorer.Feed(text);
    char* const start = out.Extend(head_.size() + kFieldsRoom + ByteTexts::kRoom * text.size());
    char* at = Fields(start, key, position, text.size());
    at = JsonBytes().Write(at, text);
    at = Tail(at, scorer.Score());
    out.Commit(static_cast<size_t>(at - start));
  }

  void WriteLine(ByteSink& out, int32_t key, int32_t width, int64_t position,
                 const LongText& text) const override {
    std::string fields(head_.size() + kFieldsRoom, '\0');
    fields.resize(
        static_cast<size_t>(Fields(fields.data(), key, position, text.size()) - fields.data()));
    out.Write(fields);
    Escaping escaping(out);
    text.WriteTo(text.size(), escaping);
    std::array<char, kFieldsRoom> tail;
    out.Write(std::string_view(
        tail.data(), static_cast<size_t>(Tail(tail.data(), escaping.Score()) - tail.data())));
  }

  std::unique_ptr<const KeyLineWriter> InPlace(int32_t key, int32_t width) const override {
    return std::make_unique<KeyRecords>(*this, key);
  }

 private:
  // A key's records written in place, their texts read straight from the file: the search asks
  // for a batch's texts before it reads the first, so that their cache misses overlap.
  class KeyRecords : public KeyLineWriter {
   public:
    // The record up to its offset is the same for every string of the key: it is made once, and
    // copied in blocks of a fixed size (the bytes beyond it are written over by the fields after).
    KeyRecords(const StringLines& lines, int32_t key) : lines_(lines) {
      std::string prefix = lines.head_ + std::to_string(key) + R"(,"offset":)";
      prefix_size_ = prefix.size();
      prefix.resize((prefix.size() + kBlock - 1) / kBlock * kBlock, ' ');
      prefix_ = std::move(prefix);
    }
    // The room of every record as written, then of every text as read: each text is read there,
    // then scored and written out ahead of itself, never over a byte not yet read (a byte's
    // text takes at most ByteTexts::kRoom bytes); and the slack that the last text is read with.
    uint64_t Bound(uint64_t lines, uint64_t text_bytes) const override {
      return lines * RecordRoom() + text_bytes * (ByteTexts::kRoom + 1) + ByteTexts::kSlack;
    }
    char* Write(char* at, std::span<const InPlaceLine> lines,
                const TextSource& texts) const override {
      uint64_t text_bytes = 0;
      for (const InPlaceLine& line : lines) text_bytes += line.text_size;
      char* read = at + lines.size() * RecordRoom() + text_bytes * ByteTexts::kRoom;
      // The texts read, then scored together, then written, a search's batch at a time.
      constexpr size_t kTogether = 512;
      std::array<std::string_view, kTogether> batch;
      std::array<float, kTogether> scores;
      for (size_t first = 0; first < lines.size(); first += kTogether) {
        const size_t count = std::min(kTogether, lines.size() - first);
        for (size_t i = 0; i < count; ++i) {
          const auto length = static_cast<size_t>(lines[first + i].text_size);
          texts.Copy(lines[first + i].text, read, length);
          batch[i] = std::string_view(read, length);
          read += length;
        }
        TextScores(std::span(batch.data(), count), scores.data());
        for (size_t i = 0; i < count; ++i) {
          for (size_t block = 0; block < prefix_.size(); block += kBlock) {
            std::memcpy(at + block, prefix_.data() + block, kBlock);
          }
          at += prefix_size_;
          at = lines_.Numbers(at, lines[first + i].position, batch[i].size());
          at = JsonBytes().WriteWithSlack(at, batch[i]);
          at = Tail(at, scores[i]);
        }
      }
      return at;
    }

   private:
    static constexpr size_t kBlock = 16;
    uint64_t RecordRoom() const { return lines_.head_.size() + kFieldsRoom; }

    const StringLines& lines_;
    std::string prefix_;  // padded to whole blocks
    size_t prefix_size_ = 0;
  };

  // The record up to the opening quote of its text.
  char* Fields(char* at, int32_t key, int64_t position, uint64_t length) const {
    at = WriteText(at, head_);
    if (key >= 1 && static_cast<size_t>(key) <= key_texts_.size()) {
      at = WriteText(at, key_texts_[static_cast<size_t>(key - 1)]);
    } else {
      at = WriteInteger(at, key);
    }
    at = WriteText(at, R"(,"offset":)");
    return Numbers(at, position, length);
  }

  // The record from its offset to the opening quote of its text.
  static char* Numbers(char* at, int64_t position, uint64_t length) {
    at = WriteInteger(at, position);
    at = WriteText(at, R"(,"length":)");
    at = WriteInteger(at, length);
    return WriteText(at, R"(,"text":")");
  }

  // The record from the closing quote of its text to its LF.
  static char* Tail(char* at, float score) {
    at = WriteText(at, R"(","score":)");
    at = WriteScore(at, score);
    return WriteText(at, "}\n");
  }

  std::string head_;  // the record up to its key: the same for every string of the row
  std::vector<std::string> key_texts_;  // of XORK: each place's key, quoted
};

}  // namespace

std::unique_ptr<LineMaker> StringRecords(std::string file, const TAlgorithm& algorithm) {
  return std::make_unique<StringLines>(file, algorithm);
}

}  // namespace veskor
