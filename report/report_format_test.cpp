// The log line format language: lines, failures and their messages, the report's and the
// preview's arguments.
#include "report/report_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace veskor {
namespace {

using namespace std::string_literals;

const std::vector<FormatValue> kPreview = {122, 6, 15409, std::string_view("examplestr")};

// A case expects either a line or a failure message (exactly one is set).
struct Case {
  std::string format;
  const char* line;
  const char* error;
};

// The line, or "error: " and the message.
std::string Outcome(std::string_view format, std::span<const FormatValue> arguments) {
  try {
    return FormatText(format, arguments);
  } catch (const ReportFormatError& e) {
    return "error: "s + e.what();
  }
}

std::string Expected(const Case& c) { return c.line != nullptr ? c.line : "error: "s + c.error; }

std::string NoArgument(std::string_view quoted) { return Substitute(kNoArgumentMessage, quoted); }
std::string Invalid(std::string_view quoted) { return Substitute(kInvalidFormatMessage, quoted); }

TEST(ReportFormat, PreviewArguments) {
  // The messages are spelled out here so that a wrong message table shows.
  const std::string invalid_35 = "%" + std::string(32, '0') + "5q";
  const Case cases[] = {
      {"%3d | %*d | %s", "122 |  15409 | examplestr", nullptr},
      {"", "", nullptr},
      {"plain text", "plain text", nullptr},
      {"%%", "%", nullptr},
      {"a%%%%b", "a%%b", nullptr},
      {"abc%", "abc", nullptr},
      {"abc%5", "abc", nullptr},
      {"%05d", "  122", nullptr},
      {"%.5d", "00122", nullptr},
      {"%.d", "122", nullptr},
      {"%-5d|", "122  |", nullptr},
      {"%x", "7A", nullptr},
      {"%2:x", "3C31", nullptr},
      {"%D", "122", nullptr},
      {"%X|%U|%3:S", "7A|6|examplestr", nullptr},
      {"%3:s %0:d", "examplestr 122", nullptr},
      {"%3:.3s", "exa", nullptr},
      {"%3:.0s|", "|", nullptr},
      {"%3:12s|%3:-12s|", "  examplestr|examplestr  |", nullptr},
      {"%3:4s", "examplestr", nullptr},  // never cut to the width
      {"%1:-5d|", "6    |", nullptr},
      {"%-1:5d|", "    6|", nullptr},
      {"%2:.20d", "15409", nullptr},  // above the 32-bit precision limit: ignored
      {"%*5d", nullptr, "Format '%*5' invalid or incompatible with argument"},
      {"%5%", nullptr, "Format '%5%' invalid or incompatible with argument"},
      {"%s", nullptr, "Format '%s' invalid or incompatible with argument"},
      {"%f", nullptr, "Format '%f' invalid or incompatible with argument"},
      {"%3:s%s", nullptr, "No argument for format '%s'"},
      {"%4:q", nullptr, "No argument for format '%4:q'"},
      {invalid_35, nullptr,
       "Format '%000000000000000000000000000000' invalid or incompatible with argument"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Outcome(c.format, kPreview), Expected(c)) << c.format;
    const std::optional<std::string> preview = FormatPreview(c.format);
    if (c.line != nullptr) {
      EXPECT_EQ(preview, std::optional<std::string>(c.line)) << c.format;
    } else {
      EXPECT_EQ(preview, std::nullopt) << c.format;
    }
  }
  EXPECT_EQ(kIncorrectFormatPreview, "{ incorrect format }");
  EXPECT_EQ(FormatPreview(kDefaultReportFormat), "122 |  15409 | examplestr");
}

TEST(ReportFormat, RunArguments) {
  const Case cases[] = {
      {"%3d | %*d | %s", "  5 |     42 | hello", nullptr},
      {"%2:.20d", "00000000000000000042", nullptr},
      {"%2:.32x", "0000000000000000000000000000002A", nullptr},
      {"%2:.33d", "42", nullptr},
      {"%2:*s|", "hello|", nullptr},  // a '*' on the 64-bit position counts as 0
      {"%3:s|%2:d|%1:u|%0:x", "hello|42|6|5", nullptr},
  };
  for (const Case& c : cases) {
    std::string got;
    try {
      got = FormatReportLine(c.format, 5, 6, 42, "hello");
    } catch (const ReportFormatError& e) {
      got = "error: "s + e.what();
    }
    EXPECT_EQ(got, Expected(c)) << c.format;
  }
  // In the preview the same '*' reads the 32-bit sample position as the width.
  EXPECT_EQ(FormatPreview("%2:*s|"), std::string(15409 - 10, ' ') + "examplestr|");
}

TEST(ReportFormat, IntegerConversions) {
  const std::vector<FormatValue> arguments = {
      -42,       int64_t{-42},       int32_t{-1}, int64_t{-1}, INT32_MIN, INT64_MIN,
      INT32_MAX, int64_t{INT64_MAX}, 0,           int64_t{0},  7,         int64_t{7}};
  const Case cases[] = {
      // Negative values under d, with precision and width.
      {"%d", "-42", nullptr},
      {"%.5d", "-00042", nullptr},
      {"%8.5d|", "  -00042|", nullptr},
      {"%-8.5d|", "-00042  |", nullptr},
      {"%.1d", "-42", nullptr},
      {"%1:.5d", "-00042", nullptr},
      {"%4:d %5:d", "-2147483648 -9223372036854775808", nullptr},
      {"%4:.12d", "-002147483648", nullptr},
      {"%6:d %7:d", "2147483647 9223372036854775807", nullptr},
      // u and x read the bit pattern at the argument's width.
      {"%u", "4294967254", nullptr},
      {"%1:u", "18446744073709551574", nullptr},
      {"%2:u %2:x %2:.10x", "4294967295 FFFFFFFF 00FFFFFFFF", nullptr},
      {"%3:u %3:x", "18446744073709551615 FFFFFFFFFFFFFFFF", nullptr},
      {"%4:u %4:x %5:x", "2147483648 80000000 8000000000000000", nullptr},
      {"%6:x %7:X", "7FFFFFFF 7FFFFFFFFFFFFFFF", nullptr},
      // Zero is one digit, also with precision 0.
      {"%8:d%8:.0d%8:.u%9:x%9:.0x", "00000", nullptr},
      {"%8:.3x", "000", nullptr},
      // Precision limits: 16 digits on a 32-bit integer, 32 on a 64-bit one.
      {"%10:.16d", "0000000000000007", nullptr},
      {"%10:.17d", "7", nullptr},
      {"%10:.16x|%10:.17x", "0000000000000007|7", nullptr},
      {"%11:.32d", "00000000000000000000000000000007", nullptr},
      {"%11:.33d", "7", nullptr},
      {"%11:.33u|%11:20.33u|", "7|                   7|", nullptr},
      // Width fills with spaces only, before or after; never cuts.
      {"%10:5d|%10:-5d|%10:05d|%10:-05d|", "    7|7    |    7|7    |", nullptr},
      {"%5:3d", "-9223372036854775808", nullptr},
      {"%10:5.3d|", "  007|", nullptr},
  };
  for (const Case& c : cases) EXPECT_EQ(Outcome(c.format, arguments), Expected(c)) << c.format;
}

TEST(ReportFormat, StarsAndIndexParts) {
  const std::vector<FormatValue> arguments = {int32_t{7}, int64_t{9}, std::string_view("str"),
                                              int32_t{-3}, int32_t{4}};
  const std::string star_index = NoArgument("%*:d"), star_past = NoArgument("%*d");
  const std::string star_precision = NoArgument("%4:*.*d"), star_digit = NoArgument("%*5");
  const std::string star_s = Invalid("%1:*.*s"), dash = Invalid("%--");
  const Case cases[] = {
      // A '*' takes a 32-bit integer as the number; any other kind counts as 0; either way the
      // index moves on.
      {"%*d|", "      9|", nullptr},          // width 7 from '*', then d on argument 1
      {"%*:d", nullptr, star_index.c_str()},  // index 7: past the last argument
      {"%1:*s|", "str|", nullptr},
      {"%1:*.*s|", nullptr,
       star_s.c_str()},           // the width and precision take 9 and "str", s takes -3
      {"%3:*d|", "4|", nullptr},  // a negative '*' counts as 0
      {"%3:.*d|", "4|", nullptr},
      {"%3:*:d", "7", nullptr},  // negative index from '*' counts as 0
      {"%4:*.*d|", nullptr, star_precision.c_str()},
      {"%4:d%*d", nullptr, star_past.c_str()},     // '*' past the last counts as 0, index stays
      {"%4:d%*:d", "47", nullptr},                 // ...as the index part 0 shows
      {"%4:d%*5:d", nullptr, star_digit.c_str()},  // a digit after '*' is the letter
      // Index parts: several may follow; the last counts; later directives go on after it.
      {"%4:2:0:d", "7", nullptr},
      {"%:d", "7", nullptr},  // an empty index is 0
      {"%2:s %d", "str -3", nullptr},
      {"%4:d %0:d %d", "4 7 9", nullptr},
      {"%-2:-5s|", "str  |", nullptr},
      {"%-2:5s|", "  str|", nullptr},
      {"%2:-5.2s|", "st   |", nullptr},
      {"%--5d", nullptr, dash.c_str()},
  };
  for (const Case& c : cases) EXPECT_EQ(Outcome(c.format, arguments), Expected(c)) << c.format;
}

TEST(ReportFormat, DirectiveCutByTheEndAddsNothing) {
  // Every prefix of these directives short of the letter, after some text, leaves the text.
  for (std::string directive : {"%-12:-5.3d", "%*.*d", "%1:*.5x", "%3:.2s",
                                "%99999999999:99999999999.99999999999s", "%-*:-*.*q"}) {
    for (size_t length = 1; length < directive.size(); ++length) {
      const std::string format = "ab%1:d" + directive.substr(0, length);
      EXPECT_EQ(Outcome(format, kPreview), "ab6") << format;
      EXPECT_EQ(FormatPreview(format), "ab6") << format;
    }
  }
  // The empty argument list gives no error either for a cut directive.
  EXPECT_EQ(Outcome("x%5:", {}), "x");
  EXPECT_EQ(Outcome("x%5:d", {}), "error: " + NoArgument("%5:d"));
}

TEST(ReportFormat, LargeNumbersSaturate) {
  const std::string big = "99999999999999999999";  // more than 32 bits hold
  const std::string big_index_d = "%" + big + ":d";
  const std::string big_width_d = "%" + big + "d";
  const std::string big_precision_s = "%3:." + big + "s";
  const std::string big_precision_d = "%." + big + "d";
  const std::string wide = "%" + std::to_string(kMaxFieldWidth + 1) + "d";
  const std::string no_argument_big = NoArgument(big_index_d);
  const std::string invalid_big = Invalid(big_width_d), invalid_wide = Invalid(wide);
  const Case cases[] = {
      {big_index_d, nullptr, no_argument_big.c_str()},
      {"%2147483647:d", nullptr, "No argument for format '%2147483647:d'"},
      {"%4294967296:d", nullptr, "No argument for format '%4294967296:d'"},
      {big_width_d, nullptr, invalid_big.c_str()},
      {wide, nullptr, invalid_wide.c_str()},
      {"%3:16777217s", nullptr, "Format '%3:16777217s' invalid or incompatible with argument"},
      {big_precision_s, "examplestr", nullptr},
      {big_precision_d, "122", nullptr},
  };
  for (const Case& c : cases) EXPECT_EQ(Outcome(c.format, kPreview), Expected(c)) << c.format;

  // The widest allowed field is produced whole.
  const std::string line = FormatText("%16777216d|", kPreview);
  ASSERT_EQ(line.size(), static_cast<size_t>(kMaxFieldWidth) + 1);
  EXPECT_EQ(line.substr(line.size() - 5), " 122|");
  EXPECT_EQ(line.find_first_not_of(' '), static_cast<size_t>(kMaxFieldWidth) - 3);
  // A string longer than the widest field is not limited.
  const std::string long_text(static_cast<size_t>(kMaxFieldWidth) + 100, 'z');
  EXPECT_EQ(FormatReportLine("%3:s", 1, 1, 0, long_text), long_text);
}

TEST(ReportFormat, StringsAndQuotesKeepEveryByte) {
  const std::string bytes("a\0b\xFF\xC0", 5);
  const std::vector<FormatValue> arguments = {std::string_view(bytes)};
  EXPECT_EQ(Outcome("[%s]", arguments), "[" + bytes + "]");
  EXPECT_EQ(Outcome("%7s|", arguments), "  " + bytes + "|");
  EXPECT_EQ(Outcome("%-7s|", arguments), bytes + "  |");
  EXPECT_EQ(Outcome("%.3s|", arguments), std::string("a\0b|", 4));
  // Literal bytes, zero and above 127, pass unchanged.
  const std::string format("\x00\xE9%s\xFF", 5);
  EXPECT_EQ(Outcome(format, arguments), std::string("\x00\xE9", 2) + bytes + "\xFF");

  // A quoted directive is Windows-1251; the message carries it as UTF-8, cut before conversion
  // (31 bytes of directive become 32 bytes of message text here).
  const std::string zeros_29(29, '0'), zeros_30(30, '0');
  const std::string quoted_whole = Invalid("%" + zeros_29 + "\xD0\x90");
  const std::string quoted_cut = Invalid("%" + zeros_30);
  const Case cases[] = {
      {"%\xC0", nullptr, "Format '%\xD0\x90' invalid or incompatible with argument"},
      {"%5\xFF", nullptr, "Format '%5\xD1\x8F' invalid or incompatible with argument"},
      {"%1:\xE9", nullptr, "No argument for format '%1:\xD0\xB9'"},
      {"%" + zeros_29 + "\xC0", nullptr, quoted_whole.c_str()},
      {"%" + zeros_30 + "\xC0", nullptr, quoted_cut.c_str()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Outcome(c.format, arguments), Expected(c)) << c.format;
  }
}

TEST(ReportFormat, AppendReportLineAppendsOrLeavesTheLineAlone) {
  std::string out = "prefix:";
  AppendReportLine(out, "%3d | %*d | %s", 255, 4, 7, "abc");
  EXPECT_EQ(out, "prefix:255 |    7 | abc");
  // A failure after the line has grown takes back everything it appended.
  out = "kept";
  for (const char* format : {"text %d %d %d %d %d", "%3:200s wide %q", "%3:s%0:s"}) {
    EXPECT_THROW(AppendReportLine(out, format, 1, 2, 3, "x"), ReportFormatError) << format;
    EXPECT_EQ(out, "kept") << format;
  }
  try {
    AppendReportLine(out, "%100d%5:d", 1, 2, 3, "x");
    FAIL() << "no error";
  } catch (const ReportFormatError& e) {
    EXPECT_EQ(e.what(), NoArgument("%5:d"));
  }
  EXPECT_EQ(out, "kept");
  EXPECT_EQ(FormatReportLine("%2:d", 0, 0, INT64_MAX, ""), "9223372036854775807");
}

// A long text produced in pieces of three bytes, as a run's text streams from the file.
class PieceText : public LongText {
 public:
  explicit PieceText(std::string text) : text_(std::move(text)) {}
  uint64_t size() const override { return text_.size(); }
  void WriteTo(uint64_t count, ByteSink& sink) const override {
    for (uint64_t at = 0; at < count; at += 3) {
      sink.Write(std::string_view(text_).substr(at, std::min<uint64_t>(3, count - at)));
    }
  }

