// The whole-number syntax of the key and of the task table's whole-number cells.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veskor {

inline constexpr std::string_view kInvalidIntegerMessage = "'%s' is not a valid integer value";

// Leading spaces, an optional sign, then decimal digits (a signed 32-bit value) or hexadecimal
// digits after '$', 'x', 'X', "0x" or "0X" (a 32-bit pattern); nothing may follow the digits.
std::optional<int32_t> ParseInteger(std::string_view text);

// The bytes in lower-case hexadecimal, two digits each: a hash, or a name's bytes kept to recover
// it.
std::string LowerHex(std::string_view bytes);

// ParseInteger, or a ConversionError whose message quotes `shown` (the text as the user typed
// it, UTF-8).
int32_t StrToInt(std::string_view text, std::string_view shown);

}  // namespace veskor
