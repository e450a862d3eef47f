// Text the runner prints for people: names and messages with their control bytes made visible,
// so that a file name holding a newline or an escape sequence cannot rewrite the terminal.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace veskor {

// UTF-8 text with what could drive a terminal made visible: CR and LF as \r and \n, every other
// control character but tab (below 32, 127, and U+0080 to U+009F) and every byte that is not part
// of valid UTF-8 as \xHH, one per byte. Tab and backslash stay, so a message without such bytes is
// the window's text byte for byte.
std::string EscapeForTerminal(std::string_view text);

// Whether the bytes are valid UTF-8 (no overlong form, surrogate or value past U+10FFFF).
bool IsValidUtf8(std::string_view text);

// "FILE: message" with FILE escaped, or the message alone when `file` is empty; the message is
// escaped too.
std::string MessageAbout(std::string_view file, std::string_view message);

// An error's message for standard error, after the file it concerns when it names one.
std::string ErrorText(const std::exception& e);

}  // namespace veskor
