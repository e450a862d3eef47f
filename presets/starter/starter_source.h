// The readable source of the starter presets: entries of name, alphabet, lengths and expression,
// read into preset records that the window's editor can show and the run can search with.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "presets/preset.h"
#include "text/error.h"

namespace veskor {

// A source that cannot become presets; line() is the source line (1 for the first), 0 when the
// fault belongs to no line.
class StarterSourceError : public Error {
 public:
  StarterSourceError(int line, const std::string& message)
      : Error(line > 0 ? "line " + std::to_string(line) + ": " + message : message), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// The source's presets in their order, with zero bytes after every string. Each entry is a line
// "[name]" followed by "alphabet = ...", "min = N" and optionally "max = N" and "regexp = ...";
// blank lines and lines beginning with '#' are skipped (starter_presets.txt describes the
// syntax). The text is UTF-8 and is stored as Windows-1251. Raises StarterSourceError for a
// line it cannot read, a character without a Windows-1251 form, a field the editor could not
// show (an empty name or alphabet, a text over 255 bytes, min outside 5..255, max neither 0 nor
// min..100), an expression that does not compile, two presets of one name, or no preset at all.
std::vector<TPreset> ParseStarterPresets(std::string_view source);

// An alphabet written with ranges and escapes ("\x20-~\t", "A-Za-z0-9\-"), as the bytes it
// stands for in the order written, each once (where it first appears), so that the editor shows
// it as the source reads. Raises Error for a bad escape or a range whose end comes before its
// start.
std::string ExpandAlphabet(std::string_view written);

}  // namespace veskor
