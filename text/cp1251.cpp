// Windows-1251 tables and the UTF-8 / UTF-16 codecs around them.
#include "text/cp1251.h"

#include <array>

namespace veskor {
namespace {

// UTF-16 of the bytes 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F.
constexpr char16_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

constexpr char16_t ToChar16(uint8_t b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return static_cast<char16_t>(0x0410 + (b - 0xC0));
  return kHigh[b - 0x80];
}

// Returns -1 for a character without an 8-bit form.
constexpr int FromChar32(char32_t c) {
  if (c < 0x80) return static_cast<int>(c);
  if (c >= 0x0410 && c <= 0x044F) return static_cast<int>(c - 0x0410 + 0xC0);
  for (int i = 0; i < 64; ++i) {
    if (kHigh[i] == c) return 0x80 + i;
  }
  return -1;
}

// Simple case mapping of the Unicode letters that Windows-1251 can hold.
constexpr char16_t UpperOf(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 32;
  if (c >= 0x0430 && c <= 0x044F) return c - 32;
  if (c >= 0x0450 && c <= 0x045F) return c - 80;
  if (c == 0x0491) return 0x0490;
  return c;
}
constexpr char16_t LowerOf(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if (c >= 0x0410 && c <= 0x042F) return c + 32;
  if (c >= 0x0400 && c <= 0x040F) return c + 80;
  if (c == 0x0490) return 0x0491;
  return c;
}

struct CaseTables {
  std::array<uint8_t, 256> upper{};
  std::array<uint8_t, 256> lower{};
  constexpr CaseTables() {
    for (int b = 0; b < 256; ++b) {
      const char16_t c = ToChar16(static_cast<uint8_t>(b));
      const int u = FromChar32(UpperOf(c));
      const int l = FromChar32(LowerOf(c));
      upper[b] = static_cast<uint8_t>(u < 0 ? b : u);
      lower[b] = static_cast<uint8_t>(l < 0 ? b : l);
    }
  }
};

// Made by the compiler: the tables are whole before any code runs.
constexpr CaseTables kCases;

struct Reverse {
  std::array<int16_t, 0x2200> map{};  // every Windows-1251 character lies below U+2200
  Reverse() {
    map.fill(-1);
    for (int b = 0; b < 256; ++b) map[ToChar16(static_cast<uint8_t>(b))] = static_cast<int16_t>(b);
  }
};

char Encode(char32_t c) {
  static const Reverse reverse;
  if (c < reverse.map.size() && reverse.map[c] >= 0) return static_cast<char>(reverse.map[c]);
  return '?';
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at text[i], advancing i; kInvalid for a malformed one.
char32_t NextUtf8(std::string_view text, size_t& i) {
  const auto b0 = static_cast<uint8_t>(text[i++]);
  if (b0 < 0x80) return b0;
  int extra;
  char32_t c;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1, c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2, c = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3, c = b0 & 0x07;
  } else {
    return kInvalid;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size() || (static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) return kInvalid;
    c = (c << 6) | (static_cast<uint8_t>(text[i++]) & 0x3F);
  }
  const char32_t min_for_length[] = {0, 0x80, 0x800, 0x10000};
  if (c < min_for_length[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kInvalid;
  return c;
}

// Decodes one UTF-16 character at text[i], advancing i; a lone surrogate is kInvalid.
char32_t NextUtf16(std::u16string_view text, size_t& i) {
  const char16_t u = text[i++];
  if (u >= 0xD800 && u <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
    return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i++] - 0xDC00);
  }
  if (u >= 0xD800 && u <= 0xDFFF) return kInvalid;
  return u;
}

}  // namespace

char16_t Cp1251ToChar16(uint8_t byte) { return ToChar16(byte); }

std::u16string Cp1251ToUtf16(std::string_view text) {
  std::u16string out(text.size(), u'\0');
  for (size_t i = 0; i < text.size(); ++i) out[i] = ToChar16(static_cast<uint8_t>(text[i]));
  return out;
}

std::string Cp1251ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) AppendUtf8(out, ToChar16(static_cast<uint8_t>(ch)));
  return out;
}

std::string Utf16ToCp1251(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) out.push_back(Encode(NextUtf16(text, i)));
  return out;
}

std::string Utf8ToCp1251(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) out.push_back(Encode(NextUtf8(text, i)));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t c = NextUtf16(text, i);
    AppendUtf8(out, c == kInvalid ? 0xFFFD : c);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t c = NextUtf8(text, i);
    if (c == kInvalid) c = 0xFFFD;
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

namespace cp1251_tables {
constinit const std::array<uint8_t, 256> kUpper = kCases.upper;
constinit const std::array<uint8_t, 256> kLower = kCases.lower;
}  // namespace cp1251_tables

uint8_t OtherCase1251(uint8_t byte) {
  const uint8_t upper = ToUpper1251(byte);
  return upper != byte ? upper : ToLower1251(byte);
}

}  // namespace veskor
