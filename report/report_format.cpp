// The log line formatter. A format is read once into a program of literal pieces and fields
// (which argument, which conversion, where the width and precision come from); a line is then
// made by walking the program, appending straight into the caller's line or streaming into a
// sink, so a report line costs no parsing and no allocation beyond the line's own growth.
#include "report/report_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
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

enum class Kind : uint8_t { kInt32, kInt64, kString };

Kind KindOf(const FormatValue& value) {
  if (std::holds_alternative<int32_t>(value)) return Kind::kInt32;
  if (std::holds_alternative<int64_t>(value)) return Kind::kInt64;
  return Kind::kString;
}

// A width or precision: a number written in the format, or the value of a 32-bit argument read
// by '*' (negative values count as 0).
struct Number {
  int32_t value = 0;
  int argument = -1;  // >= 0: read this argument
};

struct Op {
  enum class Type : uint8_t { kLiteral, kField, kFailure };
  Type type = Type::kLiteral;
  // kLiteral: the bytes; kField and kFailure: the directive, for messages.
  std::string_view text;
  // kField
  int argument = 0;
  char letter = 0;  // 'd', 'u', 'x' or 's'
  bool left = false;
  Number width;
  bool has_precision = false;
  Number precision;
  // kFailure
  std::string_view message;
};

}  // namespace

struct ReportFormat::Program {
  std::string format;  // the ops view into it
  std::vector<Op> ops;
  bool dynamic = false;  // an index read by '*': the ops are read anew for every line
  // Every line of the format is made by the direct path: no failure, fields of modest widths.
  bool direct = false;
  uint64_t fixed_bound = 0;  // the most a line holds besides its strings and '*' widths
  int string_fields = 0;
  // The widths and precisions read by '*': the argument, and in value 1 for a width, 0 for a
  // precision.
  std::vector<Number> stars;
};

namespace {

// Reads a format into ops for arguments of the given kinds. What does not depend on the
// arguments' values is decided here: a directive without an argument or of the wrong kind
// becomes a failure op, and reading stops there. An index part read by '*' from a 32-bit
// argument depends on that argument's value: with `values` empty reading stops and the format is
// marked dynamic; with values, the index is taken from them.
class Compiler {
 public:
  Compiler(std::string_view format, const std::vector<Kind>& kinds,
           std::span<const FormatValue> values, std::vector<Op>& ops)
      : format_(format), kinds_(kinds), values_(values), ops_(ops) {}

  // False when the format is dynamic and no values were given.
  bool Run() {
    const size_t size = format_.size();
    while (pos_ < size) {
      const size_t percent = format_.find('%', pos_);
      if (percent == std::string_view::npos) {
        Literal(format_.substr(pos_));
        return true;
      }
      Literal(format_.substr(pos_, percent - pos_));
      pos_ = percent + 1;
      if (pos_ == size) return true;  // a lone '%' at the end adds nothing
      if (format_[pos_] == '%') {
        Literal(format_.substr(pos_, 1));
        ++pos_;
        continue;
      }
      Op op;
      op.type = Op::Type::kField;
      if (!ReadDirective(op)) return !dynamic_;  // cut short by the end: the line is complete
      op.text = format_.substr(percent, pos_ - percent);
      if (!Convert(op)) return true;
    }
    return true;
  }

 private:
  bool AtEnd() const { return pos_ == format_.size(); }

  void Literal(std::string_view bytes) {
    if (bytes.empty()) return;
    // Adjacent pieces of the format (text, then the '%' of a "%%") become one.
    if (!ops_.empty() && ops_.back().type == Op::Type::kLiteral &&
        ops_.back().text.data() + ops_.back().text.size() == bytes.data()) {
      ops_.back().text =
          std::string_view(ops_.back().text.data(), ops_.back().text.size() + bytes.size());
      return;
    }
    Op op;
    op.text = bytes;
    ops_.push_back(op);
  }

  // A '*' (the current argument when it is a 32-bit integer, else 0) or a possibly empty run of
  // digits. A '*' past the last argument is 0 and takes nothing.
  Number ReadNumber() {
    Number number;
    if (format_[pos_] == '*') {
      ++pos_;
      if (index_ >= kinds_.size()) return number;
      const size_t argument = index_++;
      if (kinds_[argument] == Kind::kInt32) number.argument = static_cast<int>(argument);
      return number;
    }
    int64_t value = 0;
    for (; !AtEnd() && IsDigit(format_[pos_]); ++pos_) {
      value = std::min<int64_t>(value * 10 + (format_[pos_] - '0'), kNumberLimit);
    }
    number.value = static_cast<int32_t>(value);
    return number;
  }

