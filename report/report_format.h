// The log line format language: literal 8-bit text with '%' directives that format a list of
// arguments, the report's four arguments (key, width, position, string) and the format's preview.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "text/error.h"
#include "text/line_output.h"

namespace veskor {

// Failure messages; "%s" becomes the failing directive from its '%' through its conversion letter,
// cut to kQuotedDirectiveBytes bytes and converted to UTF-8.
inline constexpr std::string_view kNoArgumentMessage = "No argument for format '%s'";
inline constexpr std::string_view kInvalidFormatMessage =
    "Format '%s' invalid or incompatible with argument";
inline constexpr size_t kQuotedDirectiveBytes = 31;

// What the preview shows instead of a line when the format fails.
inline constexpr std::string_view kIncorrectFormatPreview = "{ incorrect format }";

// The format a fresh installation starts with: key, position padded to the file size's digits,
// string.
inline constexpr std::string_view kDefaultReportFormat = "%3d | %*d | %s";

// The widest field a directive may ask for; a wider one fails with kInvalidFormatMessage rather
// than exhausting memory. Field texts longer than this (a long string) are not limited.
inline constexpr int32_t kMaxFieldWidth = 16'777'216;

// What one line may hold besides the bytes of its string arguments: literal text, numbers and
// the spaces that fill fields out. The directive that passes it fails with kInvalidFormatMessage,
// so that fifty wide fields cannot make a line of a gigabyte for every string.
inline constexpr uint64_t kMaxLineBytes = 2 * static_cast<uint64_t>(kMaxFieldWidth);

class ReportFormatError : public Error {
 public:
  using Error::Error;
};

// One argument of the formatter: a 32-bit or a 64-bit signed integer, or an 8-bit string that may
// hold any byte. The string is viewed, not copied; it must outlive the call.
using FormatValue = std::variant<int32_t, int64_t, std::string_view>;

// The line that `format` makes of `arguments`, or a ReportFormatError. Numbers in a directive
// (index, width, precision) saturate at 2147483647; a '*' that reads a negative value counts as 0.
std::string FormatText(std::string_view format, std::span<const FormatValue> arguments);

// A format read once and then applied to the report's arguments of many lines: key and width
// as 32-bit integers, position as a 64-bit integer, text as a string. Its lines and failures
// are exactly those of FormatText with these four arguments; a failure is raised when a line
// is made, never when the format is read.
class ReportFormat {
 public:
  explicit ReportFormat(std::string_view format);
  ~ReportFormat();
  ReportFormat(ReportFormat&&) noexcept;
  ReportFormat& operator=(ReportFormat&&) noexcept;

  // Appends the line to `out`; on a ReportFormatError `out` is left as it was.
  void Append(std::string& out, int32_t key, int32_t width, int64_t position,
              std::string_view text) const;
  // The same, followed by `line_end`, into a LineBuffer (the run's path for every line).
  void Append(LineBuffer& out, int32_t key, int32_t width, int64_t position, std::string_view text,
              std::string_view line_end) const;

  struct Program;

  // This format's lines for one key and width, written in place. The fields that only the key and
  // the width fill are made once, so that a line costs its position and its string.
  class InPlaceLines {
   public:
    ~InPlaceLines();
    // The most bytes `lines` lines take, their line ends not counted, whose strings hold
    // `text_bytes` bytes together.
    uint64_t Bound(uint64_t lines, uint64_t text_bytes) const {
      return fixed_ * lines + per_character_ * text_bytes;
    }
    // Writes the lines, each followed by `line_end`, at `at`, which has room for their Bound and
    // line ends; returns their end. Never fails, allocates nothing and touches nothing but `at`
    // and what `texts` reads.
    char* Write(char* at, std::span<const InPlaceLine> lines, std::string_view line_end,
                const TextSource& texts) const;

    struct Shape;

   private:
    friend class ReportFormat;
    InPlaceLines();
    std::unique_ptr<Program> program_;
    // The lines of the usual shape (text, the position right-aligned, text, the whole string,
    // text) made from a template, without walking the program; null for other formats.
    std::unique_ptr<const Shape> shape_;
    uint64_t fixed_ = 0;
    uint64_t per_character_ = 0;
  };
  // Nothing when the lines of this key and width cannot be written in place: then Append makes
  // them (and raises what it must).
  std::unique_ptr<const InPlaceLines> InPlace(int32_t key, int32_t width) const;
  // Writes the line to `sink` with the text streamed from `text`. A failure is raised before
  // anything is written.
  void Write(ByteSink& sink, int32_t key, int32_t width, int64_t position,
             const LongText& text) const;

 private:
  void AppendSlowly(std::string& out, int32_t key, int32_t width, int64_t position,
                    std::string_view text) const;

  std::unique_ptr<Program> program_;
};

// Appends the line made of the report's arguments (key and width as 32-bit integers, position as a
// 64-bit integer, text as a string) to `out`. On a ReportFormatError `out` is left as it was.
void AppendReportLine(std::string& out, std::string_view format, int32_t key, int32_t width,
                      int64_t position, std::string_view text);

// The line AppendReportLine would append, on its own.
std::string FormatReportLine(std::string_view format, int32_t key, int32_t width, int64_t position,
                             std::string_view text);

// The format applied to the preview's sample arguments (122, 6, 15409 as a 32-bit integer,
// "examplestr"); std::nullopt when formatting fails in any way.
std::optional<std::string> FormatPreview(std::string_view format);

}  // namespace veskor
