// The key of XOR with a repeating key (XORK): 2 to 32 bytes, K[0] first, aligned to offset 0 of
// the file, never the repetition of a shorter key; its text in hex or bytes joined by colons.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace veskor {

inline constexpr std::string_view kXorKeyMessage =
    "'%s' is not a valid %s key (2 to 32 bytes: 0x8c61d263 or 8c:61:d2:63)";
inline constexpr std::string_view kXorKeyOneByteMessage = "'%s' is a key of one byte: use XOR8";

// The stored byte at file offset i decodes as b ^ K[i mod n]. Keys are values: two keys that
// decode every offset alike are equal, since a key is always held at its shortest period.
class XorKey {
 public:
  static constexpr size_t kMinSize = 2, kMaxSize = 32;

  // The key that repeats `bytes` (1 to 32 of them), at its shortest period: 41 42 41 42 is
  // 41 42. Nothing when there are no bytes, more than 32, or the period is a single byte
  // (a one-byte key belongs to XOR8).
  static std::optional<XorKey> Of(std::span<const uint8_t> bytes);

  size_t size() const { return size_; }
  uint8_t operator[](size_t i) const { return bytes_[i]; }
  std::span<const uint8_t> bytes() const { return {bytes_.data(), size_}; }
  // The byte that the stored byte at `offset` is XORed with: K[offset mod n].
  uint8_t At(uint64_t offset) const { return bytes_[offset % size_]; }

  // A payload stored at `offset` and encoded from its own first byte with this key is decoded,
  // aligned to offset 0, by the key this returns: A[j] = K[(j - offset) mod n].
  XorKey TurnedTo(uint64_t offset) const;

  // "0x" and two lower-case hex digits per byte, K[0] first.
  std::string Text() const;

  friend bool operator==(const XorKey&, const XorKey&) = default;
  friend std::strong_ordering operator<=>(const XorKey&, const XorKey&) = default;

 private:
  XorKey() = default;

  uint8_t size_ = 0;
  std::array<uint8_t, kMaxSize> bytes_{};  // zero past size_, so that equal keys compare equal
};

// The key of a key text: leading and trailing spaces, then "0x" (or "0X") and an even number of
// hex digits, or bytes of two hex digits joined by colons ("8c:61:d2:63"), either case. A
// ConversionError quoting `shown` (the text as typed) under `algorithm`'s name when the text is
// no key, or when its key repeats a single byte (kXorKeyOneByteMessage).
XorKey XorKeyOfText(std::string_view text, std::string_view shown,
                    std::string_view algorithm = "XORK");

}  // namespace veskor
