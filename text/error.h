// The error type that every subsystem raises: an exception that carries its message text.
// Messages are UTF-8; 8-bit user text is converted before it is embedded.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

namespace veskor {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
  // The file the error concerns, when there is one (file-system bytes), so that a caller can
  // name it beside the message; empty otherwise.
  const std::string& file() const { return file_; }
  void set_file(std::string file) { file_ = std::move(file); }

 private:
  std::string file_;
};

// A text that a whole-number or number cell, or the key, cannot take.
class ConversionError : public Error {
 public:
  using Error::Error;
};

// Replaces the first "%s" or "%d" of a message template by `value`.
std::string Substitute(std::string_view message_template, std::string_view value);
// Replaces the "%s" and "%d" of a message template by `values`, in order, in one walk: a value
// that holds "%s" itself stays as it is.
std::string Substitute(std::string_view message_template,
                       std::initializer_list<std::string_view> values);

}  // namespace veskor