  // Reads from the byte after the '%' through the conversion letter; false when the format ends
  // first or the index needs values that were not given.
  bool ReadDirective(Op& op) {
    for (;;) {
      op.left = false;  // a '-' before an index part is forgotten
      if (AtEnd()) return false;
      if (format_[pos_] == '-') {
        op.left = true;
        ++pos_;
        if (AtEnd()) return false;
      }
      const Number number = ReadNumber();
      if (AtEnd()) return false;
      if (format_[pos_] != ':') {
        op.width = number;
        break;
      }
      if (number.argument < 0) {
        index_ = static_cast<size_t>(number.value);
      } else if (values_.empty()) {
        dynamic_ = true;
        return false;
      } else {
        index_ = static_cast<size_t>(std::max(std::get<int32_t>(values_[number.argument]), 0));
      }
      ++pos_;
    }
    if (format_[pos_] == '.') {
      ++pos_;
      if (AtEnd()) return false;
      op.has_precision = true;
      op.precision = ReadNumber();
      if (AtEnd()) return false;
    }
    op.letter = format_[pos_++];
    return true;
  }

  // Adds the field, or a failure op; false when reading stops.
  bool Convert(Op& op) {
    if (index_ >= kinds_.size()) return Failure(op, kNoArgumentMessage);
    op.argument = static_cast<int>(index_++);
    const char letter = AsciiLower(op.letter);
    const bool integer_letter = letter == 'd' || letter == 'u' || letter == 'x';
    const bool is_string = kinds_[op.argument] == Kind::kString;
    if (!(integer_letter && !is_string) && !(letter == 's' && is_string)) {
      return Failure(op, kInvalidFormatMessage);
    }
    op.letter = letter;
    ops_.push_back(op);
    return true;
  }

  bool Failure(Op& op, std::string_view message) {
    op.type = Op::Type::kFailure;
    op.message = message;
    ops_.push_back(op);
    return false;
  }

  const std::string_view format_;
  const std::vector<Kind>& kinds_;
  const std::span<const FormatValue> values_;
  std::vector<Op>& ops_;
  size_t pos_ = 0;
  size_t index_ = 0;  // the current argument index, 0 at the start of every line
  bool dynamic_ = false;
};

// Where a line goes while the ops are walked: appended to a string, streamed to a sink, or only
// measured. `Text` writes the first `count` bytes of a string argument.
struct StringOutput {
  std::string& out;
  void Bytes(std::string_view bytes) { out.append(bytes); }
  void Fill(size_t count, char c) { out.append(count, c); }
  void Text(std::string_view text, uint64_t count) { out.append(text.substr(0, count)); }
};

struct MeasureOutput {
  void Bytes(std::string_view) {}
  void Fill(size_t, char) {}
  void Text(std::string_view, uint64_t) {}
};

struct SinkOutput {
  ByteSink& sink;
  const LongText& long_text;
  void Bytes(std::string_view bytes) { sink.Write(bytes); }
  void Fill(size_t count, char c) {
    std::array<char, 64> run;
    run.fill(c);
    while (count > 0) {
      const size_t n = std::min(count, run.size());
      sink.Write(std::string_view(run.data(), n));
      count -= n;
    }
  }
  void Text(std::string_view, uint64_t count) { long_text.WriteTo(count, sink); }
};

// The values of one line: the arguments, and for a long text its length in place of its bytes.
struct LineValues {
  std::span<const FormatValue> arguments;
  const LongText* long_text = nullptr;  // the string argument's bytes come from here

  uint64_t TextSize(int argument) const {
    if (long_text != nullptr) return long_text->size();
    return std::get<std::string_view>(arguments[argument]).size();
  }
};

int32_t Resolve(const Number& number, const LineValues& values) {
  if (number.argument < 0) return number.value;
  return std::max(std::get<int32_t>(values.arguments[number.argument]), 0);
}

// Writes the decimal digits of a value so that the last ends just before `end`: two digits per
// division by a constant, which the compiler turns into a multiplication.
void WriteDecimalBackwards(char* end, uint64_t value) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  while (value >= 100) {
    const size_t pair = static_cast<size_t>(value % 100) * 2;
    value /= 100;
    *--end = kPairs[pair + 1];
    *--end = kPairs[pair];
  }
  if (value >= 10) {
    *--end = kPairs[value * 2 + 1];
    *--end = kPairs[value * 2];
  } else {
    *--end = static_cast<char>('0' + value);
  }
}

