// The input of a row's search and each key's decoding of it.
#include "engine/search/scan_input.h"

#include <algorithm>
#include <cstring>

#include "text/cp1251.h"

namespace veskor {
namespace {

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
                 CipherFamily family, uint8_t key, const DecodeTable& decode) {
  if (family == CipherFamily::kMap) {
    for (uint64_t i = 0; i < length; ++i) out[i] = static_cast<char>(decode[in[i]]);
    return;
  }
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
    case CipherFamily::kMap:
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

uint8_t DecodeNone(uint8_t b, int) { return b; }

std::array<bool, 256> MembersUnder(const ScanInput& input, const DecodeTable& decode) {
  std::array<bool, 256> member{};
  for (int b = 0; b < 256; ++b) member[b] = input.in_alphabet[decode[b]];
  return member;
}

}  // namespace

void KeyView::DecodeText(const uint8_t* in, char* out, uint64_t length) const {
  if (stream_ != nullptr) {
    return stream_->Decode(in, static_cast<uint64_t>(in - data_), reinterpret_cast<uint8_t*>(out),
                           length);
  }
  if (running()) {
    const auto at = static_cast<uint64_t>(in - data_);
    for (uint64_t i = 0; i < length; ++i) out[i] = static_cast<char>(RunningByte(at + i));
    return;
  }
  if (!wide_) return DecodeBytes(in, out, length, family_, static_cast<uint8_t>(key_), decode_);
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
                     const TAlgorithm& input_algorithm, const SearchFields& search_fields,
                     const LineMaker& line_maker, const StringFilter* string_filter, uint64_t batch)
    : data(input_data),
      size(input_size),
      width(position_width),
      algorithm(&input_algorithm),
      fields(&search_fields),
      lines(&line_maker),
      filter(string_filter),
      min_span(std::max<uint64_t>(1, search_fields.MinLength)),
      in_alphabet(AlphabetSet(search_fields.Alphabet)),
      batch_bytes(std::max<uint64_t>(1, batch)),
      wide(input_algorithm.Width == 2) {
  if (input_algorithm.XorKeys) {
    for (const XorKey& key : *input_algorithm.XorKeys) xor_streams.emplace_back(key);
  }
  if (!wide) return;
  // A code unit is a character when its Windows-1251 form is in the alphabet.
  unit_char.assign(65536, 0);
  for (int b = 0; b < 256; ++b) {
    if (in_alphabet[b]) unit_char[Cp1251ToChar16(static_cast<uint8_t>(b))] = 1;
  }
}

KeyView::KeyView(const ScanInput& input, int key)
    : data_(input.data),
      in_alphabet_(input.in_alphabet),
      key_(key),
      step_(input.algorithm->Step),
      stream_(input.algorithm->Repeating ? &input.xor_streams.at(static_cast<size_t>(key - 1))
                                         : nullptr),
      decode_(stream_ != nullptr ? MakeDecodeTable(DecodeNone, 0)
                                 : MakeDecodeTable(input.algorithm->Decode, key)),
      identity_(step_ == 0 && stream_ == nullptr),
      wide_(input.wide),
      members_(MembersUnder(input, decode_)) {
  for (int b = 0; b < 256; ++b) identity_ = identity_ && decode_[b] == b;
  family_ = identity_ ? CipherFamily::kNone : input.algorithm->Family;
}

KeyView::KeyView(const ScanInput& input, NoKey)
    : data_(input.data),
      in_alphabet_(input.in_alphabet),
      key_(0),
      step_(0),
      decode_(MakeDecodeTable(DecodeNone, 0)),
      identity_(true),
      wide_(input.wide),
      family_(CipherFamily::kNone),
      members_(MembersUnder(input, decode_)) {}

uint64_t KeyView::SpanEnd(uint64_t pos, uint64_t limit) const {
  if (!running()) return veskor::SpanEnd(data_, members_, pos, limit);
  while (pos < limit && Member(pos)) ++pos;
  return pos;
}

}  // namespace veskor
