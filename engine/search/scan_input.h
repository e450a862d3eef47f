// What every search of one row reads: the mapped file, the alphabet and the row's fields, each
// key's decoding of it, and the error raised when the file can no longer be read.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/decoding/xor_key_stream.h"
#include "engine/search/scan_context.h"
#include "engine/search/span_finder.h"
#include "text/error.h"

namespace veskor {

class LineMaker;
class StringFilter;

// Raised when the input's bytes can no longer be read (the file shrank under the mapping). The
// run turns it into its "cannot read" message and goes on with the next row.
class InputReadError : public Error {
 public:
  InputReadError() : Error("The input file could not be read") {}
};

// The byte values of an alphabet text (order and repetition do not matter).
std::array<bool, 256> AlphabetSet(std::string_view alphabet);

// What every search of one row shares; nothing in it changes while the search runs, so the
// workers read it freely.
struct ScanInput {
  const uint8_t* data = nullptr;
  uint64_t size = 0;
  int32_t width = 0;
  const TAlgorithm* algorithm = nullptr;
  const SearchFields* fields = nullptr;
  const LineMaker* lines = nullptr;
  const StringFilter* filter = nullptr;  // null only when the row has no expression
  uint64_t min_span = 1;                 // MinLength, at least 1
  std::array<bool, 256> in_alphabet{};
  uint64_t batch_bytes = uint64_t{1} << 20;  // bytes scanned between two checkpoints

  ScanInput(const uint8_t* input_data, uint64_t input_size, int32_t position_width,
            const TAlgorithm& input_algorithm, const SearchFields& search_fields,
            const LineMaker& line_maker, const StringFilter* string_filter, uint64_t batch);

  // A span's length in characters.
  uint64_t Characters(const Span& span) const {
    return wide ? (span.end - span.start) / 2 : span.end - span.start;
  }

  // Wide algorithms read the decoded bytes as UTF-16LE code units at every byte offset; a unit
  // is a character when its Windows-1251 form is in the alphabet (1 in unit_char).
  bool wide = false;
  std::vector<uint8_t> unit_char;

  // Of a repeating key's row, the block decoder of each place (key p at xor_streams[p - 1]).
  std::vector<XorKeyStream> xor_streams;
};

// One key: its decode table and the stored bytes that decode into the alphabet under it. Of a
// running key, the table and the members are those of offset 0; the byte at offset i decodes
// under the key + step * i, and only DecodeText, Member and SpanEnd know it. A repeating key of
// many bytes is a running key too: the byte at offset i decodes under K[i mod n] (its table is
// the identity, and its key the row's place of K).
class KeyView {
 public:
  KeyView(const ScanInput& input, int key);
  // The file's own bytes read with no cipher at all, whatever the row's algorithm.
  struct NoKey {};
  KeyView(const ScanInput& input, NoKey);
  int key() const { return key_; }
  const DecodeTable& decode() const { return decode_; }
  bool identity() const { return identity_; }  // NONE, or key 0: the text is the stored bytes
  bool wide() const { return wide_; }
  bool running() const { return step_ != 0 || stream_ != nullptr; }
  // The repeating key's block decoder; null for any other key.
  const XorKeyStream* repeating() const { return stream_; }
  const ByteClass& members() const { return members_; }
  // The text of `length` characters stored from `in`, which points into the input's bytes: the
  // decoded bytes, or of a wide algorithm the Windows-1251 forms of the decoded code units.
  // Touches nothing but PODs.
  void DecodeText(const uint8_t* in, char* out, uint64_t length) const;
  // Whether the stored byte at `position` decodes into the alphabet.
  bool Member(uint64_t position) const {
    return running() ? in_alphabet_[RunningByte(position)] : members_.Has(data_[position]);
  }
  // The first position from `pos` on that is no member, or `limit`. Touches nothing but PODs.
  uint64_t SpanEnd(uint64_t pos, uint64_t limit) const;

 private:
  uint8_t RunningByte(uint64_t position) const {
    if (stream_ != nullptr) return data_[position] ^ stream_->key().At(position);
    return data_[position] ^ static_cast<uint8_t>(key_ + step_ * static_cast<int64_t>(position));
  }

  const uint8_t* data_;
  const std::array<bool, 256>& in_alphabet_;
  int key_;
  int step_;
  const XorKeyStream* stream_ = nullptr;
  DecodeTable decode_;
  bool identity_;
  bool wide_;
  CipherFamily family_;
  ByteClass members_;
};

}  // namespace veskor