void WriteHexBackwards(char* end, uint64_t value) {
  do {
    *--end = "0123456789ABCDEF"[value & 15];
    value >>= 4;
  } while (value != 0);
}

size_t DecimalDigitCount(uint64_t value) {
  static constexpr uint64_t kPowers[20] = {1ULL,
                                           10ULL,
                                           100ULL,
                                           1000ULL,
                                           10000ULL,
                                           100000ULL,
                                           1000000ULL,
                                           10000000ULL,
                                           100000000ULL,
                                           1000000000ULL,
                                           10000000000ULL,
                                           100000000000ULL,
                                           1000000000000ULL,
                                           10000000000000ULL,
                                           100000000000000ULL,
                                           1000000000000000ULL,
                                           10000000000000000ULL,
                                           100000000000000000ULL,
                                           1000000000000000000ULL,
                                           10000000000000000000ULL};
  // 1233 / 4096 is just above log10(2): from the bit length, the count is `guess` or one more.
  const int bits = 64 - __builtin_clzll(value | 1);
  const size_t guess = static_cast<size_t>(bits * 1233 >> 12);
  return std::max<size_t>(1, guess + (value >= kPowers[guess] ? 1 : 0));
}

size_t HexDigitCount(uint64_t value) {
  return value == 0 ? 1 : static_cast<size_t>((64 - __builtin_clzll(value) + 3) / 4);
}

// The digits of a value at the end of `digits`.
std::string_view DecimalDigits(uint64_t value, std::array<char, 20>& digits) {
  const size_t count = DecimalDigitCount(value);
  WriteDecimalBackwards(digits.data() + digits.size(), value);
  return std::string_view(digits.data() + digits.size() - count, count);
}

std::string_view HexDigits(uint64_t value, std::array<char, 20>& digits) {
  const size_t count = HexDigitCount(value);
  WriteHexBackwards(digits.data() + digits.size(), value);
  return std::string_view(digits.data() + digits.size() - count, count);
}

// What a number's conversion prints: for d the value's magnitude (`negative` tells its sign), for
// u and x the value's bit pattern at the argument's own width.
uint64_t Magnitude(char letter, int64_t value, bool is_int32, bool& negative) {
  if (letter == 'd') {
    negative = value < 0;
    return negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  }
  negative = false;
  return is_int32 ? static_cast<uint32_t>(value) : static_cast<uint64_t>(value);
}

// The zeros before a number's digits: a precision above their count, up to the argument's limit.
size_t LeadingZeros(const Op& op, int32_t precision, bool is_int32, size_t digits) {
  const int32_t limit = is_int32 ? kInt32PrecisionLimit : kInt64PrecisionLimit;
  if (!op.has_precision || precision > limit || static_cast<size_t>(precision) <= digits) return 0;
  return static_cast<size_t>(precision) - digits;
}

// Walks the ops for one line. Throws ReportFormatError at the first failure; what was written
// before it stays written (callers take it back or measure first).
template <class Output>
class Evaluator {
 public:
  Evaluator(Output& output, const LineValues& values) : output_(output), values_(values) {}

  void Run(const std::vector<Op>& ops) {
    for (const Op& op : ops) {
      switch (op.type) {
        case Op::Type::kLiteral:
          fixed_bytes_ += op.text.size();
          output_.Bytes(op.text);
          break;
        case Op::Type::kFailure:
          Fail(op.message, op.text);
        case Op::Type::kField:
          Field(op);
          break;
      }
    }
  }

 private:
  void Field(const Op& op) {
    const int32_t width = Resolve(op.width, values_);
    if (width > kMaxFieldWidth) Fail(kInvalidFormatMessage, op.text);
    const int32_t precision = op.has_precision ? Resolve(op.precision, values_) : 0;
    // A line that outgrows memory is this directive's failure, not the program's.
    try {
      if (op.letter == 's') {
        String(op, width, precision);
      } else {
        Integer(op, width, precision);
      }
    } catch (const std::bad_alloc&) {
      Fail(kInvalidFormatMessage, op.text);
    } catch (const std::length_error&) {
      Fail(kInvalidFormatMessage, op.text);
    }
  }

