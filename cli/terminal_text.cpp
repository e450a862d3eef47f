// Escaping for the terminal.
#include "cli/terminal_text.h"

#include <cstdint>

#include "text/error.h"

namespace veskor {
namespace {

void AppendHex(std::string& out, uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 15];
}

// The length of the valid UTF-8 sequence at text[i] (1 to 4), or 0.
size_t SequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i);
  size_t length = 0;
  uint32_t code = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, code = lead & 0x1F;
  if (lead >= 0xE0 && lead <= 0xEF) length = 3, code = lead & 0x0F;
  if (lead >= 0xF0 && lead <= 0xF4) length = 4, code = lead & 0x07;
  if (length == 0 || i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid.
  const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string EscapeForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    const size_t length = SequenceLength(text, i);
    if (length == 1) {
      // Tab and backslash leave a terminal as it is: a message keeps them as the window shows
      // them. CR and LF would forge a line, the other C0 bytes and DEL drive the terminal.
      if (c == '\r') {
        out += "\\r";
      } else if (c == '\n') {
        out += "\\n";
      } else if ((c < 32 && c != '\t') || c == 127) {
        AppendHex(out, c);
      } else {
        out += static_cast<char>(c);
      }
      ++i;
    } else if (length == 0 ||
               (length == 2 && c == 0xC2 && static_cast<uint8_t>(text[i + 1]) < 0xA0)) {
      // Not UTF-8, or a C1 control character (U+0080 to U+009F): every byte shows as a number.
      const size_t bytes = length == 0 ? 1 : 2;
      for (size_t k = 0; k < bytes; ++k) AppendHex(out, static_cast<uint8_t>(text[i + k]));
      i += bytes;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::string MessageAbout(std::string_view file, std::string_view message) {
  if (file.empty()) return EscapeForTerminal(message);
  return EscapeForTerminal(file) + ": " + EscapeForTerminal(message);
}

std::string ErrorText(const std::exception& e) {
  if (const auto* error = dynamic_cast<const Error*>(&e)) {
    return MessageAbout(error->file(), error->what());
  }
  return EscapeForTerminal(e.what());
}

}  // namespace veskor
