// The preset record: a named search profile of alphabet, length bounds and regular expression,
// kept as the 770-byte record that presets.dat stores byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace veskor {

// String fields are length-prefixed Windows-1251 text: byte 0 holds the length L, bytes 1..L the
// characters; the bytes after them carry no meaning and are kept as they are.
struct TPreset {
  uint8_t Name[256];
  uint8_t Alphabet[256];
  uint8_t RegExp[256];  // empty: found strings are not filtered
  uint8_t MinLength;    // shortest string reported
  uint8_t MaxLength;    // longest string reported; 0: no upper limit
};
static_assert(sizeof(TPreset) == 770, "the record is stored byte for byte");
static_assert(std::is_standard_layout_v<TPreset> && std::is_trivially_copyable_v<TPreset>);

inline constexpr std::string_view kNewPresetName = "Noname";
inline constexpr std::string_view kNewPresetAlphabet = "1234567890";
inline constexpr uint8_t kNewPresetMinLength = 7;
inline constexpr uint8_t kNewPresetMaxLength = 0;

// The ranges the editor's length fields allow (a maximal length of 0: no upper limit), and the
// most bytes a text field holds.
inline constexpr int kMinLengthLow = 5;
inline constexpr int kMinLengthHigh = 255;
inline constexpr int kMaxLengthLow = 0;
inline constexpr int kMaxLengthHigh = 100;
inline constexpr size_t kMaxFieldBytes = 255;

// The L characters of a string field. The view points into `field`.
std::string_view ShortString(const uint8_t (&field)[256]);

// Stores the first 255 bytes of `text`: only the length byte and the characters are written, so
// the bytes after them keep whatever an earlier, longer text left there.
void SetShortString(uint8_t (&field)[256], std::string_view text);

// The record that "Add preset" appends: zero bytes everywhere, then the new-preset defaults.
TPreset NewPreset();

// The name as the editor shows it (UTF-16).
std::u16string PresetNameToEditor(const TPreset& preset);

// The name the editor's text stores: its first 255 code units, converted to Windows-1251
// (characters without an 8-bit form become '?'), cut to 255 bytes.
std::string PresetNameFromEditor(std::u16string_view text);

// The editor's length values are stored as their low 8 bits.
inline uint8_t LengthFromEditor(int32_t value) { return static_cast<uint8_t>(value); }

}  // namespace veskor