  void String(const Op& op, int32_t width, int32_t precision) {
    uint64_t length = values_.TextSize(op.argument);
    if (op.has_precision) length = std::min<uint64_t>(length, static_cast<uint64_t>(precision));
    const uint64_t fill = static_cast<uint64_t>(width) > length ? width - length : 0;
    Reserve(op, fill);
    if (!op.left) output_.Fill(fill, ' ');
    const std::string_view text = values_.long_text != nullptr
                                      ? std::string_view()
                                      : std::get<std::string_view>(values_.arguments[op.argument]);
    output_.Text(text, length);
    if (op.left) output_.Fill(fill, ' ');
  }

  void Integer(const Op& op, int32_t width, int32_t precision) {
    const FormatValue& argument = values_.arguments[op.argument];
    const bool is_int32 = std::holds_alternative<int32_t>(argument);
    const int64_t value = is_int32 ? std::get<int32_t>(argument) : std::get<int64_t>(argument);
    bool negative = false;
    const uint64_t magnitude = Magnitude(op.letter, value, is_int32, negative);
    std::array<char, 20> digits;  // 2^64 has 20 decimal digits
    const std::string_view digit_text =
        op.letter == 'x' ? HexDigits(magnitude, digits) : DecimalDigits(magnitude, digits);
    const size_t zeros = LeadingZeros(op, precision, is_int32, digit_text.size());
    const size_t length = (negative ? 1 : 0) + zeros + digit_text.size();
    const size_t fill = static_cast<size_t>(width) > length ? width - length : 0;
    Reserve(op, fill + length);
    if (!op.left) output_.Fill(fill, ' ');
    if (negative) output_.Bytes("-");
    output_.Fill(zeros, '0');
    output_.Bytes(digit_text);
    if (op.left) output_.Fill(fill, ' ');
  }

  // Counts bytes that are not a string's own toward the line's limit.
  void Reserve(const Op& op, uint64_t bytes) {
    fixed_bytes_ += bytes;
    if (fixed_bytes_ > kMaxLineBytes) Fail(kInvalidFormatMessage, op.text);
  }

  Output& output_;
  const LineValues& values_;
  uint64_t fixed_bytes_ = 0;
};

// The ops of a format for arguments of these kinds; `dynamic` is set when an index part read by
// '*' makes them depend on the values of each line.
std::vector<Op> Compile(std::string_view format, const std::vector<Kind>& kinds,
                        std::span<const FormatValue> values, bool& dynamic) {
  std::vector<Op> ops;
  dynamic = !Compiler(format, kinds, values, ops).Run();
  return ops;
}

std::vector<Kind> KindsOf(std::span<const FormatValue> arguments) {
  std::vector<Kind> kinds;
  for (const FormatValue& value : arguments) kinds.push_back(KindOf(value));
  return kinds;
}

// Appends the line of `ops` (or, for a dynamic format, of the format read with these values) to
// `out`, or leaves `out` as it was and throws.
void AppendLine(std::string& out, std::string_view format, const std::vector<Kind>& kinds,
                const std::vector<Op>* ops, std::span<const FormatValue> arguments) {
  std::vector<Op> own;
  if (ops == nullptr) {
    bool dynamic = false;
    own = Compile(format, kinds, arguments, dynamic);
    ops = &own;
  }
  const size_t original_size = out.size();
  StringOutput output{out};
  const LineValues values{arguments};
  try {
    Evaluator<StringOutput>(output, values).Run(*ops);
  } catch (...) {
    out.resize(original_size);
    throw;
  }
}

// Widths and precisions up to this are made by the direct path.
constexpr int32_t kDirectWidth = 4096;

// Copies at most 32 bytes without a call: most pieces of a line (a literal, a number, a string)
// are short. Two overlapping loads cover 4 to 32 bytes, inside the source.
inline void CopyShort(char* to, const char* from, size_t count) {
  if (count >= 16) {
    uint64_t a, b, c, d;
    std::memcpy(&a, from, 8);
    std::memcpy(&b, from + 8, 8);
    std::memcpy(&c, from + count - 16, 8);
    std::memcpy(&d, from + count - 8, 8);
    std::memcpy(to, &a, 8);
    std::memcpy(to + 8, &b, 8);
    std::memcpy(to + count - 16, &c, 8);
    std::memcpy(to + count - 8, &d, 8);
  } else if (count >= 8) {
    uint64_t a, b;
    std::memcpy(&a, from, 8);
    std::memcpy(&b, from + count - 8, 8);
    std::memcpy(to, &a, 8);
    std::memcpy(to + count - 8, &b, 8);
  } else if (count >= 4) {
    uint32_t a, b;
    std::memcpy(&a, from, 4);
    std::memcpy(&b, from + count - 4, 4);
    std::memcpy(to, &a, 4);
    std::memcpy(to + count - 4, &b, 4);
  } else {
    for (size_t i = 0; i < count; ++i) to[i] = from[i];
  }
}

