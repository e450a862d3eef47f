// The log line formatter: one left-to-right pass over the format that appends straight into the
// caller's line, so a report line costs no allocation beyond the line's own growth.
#include "report/report_format.h"

#include <algorithm>
#include <array>
#include <new>
#include <stdexcept>

#include "text/cp1251.h"

namespace veskor {
namespace {

constexpr int32_t kNumberLimit = 2147483647;
// A precision above these is ignored rather than padding with zeros.
constexpr int32_t kInt32PrecisionLimit = 16;
constexpr int32_t kInt64PrecisionLimit = 32;

// Windows-1251 has no double-byte characters, so a cut at a byte boundary never splits one.
[[noreturn]] void Fail(std::string_view message_template, std::string_view directive) {
  throw ReportFormatError(
      Substitute(message_template, Cp1251ToUtf8(directive.substr(0, kQuotedDirectiveBytes))));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The directive's settings once its conversion letter has been reached.
struct Directive {
  bool left = false;
  int32_t width = 0;
  bool has_precision = false;
  int32_t precision = 0;
  char letter = 0;
};

class LineFormatter {
 public:
  LineFormatter(std::string& out, std::string_view format, std::span<const FormatValue> arguments)
      : out_(out), format_(format), arguments_(arguments) {}

  void Run() {
    const size_t size = format_.size();
    while (pos_ < size) {
      const size_t percent = format_.find('%', pos_);
      if (percent == std::string_view::npos) {
        out_.append(format_.substr(pos_));
        return;
      }
      out_.append(format_.substr(pos_, percent - pos_));
      pos_ = percent + 1;
      if (pos_ == size) return;  // a lone '%' at the end adds nothing
      if (format_[pos_] == '%') {
        out_.push_back('%');
        ++pos_;
        continue;
      }
      Directive directive;
      if (!ReadDirective(directive)) return;  // cut short by the end: the line is complete
      Convert(directive, format_.substr(percent, pos_ - percent));
    }
  }

 private:
  bool AtEnd() const { return pos_ == format_.size(); }

  // A '*' (the current argument when it is a 32-bit integer, else 0) or a possibly empty run of
  // digits. A '*' past the last argument is 0 and takes nothing.
  int32_t ReadNumber() {
    if (format_[pos_] == '*') {
      ++pos_;
      if (index_ >= arguments_.size()) return 0;
      const int32_t* value = std::get_if<int32_t>(&arguments_[index_++]);
      return value != nullptr ? std::max(*value, 0) : 0;
    }
    int64_t value = 0;
    for (; !AtEnd() && IsDigit(format_[pos_]); ++pos_) {
      value = std::min<int64_t>(value * 10 + (format_[pos_] - '0'), kNumberLimit);
    }
    return static_cast<int32_t>(value);
  }

  // Reads from the byte after the '%' through the conversion letter; false when the format ends
  // first.
  bool ReadDirective(Directive& directive) {
    for (;;) {
      directive.left = false;  // a '-' before an index part is forgotten
      if (AtEnd()) return false;
      if (format_[pos_] == '-') {
        directive.left = true;
        ++pos_;
        if (AtEnd()) return false;
      }
      const int32_t number = ReadNumber();
      if (AtEnd()) return false;
      if (format_[pos_] != ':') {
        directive.width = number;
        break;
      }
      index_ = static_cast<size_t>(number);
      ++pos_;
    }
    if (format_[pos_] == '.') {
      ++pos_;
      if (AtEnd()) return false;
      directive.has_precision = true;
      directive.precision = ReadNumber();
      if (AtEnd()) return false;
    }
    directive.letter = format_[pos_++];
    return true;
  }

  void Convert(const Directive& directive, std::string_view text) {
    if (index_ >= arguments_.size()) Fail(kNoArgumentMessage, text);
    const FormatValue& argument = arguments_[index_++];
    const char letter = AsciiLower(directive.letter);
    const bool integer_letter = letter == 'd' || letter == 'u' || letter == 'x';
    const auto* string = std::get_if<std::string_view>(&argument);
    if (!(integer_letter && string == nullptr) && !(letter == 's' && string != nullptr)) {
      Fail(kInvalidFormatMessage, text);
    }
    if (directive.width > kMaxFieldWidth) Fail(kInvalidFormatMessage, text);
    // A line that outgrows memory is this directive's failure, not the program's.
    try {
      if (string != nullptr) {
        AppendString(directive, *string);
      } else {
        AppendInteger(directive, letter, argument);
      }
    } catch (const std::bad_alloc&) {
      Fail(kInvalidFormatMessage, text);
    } catch (const std::length_error&) {
      Fail(kInvalidFormatMessage, text);
    }
  }

  void AppendString(const Directive& directive, std::string_view string) {
    if (directive.has_precision) {
      string = string.substr(0, static_cast<size_t>(directive.precision));
    }
    AppendField(directive, {}, 0, string);
  }

  void AppendInteger(const Directive& directive, char letter, const FormatValue& argument) {
    const bool is_int32 = std::holds_alternative<int32_t>(argument);
    const int64_t value = is_int32 ? std::get<int32_t>(argument) : std::get<int64_t>(argument);
    bool negative = false;
    uint64_t magnitude;
    if (letter == 'd') {
      negative = value < 0;
      magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    } else {
      // u and x read the value's bit pattern at the argument's own width.
      magnitude = is_int32 ? static_cast<uint32_t>(value) : static_cast<uint64_t>(value);
    }
    const unsigned base = letter == 'x' ? 16 : 10;
    std::array<char, 20> digits;  // 2^64 has 20 decimal digits
    size_t start = digits.size();
    do {
      digits[--start] = "0123456789ABCDEF"[magnitude % base];
      magnitude /= base;
    } while (magnitude != 0);
    const std::string_view digit_text(digits.data() + start, digits.size() - start);

    const int32_t limit = is_int32 ? kInt32PrecisionLimit : kInt64PrecisionLimit;
    size_t zeros = 0;
    if (directive.has_precision && directive.precision <= limit &&
        static_cast<size_t>(directive.precision) > digit_text.size()) {
      zeros = static_cast<size_t>(directive.precision) - digit_text.size();
    }
    AppendField(directive, negative ? "-" : "", zeros, digit_text);
  }

  // The field text is the sign, then `zeros` zeros, then `body`; spaces fill it out to the width.
  void AppendField(const Directive& directive, std::string_view sign, size_t zeros,
                   std::string_view body) {
    const size_t length = sign.size() + zeros + body.size();
    const size_t width = static_cast<size_t>(directive.width);
    const size_t fill = width > length ? width - length : 0;
    if (!directive.left) out_.append(fill, ' ');
    out_.append(sign);
    out_.append(zeros, '0');
    out_.append(body);
    if (directive.left) out_.append(fill, ' ');
  }

  std::string& out_;
  const std::string_view format_;
  const std::span<const FormatValue> arguments_;
  size_t pos_ = 0;
  size_t index_ = 0;  // the current argument index, 0 at the start of every line
};

// Appends the line to `out`, or leaves `out` as it was and throws.
void AppendFormatted(std::string& out, std::string_view format,
                     std::span<const FormatValue> arguments) {
  const size_t original_size = out.size();
  try {
    LineFormatter(out, format, arguments).Run();
  } catch (...) {
    out.resize(original_size);
    throw;
  }
}

}  // namespace

std::string FormatText(std::string_view format, std::span<const FormatValue> arguments) {
  std::string line;
  AppendFormatted(line, format, arguments);
  return line;
}

void AppendReportLine(std::string& out, std::string_view format, int32_t key, int32_t width,
                      int64_t position, std::string_view text) {
  const std::array<FormatValue, 4> arguments = {key, width, position, text};
  AppendFormatted(out, format, arguments);
}

std::string FormatReportLine(std::string_view format, int32_t key, int32_t width, int64_t position,
                             std::string_view text) {
  std::string line;
  AppendReportLine(line, format, key, width, position, text);
  return line;
}

std::optional<std::string> FormatPreview(std::string_view format) {
  // The sample position is a 32-bit integer, so a precision of 17 to 32 or a '*' on it looks
  // different here than in a log.
  static constexpr std::array<FormatValue, 4> kPreviewArguments = {
      int32_t{122}, int32_t{6}, int32_t{15409}, std::string_view("examplestr")};
  try {
    return FormatText(format, kPreviewArguments);
  } catch (const ReportFormatError&) {
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace veskor
