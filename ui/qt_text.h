// Between the controls' UTF-16 text and the engine's 8-bit (Windows-1251) text.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "text/cp1251.h"

namespace veskor {

inline std::u16string ToU16(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<size_t>(text.size()));
}
inline QString FromU16(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}
// A character without an 8-bit form becomes "?".
inline std::string To1251(const QString& text) { return Utf16ToCp1251(ToU16(text)); }
inline QString From1251(std::string_view text) { return FromU16(Cp1251ToUtf16(text)); }

}  // namespace veskor