// Copies any number of bytes, the short ones without a call.
inline void CopyBytes(char* to, const char* from, size_t count) {
  if (count <= 32) {
    CopyShort(to, from, count);
  } else {
    std::memcpy(to, from, count);
  }
}

// The most a line of a direct format takes beside its strings' bytes; nothing when a '*' width
// or precision passes kDirectWidth (the Evaluator makes that line).
std::optional<uint64_t> DirectBound(const ReportFormat::Program& program,
                                    const int32_t (&values)[2]) {
  uint64_t star_widths = 0;
  for (const Number& star : program.stars) {
    const int32_t value = std::max(values[star.argument], 0);
    if (value > kDirectWidth) return std::nullopt;
    star_widths += star.value != 0 ? static_cast<uint64_t>(value) : 0;  // a width, not a precision
  }
  return program.fixed_bound + star_widths;
}

// The line of a format whose lines can be bounded, written at `p` (with room for DirectBound):
// the same bytes as the Evaluator makes, without its checks for failures that the format cannot
// have. Returns the end of the line.
// The text of a string field: its bytes, or where they come from.
struct FieldText {
  uint64_t size;
  std::string_view bytes;    // when held
  const TextSource* source;  // else, with the string at `from`
  const void* from = nullptr;
  void WriteTo(char* p, uint64_t count) const {
    if (source != nullptr) {
      source->Copy(from, p, count);
    } else {
      CopyBytes(p, bytes.data(), count);
    }
  }
};

// One op of a direct format written at `p`; returns the end of what it wrote.
char* DirectWriteOp(const Op& op, char* p, const int32_t (&values)[2], int64_t position,
                    const FieldText& text) {
  auto resolve = [&](const Number& number) {
    return number.argument < 0 ? number.value : std::max(values[number.argument], 0);
  };
  if (op.type == Op::Type::kLiteral) {
    CopyBytes(p, op.text.data(), op.text.size());
    return p + op.text.size();
  }
  const size_t field_width = static_cast<size_t>(resolve(op.width));
  const int32_t precision = op.has_precision ? resolve(op.precision) : 0;
  if (op.letter == 's') {
    const size_t length = static_cast<size_t>(
        op.has_precision ? std::min<uint64_t>(text.size, static_cast<uint64_t>(precision))
                         : text.size);
    const size_t fill = field_width > length ? field_width - length : 0;
    if (!op.left) p = std::fill_n(p, fill, ' ');
    text.WriteTo(p, length);
    p += length;
    if (op.left) p = std::fill_n(p, fill, ' ');
    return p;
  }
  const bool is_int64 = op.argument == 2;
  const int64_t value = is_int64 ? position : values[op.argument];
  bool negative = false;
  const uint64_t magnitude = Magnitude(op.letter, value, !is_int64, negative);
  const bool hex = op.letter == 'x';
  const size_t digits = hex ? HexDigitCount(magnitude) : DecimalDigitCount(magnitude);
  const size_t zeros = LeadingZeros(op, precision, !is_int64, digits);
  const size_t length = (negative ? 1 : 0) + zeros + digits;
  const size_t fill = field_width > length ? field_width - length : 0;
  if (!op.left) p = std::fill_n(p, fill, ' ');
  if (negative) *p++ = '-';
  p = std::fill_n(p, zeros, '0');
  // The digits go straight to their place, last first.
  p += digits;
  if (hex) {
    WriteHexBackwards(p, magnitude);
  } else {
    WriteDecimalBackwards(p, magnitude);
  }
  if (op.left) p = std::fill_n(p, fill, ' ');
  return p;
}

char* DirectWrite(const ReportFormat::Program& program, char* p, const int32_t (&values)[2],
                  int64_t position, const FieldText& text) {
  for (const Op& op : program.ops) p = DirectWriteOp(op, p, values, position, text);
  return p;
}

const std::vector<Kind>& ReportKinds() {
  static const std::vector<Kind> kinds = {Kind::kInt32, Kind::kInt32, Kind::kInt64, Kind::kString};
  return kinds;
}

}  // namespace

std::string FormatText(std::string_view format, std::span<const FormatValue> arguments) {
  std::string line;
  AppendLine(line, format, KindsOf(arguments), nullptr, arguments);
  return line;
}

