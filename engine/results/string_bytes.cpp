// A string read again from the input: its whole text, and the lines of stored bytes around it.
#include "engine/results/string_bytes.h"

#include <algorithm>

#include "engine/input/fault_guard.h"
#include "engine/search/line_maker.h"
#include "engine/search/scan_input.h"

namespace veskor {
namespace {

// The views decode and never make a line.
class NoLines : public LineMaker {
 public:
  void AppendLine(LineBuffer&, int32_t, int32_t, int64_t, std::string_view) const override {}
  void WriteLine(ByteSink&, int32_t, int32_t, int64_t, const LongText&) const override {}
};

// The same cipher read byte by byte: a wide algorithm's code units decoded one byte at a time.
TAlgorithm ByteByByte(TAlgorithm algorithm) {
  algorithm.Width = 1;
  return algorithm;
}

int HexDigits(uint64_t value) {
  int digits = 1;
  while (value >>= 4) ++digits;
  return digits;
}

// A byte that a fixed-pitch line can show as one character of its own: neither a control
// character, nor DEL, nor Windows-1251's unassigned 0x98, no-break space or soft hyphen.
bool Shown(uint8_t byte) {
  return byte >= 0x20 && byte != 0x7F && byte != 0x98 && byte != 0xA0 && byte != 0xAD;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Columns of a line after its offset of `digits` digits: two spaces, 16 bytes in hex with one
// more space after the eighth, two spaces, the decoded text.
int HexColumn(int digits, int i) { return digits + 2 + 3 * i + (i >= 8 ? 1 : 0); }
int TextColumn(int digits, int i) {
  return HexColumn(digits, StringBytes::kLineBytes - 1) + 2 + 2 + i;
}

}  // namespace

struct StringBytes::Views {
  Views(const MappedInput& mapped, const RunSearch& search, int key)
      : byte_algorithm(ByteByByte(search.algorithm)),
        text_input(mapped.data(), mapped.size(), search.width, search.algorithm, search.fields,
                   no_lines, nullptr, uint64_t{1} << 20),
        byte_input(mapped.data(), mapped.size(), search.width, byte_algorithm, search.fields,
                   no_lines, nullptr, uint64_t{1} << 20),
        text(text_input, key),
        bytes(byte_input, key) {}

  NoLines no_lines;
  TAlgorithm byte_algorithm;
  ScanInput text_input;
  ScanInput byte_input;
  KeyView text;
  KeyView bytes;
};

StringBytes::StringBytes(const RunSearch& search, int key) : search_(search), key_(key) {}

StringBytes::~StringBytes() = default;

StringBytes::Status StringBytes::Open() {
  views_.reset();
  if (mapped_.Open(search_.input) != MappedInput::Result::kOk) return Status::kCannotRead;
  change_ = CompareStamps(search_.stamp, mapped_.stamp());
  if (change_.any()) return Status::kChanged;
  views_ = std::make_unique<Views>(mapped_, search_, key_);
  return Status::kReady;
}

std::string StringBytes::Text(uint64_t position, uint64_t length, uint64_t max_characters) const {
  if (!views_ || position >= mapped_.size()) return {};
  const uint64_t width = search_.algorithm.Width == 2 ? 2 : 1;
  const uint64_t characters =
      std::min({length, max_characters, (mapped_.size() - position) / width});
  std::string text(characters, '\0');
  const uint8_t* at = mapped_.data() + position;
  const KeyView& view = views_->text;
  char* out = text.data();
  CheckInput(search_.input, search_.stamp);
  if (!ReadMapped([&] { view.DecodeText(at, out, characters); })) throw InputReadError();
  CheckInput(search_.input, search_.stamp);
  return text;
}

std::vector<ByteLine> StringBytes::Lines(uint64_t position, uint64_t length,
                                         uint64_t context) const {
  const uint64_t size = mapped_.size();
  if (!views_ || position >= size) return {};
  const uint64_t width = search_.algorithm.Width == 2 ? 2 : 1;
  const uint64_t string_end = position + std::min(length, (size - position) / width) * width;
  const uint64_t line = kLineBytes;
  const uint64_t from = (position > context ? position - context : 0) / line * line;
  const uint64_t to = std::min(size, (string_end + context + line - 1) / line * line);

  std::string stored(to - from, '\0');
  std::string decoded(to - from, '\0');
  const uint8_t* at = mapped_.data() + from;
  const KeyView& view = views_->bytes;
  char* stored_out = stored.data();
  char* decoded_out = decoded.data();
  const uint64_t count = to - from;
  CheckInput(search_.input, search_.stamp);
  if (!ReadMapped([&] {
        std::copy(at, at + count, stored_out);
        view.DecodeText(at, decoded_out, count);
      })) {
    throw InputReadError();
  }
  CheckInput(search_.input, search_.stamp);

  // Only a byte that the row's strings may hold reads as text: noise decoded to letters of
  // another script would read as words.
  const std::array<bool, 256>& alphabet = views_->byte_input.in_alphabet;
  const int digits = std::max(8, HexDigits(size - 1));
  const int text_column = TextColumn(digits, 0);
  std::vector<ByteLine> lines;
  for (uint64_t offset = from; offset < to; offset += line) {
    ByteLine out;
    out.offset = offset;
    out.bytes = static_cast<int>(std::min<uint64_t>(line, to - offset));
    out.text.assign(static_cast<size_t>(text_column + out.bytes), ' ');
    for (int d = 0; d < digits; ++d) {
      out.text[static_cast<size_t>(d)] = kHexDigits[(offset >> (4 * (digits - 1 - d))) & 0xF];
    }
    for (int i = 0; i < out.bytes; ++i) {
      const auto byte = static_cast<uint8_t>(stored[offset - from + static_cast<uint64_t>(i)]);
      const auto plain = static_cast<uint8_t>(decoded[offset - from + static_cast<uint64_t>(i)]);
      const auto hex = static_cast<size_t>(HexColumn(digits, i));
      out.text[hex] = kHexDigits[byte >> 4];
      out.text[hex + 1] = kHexDigits[byte & 0xF];
      out.text[static_cast<size_t>(TextColumn(digits, i))] =
          Shown(plain) && alphabet[plain] ? static_cast<char>(plain) : '.';
    }
    const uint64_t marked_from = std::max(position, offset);
    const uint64_t marked_to = std::min(string_end, offset + static_cast<uint64_t>(out.bytes));
    if (marked_from < marked_to) {
      const int first = static_cast<int>(marked_from - offset);
      const int last = static_cast<int>(marked_to - offset) - 1;
      out.marks.emplace_back(HexColumn(digits, first),
                             HexColumn(digits, last) + 2 - HexColumn(digits, first));
      out.marks.emplace_back(TextColumn(digits, first), last - first + 1);
    }
    lines.push_back(std::move(out));
  }
  return lines;
}

}  // namespace veskor
