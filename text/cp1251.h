// 8-bit text: Windows-1251 to and from UTF-16 and UTF-8, and its single-byte case mapping.
// Everything the system stores, formats or matches is Windows-1251; controls hold UTF-16.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace veskor {

// Every byte has a UTF-16 form (0x98, unassigned, maps to U+0098 so that it survives a round trip).
char16_t Cp1251ToChar16(uint8_t byte);
std::u16string Cp1251ToUtf16(std::string_view text);
std::string Cp1251ToUtf8(std::string_view text);

// A character without an 8-bit form becomes '?'; a surrogate pair is one character.
std::string Utf16ToCp1251(std::u16string_view text);
// Invalid UTF-8 sequences become '?' as well.
std::string Utf8ToCp1251(std::string_view text);

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// The case tables behind ToUpper1251 and ToLower1251, constant from the start of the program.
namespace cp1251_tables {
extern const std::array<uint8_t, 256> kUpper;
extern const std::array<uint8_t, 256> kLower;
}  // namespace cp1251_tables

// Windows-1251 case mapping of Latin and Cyrillic letters; other bytes map to themselves. Inline:
// a filter asks it of every byte of millions of strings.
inline uint8_t ToUpper1251(uint8_t byte) { return cp1251_tables::kUpper[byte]; }
inline uint8_t ToLower1251(uint8_t byte) { return cp1251_tables::kLower[byte]; }
// The upper-case form when it differs from the byte, else the lower-case form.
uint8_t OtherCase1251(uint8_t byte);

}  // namespace veskor