ReportFormat::ReportFormat(std::string_view format) : program_(std::make_unique<Program>()) {
  program_->format = std::string(format);
  bool dynamic = false;
  program_->ops = Compile(program_->format, ReportKinds(), {}, dynamic);
  program_->dynamic = dynamic;
  // The direct path takes formats whose every line it can bound before writing it.
  bool direct = !dynamic;
  uint64_t bound = 0;
  for (const Op& op : program_->ops) {
    if (op.type == Op::Type::kFailure) direct = false;
    if (op.type == Op::Type::kLiteral) bound += op.text.size();
    if (op.type != Op::Type::kField) continue;
    if (op.width.value > kDirectWidth || op.precision.value > kDirectWidth) direct = false;
    if (op.letter == 's') {
      ++program_->string_fields;
      bound += static_cast<uint64_t>(op.width.value);
    } else {
      // Sign, at most 32 zeros and 20 digits, or the width.
      bound += std::max<uint64_t>(static_cast<uint64_t>(op.width.value), 53);
    }
  }
  // A '*' width adds at most kDirectWidth to every field that has one.
  uint64_t star_fields = 0;
  for (const Op& op : program_->ops) {
    if (op.type != Op::Type::kField) continue;
    star_fields += op.width.argument >= 0 ? 1 : 0;
    if (op.width.argument >= 0) program_->stars.push_back({1, op.width.argument});
    if (op.precision.argument >= 0) program_->stars.push_back({0, op.precision.argument});
  }
  program_->direct = direct && bound + star_fields * kDirectWidth <= kMaxLineBytes;
  program_->fixed_bound = bound;
}

ReportFormat::~ReportFormat() = default;
ReportFormat::ReportFormat(ReportFormat&&) noexcept = default;
ReportFormat& ReportFormat::operator=(ReportFormat&&) noexcept = default;

void ReportFormat::Append(std::string& out, int32_t key, int32_t width, int64_t position,
                          std::string_view text) const {
  LineBuffer line;
  Append(line, key, width, position, text, {});
  out.append(line.view());
}

void ReportFormat::Append(LineBuffer& out, int32_t key, int32_t width, int64_t position,
                          std::string_view text, std::string_view line_end) const {
  const int32_t values[2] = {key, width};
  if (program_->direct) {
    if (const auto bound = DirectBound(*program_, values)) {
      const uint64_t string_bytes = static_cast<uint64_t>(program_->string_fields) * text.size();
      char* start = out.Extend(*bound + string_bytes + line_end.size());
      char* end = DirectWrite(*program_, start, values, position, {text.size(), text, nullptr});
      CopyBytes(end, line_end.data(), line_end.size());
      out.Commit(static_cast<size_t>(end - start) + line_end.size());
      return;
    }
  }
  std::string line;
  AppendSlowly(line, key, width, position, text);
  line.append(line_end);
  out.Append(line);
}

// A key's lines that are literal text, the position in decimal right-aligned in a field of fixed
// width, literal text, the whole string and literal text (the default format among them): all
// that comes before the string is a template whose field holds spaces, into which the position's
// digits are written from the field's end. Millions of lines a second go through here.
struct ReportFormat::InPlaceLines::Shape {
  // The decimal digits of a value below 10^8, eight of them with leading zeros, as bytes 0 to 9
  // in a word whose lowest byte holds the first digit: the divisions by 10000, 100 and 10 made
  // for all the digits at once in lanes of the word, by multiplications that stay inside their
  // lanes, instead of a chain of one division per two digits.
  static uint64_t EightDigits(uint32_t value) {
    const uint64_t x4 = value / 10000 | uint64_t{value % 10000} << 32;
    const uint64_t h4 = (x4 * 10486 >> 20) & 0x0000007F0000007FULL;  // / 100, in 32-bit lanes
    const uint64_t x2 = h4 | (x4 - h4 * 100) << 16;
    const uint64_t h2 = (x2 * 103 >> 10) & 0x000F000F000F000FULL;  // / 10, in 16-bit lanes
    return h2 | (x2 - h2 * 10) << 8;
  }
  // The position's field of at most eight places written over the word that ends where the
  // field does (its places are spaces in the head, the bytes before it the head's own): digits
  // without leading zeros, right-aligned.
  bool word_field = false;
  uint64_t field_word = 0;  // the head's bytes digits_end - 8 .. digits_end
  uint64_t keep = 0;        // the bytes of field_word before the field
  uint64_t Field(uint64_t position) const {
    const uint64_t digits = EightDigits(static_cast<uint32_t>(position));
    // Zeros before the first digit become spaces ('0' - 16), the last digit stays.
    const int leading = digits == 0 ? 7 : std::min(__builtin_ctzll(digits) / 8, 7);
    const uint64_t spaces = leading == 0 ? 0 : ~uint64_t{0} >> (64 - 8 * leading);
    const uint64_t text = (digits + 0x3030303030303030ULL) - (spaces & 0x1010101010101010ULL);
    return (text & ~keep) | (field_word & keep);
  }