 private:
  std::string text_;
};

struct StringSink : ByteSink {
  std::string bytes;
  void Write(std::string_view piece) override { bytes.append(piece); }
};

TEST(ReportFormat, ReadOnceGivesTheLinesAndFailuresOfEveryLine) {
  // Formats whose index is read by '*' from the key depend on each line's key.
  const char* formats[] = {"%3d | %*d | %s",
                           "%-6.3s|%2:.12x|%1:*d",
                           "%3:10.2s%0:-5u%%",
                           "%*:d|",
                           "%*:s|",
                           "%1:*:*.*d|%s",
                           "%5:d",
                           "%s",
                           "ab%1:d%3:.2"};
  for (const char* format : formats) {
    const ReportFormat compiled(format);
    for (int32_t key : {0, 1, 2, 3, 4, 200}) {
      std::string expected, got = "kept", streamed_error, expected_error;
      try {
        expected = FormatReportLine(format, key, 7, -12345, "some text");
      } catch (const ReportFormatError& e) {
        expected_error = e.what();
      }
      StringSink sink;
      try {
        got.clear();
        compiled.Append(got, key, 7, -12345, "some text");
        compiled.Write(sink, key, 7, -12345, PieceText("some text"));
      } catch (const ReportFormatError& e) {
        streamed_error = e.what();
      }
      EXPECT_EQ(streamed_error, expected_error) << format << " key " << key;
      EXPECT_EQ(got, expected) << format << " key " << key;
      EXPECT_EQ(sink.bytes, expected) << format << " key " << key;  // nothing written on failure
    }
  }
}

TEST(ReportFormat, ALineMayHoldAtMostTheLimitBesidesItsText) {
  std::string fifty;
  for (int i = 0; i < 50; ++i) fifty += "%0:16777216d";
  try {
    FormatReportLine(fifty, 1, 1, 0, "x");
    FAIL() << "no error";
  } catch (const ReportFormatError& e) {
    EXPECT_EQ(e.what(), Invalid("%0:16777216d"));
  }
  // Two widest fields fit; the string's own bytes never count.
  EXPECT_EQ(FormatReportLine("%0:16777216d%0:16777216d", 1, 1, 0, "x").size(),
            2 * static_cast<size_t>(kMaxFieldWidth));
  StringSink sink;
  ReportFormat("%3:16777216s%3:16777216s").Write(sink, 1, 1, 0, PieceText(std::string(40, 'a')));
  EXPECT_EQ(sink.bytes.size(), 2 * static_cast<size_t>(kMaxFieldWidth));
  // With a one-byte text the padding passes the limit at the number; nothing is written.
  sink.bytes.clear();
  EXPECT_THROW(ReportFormat("%3:16777216s%3:16777216s%0:9d").Write(sink, 1, 1, 0, PieceText("a")),
               ReportFormatError);
  EXPECT_EQ(sink.bytes, "");
}

// Texts held in the test, copied as they are.
struct HeldTexts : TextSource {
  void Copy(const void* text, char* to, uint64_t count) const override {
    std::copy_n(static_cast<const char*>(text), count, to);
  }
};

TEST(ReportFormat, LinesWrittenInPlaceAreTheAppendedLines) {
  // The usual shape (text, position right-aligned, text, string, text) is made from a template
  // at every field width, with positions of every number of digits, up to and past the field;
  // other formats walk their program.
  const char* formats[] = {"%3d | %*d | %s", "%1:*d|%s", "%2:7u%3:s.", "%2:d%s",
                           "ab%2:12d%3:s",   "%2:-8d%s", "%1:*.3d %s", "%3d %2:x %s"};
  const std::string texts[] = {"", "a", "some text of a line", std::string(70, 'z')};
  std::vector<int64_t> positions = {0};
  for (int64_t power = 1; power <= 1'000'000'000'000; power *= 10) {
    positions.push_back(power - 1);
    positions.push_back(power);
  }
  for (const char* format : formats) {
    const ReportFormat compiled(format);
    for (int32_t width = 0; width <= 13; ++width) {
      const auto in_place = compiled.InPlace(42, width);
      ASSERT_NE(in_place, nullptr) << format;
      std::vector<InPlaceLine> lines;
      std::string expected;
      uint64_t text_bytes = 0;
      for (int64_t position : positions) {
        for (const std::string& text : texts) {
          lines.push_back({position, text.size(), text.data()});
          text_bytes += text.size();
          LineBuffer line;
          compiled.Append(line, 42, width, position, text, "\r\n");
          expected += line.view();
        }
      }
      std::string got(in_place->Bound(lines.size(), text_bytes) + 2 * lines.size(), '#');
      const char* end = in_place->Write(got.data(), lines, "\r\n", HeldTexts());
      got.resize(static_cast<size_t>(end - got.data()));
      EXPECT_EQ(got, expected) << format << " width " << width;
    }
  }
}

}  // namespace
}  // namespace veskor
