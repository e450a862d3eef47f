// The repeating key of XORK: its shortest period, its turns and its two texts.
#include "engine/decoding/xor_key.h"

#include <vector>

#include "text/error.h"

namespace veskor {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// The bytes of "0x" and hex digits, or of two-digit bytes joined by colons; nothing when the
// text is neither (or holds more bytes than any key).
std::optional<std::vector<uint8_t>> KeyBytes(std::string_view text) {
  std::vector<uint8_t> bytes;
  auto pair = [](char high, char low) -> int {
    const int h = HexDigit(high), l = HexDigit(low);
    return h < 0 || l < 0 ? -1 : h * 16 + l;
  };
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    if (text.empty() || text.size() % 2 != 0 || text.size() / 2 > XorKey::kMaxSize) {
      return std::nullopt;
    }
    for (size_t i = 0; i < text.size(); i += 2) {
      const int value = pair(text[i], text[i + 1]);
      if (value < 0) return std::nullopt;
      bytes.push_back(static_cast<uint8_t>(value));
    }
  } else {
    // "hh" then ":hh" for every further byte: 3 characters a byte, less the first colon.
    if (text.size() % 3 != 2 || text.size() / 3 >= XorKey::kMaxSize) return std::nullopt;
    for (size_t i = 0; i < text.size(); i += 3) {
      if (i > 0 && text[i - 1] != ':') return std::nullopt;
      const int value = pair(text[i], text[i + 1]);
      if (value < 0) return std::nullopt;
      bytes.push_back(static_cast<uint8_t>(value));
    }
  }
  return bytes;
}

}  // namespace

std::optional<XorKey> XorKey::Of(std::span<const uint8_t> bytes) {
  const size_t n = bytes.size();
  if (n == 0 || n > kMaxSize) return std::nullopt;
  // The shortest period divides n: K read round and round repeats every d bytes only when
  // d divides n and K[i] == K[i - d] throughout.
  size_t period = n;
  for (size_t d = 1; d < n; ++d) {
    if (n % d != 0) continue;
    size_t i = d;
    while (i < n && bytes[i] == bytes[i - d]) ++i;
    if (i == n) {
      period = d;
      break;
    }
  }
  if (period == 1) return std::nullopt;
  XorKey key;
  key.size_ = static_cast<uint8_t>(period);
  for (size_t i = 0; i < period; ++i) key.bytes_[i] = bytes[i];
  return key;
}

XorKey XorKey::TurnedTo(uint64_t offset) const {
  XorKey turned = *this;
  const size_t shift = offset % size_;
  for (size_t j = 0; j < size_; ++j) turned.bytes_[j] = bytes_[(j + size_ - shift) % size_];
  return turned;
}

std::string XorKey::Text() const {
  std::string text = "0x";
  for (size_t i = 0; i < size_; ++i) {
    text += "0123456789abcdef"[bytes_[i] >> 4];
    text += "0123456789abcdef"[bytes_[i] & 15];
  }
  return text;
}

XorKey XorKeyOfText(std::string_view text, std::string_view shown, std::string_view algorithm) {
  const std::optional<std::vector<uint8_t>> bytes = KeyBytes(Trimmed(text));
  if (!bytes) throw ConversionError(Substitute(kXorKeyMessage, {shown, algorithm}));
  const std::optional<XorKey> key = XorKey::Of(*bytes);
  if (!key) throw ConversionError(Substitute(kXorKeyOneByteMessage, shown));
  return *key;
}

}  // namespace veskor