  static constexpr size_t kHeadBytes = 96;
  static constexpr size_t kTailBytes = 32;
  static_assert(kTailBytes <= 32, "a tail is copied by CopyShort");
  std::array<char, kHeadBytes> head;
  size_t head_size = 0;
  size_t digits_end = 0;  // in head, where the position's digits end
  uint64_t limit = 0;     // positions below it fit the field (10 to the field's width)
  std::array<char, kTailBytes> tail;
  size_t tail_size = 0;  // the literal after the string, without the line end

  // The shape of a key's program, if it has it.
  static std::unique_ptr<const Shape> Of(const ReportFormat::Program& program) {
    const std::vector<Op>& ops = program.ops;
    size_t i = 0;
    auto literal = [&]() -> std::string_view {
      return i < ops.size() && ops[i].type == Op::Type::kLiteral ? ops[i++].text
                                                                 : std::string_view();
    };
    auto shape = std::make_unique<Shape>();
    const std::string_view before = literal();
    if (i >= ops.size()) return nullptr;
    const Op& position = ops[i++];
    // Positions are never negative, so d and u print alike.
    if (position.type != Op::Type::kField || position.argument != 2 ||
        (position.letter != 'd' && position.letter != 'u') || position.left ||
        position.has_precision || position.width.value < 1 || position.width.value > 19) {
      return nullptr;
    }
    const size_t width = static_cast<size_t>(position.width.value);
    const std::string_view between = literal();
    if (i >= ops.size()) return nullptr;
    const Op& text = ops[i++];
    if (text.type != Op::Type::kField || text.argument != 3 || text.letter != 's' ||
        text.has_precision || text.width.value != 0) {
      return nullptr;
    }
    const std::string_view after = literal();
    if (i != ops.size()) return nullptr;
    if (before.size() + width + between.size() > kHeadBytes || after.size() > kTailBytes) {
      return nullptr;
    }
    char* head = shape->head.data();
    head = std::copy(before.begin(), before.end(), head);
    head = std::fill_n(head, width, ' ');
    shape->digits_end = static_cast<size_t>(head - shape->head.data());
    head = std::copy(between.begin(), between.end(), head);
    shape->head_size = static_cast<size_t>(head - shape->head.data());
    shape->limit = 1;
    for (size_t d = 0; d < width; ++d) shape->limit *= 10;
    if (std::endian::native == std::endian::little && width <= 8 && shape->digits_end >= 8) {
      shape->word_field = true;
      std::memcpy(&shape->field_word, shape->head.data() + shape->digits_end - 8, 8);
      shape->keep = width == 8 ? 0 : ~uint64_t{0} >> (8 * width);
    }
    std::copy(after.begin(), after.end(), shape->tail.data());
    shape->tail_size = after.size();
    return shape;
  }
};

ReportFormat::InPlaceLines::InPlaceLines() = default;
ReportFormat::InPlaceLines::~InPlaceLines() = default;

char* ReportFormat::InPlaceLines::Write(char* at, std::span<const InPlaceLine> lines,
                                        std::string_view line_end, const TextSource& texts) const {
  // Every number the key and the width fill is in the literals now.
  const int32_t no_values[2] = {0, 0};
  const Shape* shape = shape_.get();
  if (shape != nullptr && shape->tail_size + line_end.size() <= Shape::kTailBytes) {
    std::array<char, Shape::kTailBytes> tail = shape->tail;
    std::copy(line_end.begin(), line_end.end(), tail.data() + shape->tail_size);
    const size_t tail_size = shape->tail_size + line_end.size();
    for (const InPlaceLine& line : lines) {
      const auto position = static_cast<uint64_t>(line.position);
      if (position < shape->limit) {
        CopyBytes(at, shape->head.data(), shape->head_size);
        if (shape->word_field) {
          const uint64_t field = shape->Field(position);
          std::memcpy(at + shape->digits_end - 8, &field, 8);
        } else {
          WriteDecimalBackwards(at + shape->digits_end, position);
        }
        at += shape->head_size;
        texts.Copy(line.text, at, line.text_size);
        at += line.text_size;
        CopyShort(at, tail.data(), tail_size);  // the tail fits its array: at most 32 bytes
        at += tail_size;
      } else {  // the whole line by the program, then its end
        at = DirectWrite(*program_, at, no_values, line.position,
                         {line.text_size, {}, &texts, line.text});
        CopyBytes(at, line_end.data(), line_end.size());
        at += line_end.size();
      }
    }
    return at;
  }
  for (const InPlaceLine& line : lines) {
    at = DirectWrite(*program_, at, no_values, line.position,
                     {line.text_size, {}, &texts, line.text});
    CopyBytes(at, line_end.data(), line_end.size());
    at += line_end.size();
  }
  return at;
}

std::unique_ptr<const ReportFormat::InPlaceLines> ReportFormat::InPlace(int32_t key,
                                                                        int32_t width) const {
  const int32_t values[2] = {key, width};
  if (!program_->direct || !DirectBound(*program_, values)) return nullptr;
  std::unique_ptr<InPlaceLines> lines(new InPlaceLines);
  lines->program_ = std::make_unique<Program>();
  Program& program = *lines->program_;
  program.direct = true;
  // The key's and the width's fields are made into literal bytes, next to the literals around
  // them; the position's and the string's fields get their '*' numbers as plain ones.
  std::string& literals = program.format;
  std::vector<size_t> literal_starts;  // of the literal ops, into `literals`
  std::vector<char> field(kDirectWidth + 64);
  for (const Op& op : program_->ops) {
    if (op.type == Op::Type::kLiteral || op.argument < 2) {
      if (program.ops.empty() || program.ops.back().type != Op::Type::kLiteral) {
        program.ops.push_back({});
        literal_starts.push_back(literals.size());
      }
      if (op.type == Op::Type::kLiteral) {
        literals.append(op.text);
      } else {  // at most kDirectWidth, or a sign, zeros and digits
        const char* end = DirectWriteOp(op, field.data(), values, 0, {0, {}, nullptr});
        literals.append(field.data(), static_cast<size_t>(end - field.data()));
      }
      continue;
    }
    Op resolved = op;
    auto resolve = [&](const Number& number) {
      return Number{number.argument < 0 ? number.value : std::max(values[number.argument], 0), -1};
    };
    resolved.width = resolve(op.width);
    resolved.precision = resolve(op.precision);
    program.ops.push_back(resolved);
    lines->fixed_ += op.letter == 's' ? static_cast<uint64_t>(resolved.width.value)
                                      : std::max<uint64_t>(resolved.width.value, 53);
    lines->per_character_ += op.letter == 's' ? 1 : 0;
  }
  // The literals' views, now that their bytes stay where they are.
  size_t next = 0;
  for (size_t i = 0; i < program.ops.size(); ++i) {
    if (program.ops[i].type != Op::Type::kLiteral) continue;
    const size_t start = literal_starts[next++];
    const size_t end = next < literal_starts.size() ? literal_starts[next] : literals.size();
    program.ops[i].text = std::string_view(literals).substr(start, end - start);
  }
  lines->fixed_ += literals.size();
  lines->shape_ = InPlaceLines::Shape::Of(program);
  return lines;
}

void ReportFormat::AppendSlowly(std::string& out, int32_t key, int32_t width, int64_t position,
                                std::string_view text) const {
  const std::array<FormatValue, 4> arguments = {key, width, position, text};
  AppendLine(out, program_->format, ReportKinds(), program_->dynamic ? nullptr : &program_->ops,
             arguments);
}

void ReportFormat::Write(ByteSink& sink, int32_t key, int32_t width, int64_t position,
                         const LongText& text) const {
  const std::array<FormatValue, 4> arguments = {key, width, position, std::string_view()};
  bool dynamic = false;
  const std::vector<Op> own = program_->dynamic
                                  ? Compile(program_->format, ReportKinds(), arguments, dynamic)
                                  : std::vector<Op>();
  const std::vector<Op>& ops = program_->dynamic ? own : program_->ops;
  const LineValues values{arguments, &text};
  MeasureOutput measure;
  Evaluator<MeasureOutput>(measure, values).Run(ops);  // any failure is raised here
  SinkOutput output{sink, text};
  Evaluator<SinkOutput>(output, values).Run(ops);
}

void AppendReportLine(std::string& out, std::string_view format, int32_t key, int32_t width,
                      int64_t position, std::string_view text) {
  const std::array<FormatValue, 4> arguments = {key, width, position, text};
  AppendLine(out, format, ReportKinds(), nullptr, arguments);
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
