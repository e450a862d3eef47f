// String records against the same records built as documents by the JSON library, byte for byte:
// every byte value, names that need escapes or are not UTF-8, many scores, and long texts.
#include "cli/string_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <random>

#include "engine/score/key_summary.h"
#include "engine/score/text_score.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

// The record as the library writes it.
std::string Expected(const std::string& file, const std::string& algorithm, int32_t key,
                     int64_t position, std::string_view text) {
  nlohmann::ordered_json record;
  record["type"] = "string";
  bool utf8 = true;
  try {
    (void)nlohmann::json(file).dump();
  } catch (const nlohmann::json::exception&) {
    utf8 = false;
  }
  record["file"] = utf8 ? file : Cp1251ToUtf8(file);
  if (!utf8) {
    std::string hex;
    for (const char c : file) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02x", static_cast<uint8_t>(c));
      hex += digits;
    }
    record["file_hex"] = hex;
  }
  record["algo"] = Cp1251ToUtf8(algorithm);
  record["key"] = key;
  record["offset"] = position;
  record["length"] = text.size();
  record["text"] = Cp1251ToUtf8(text);
  record["score"] = std::stod(ScoreText(TextScore(text)));
  return record.dump() + "\n";
}

// The table's entry of a name.
TAlgorithm Named(const std::string& name) {
  FillAlgorithms();
  TAlgorithm algorithm;
  EXPECT_TRUE(FindAlgorithm(name, algorithm)) << name;
  return algorithm;
}

// A text handed over in pieces of `piece` bytes.
class PiecedText : public LongText {
 public:
  PiecedText(std::string text, size_t piece) : text_(std::move(text)), piece_(piece) {}
  uint64_t size() const override { return text_.size(); }
  void WriteTo(uint64_t count, ByteSink& sink) const override {
    for (uint64_t at = 0; at < count; at += piece_) {
      sink.Write(std::string_view(text_).substr(at, std::min<uint64_t>(piece_, count - at)));
    }
  }

 private:
  std::string text_;
  size_t piece_;
};

class Collect : public ByteSink {
 public:
  void Write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

TEST(StringRecords, AreTheLibrarysBytes) {
  std::string every_byte;
  for (int byte = 255; byte >= 0; --byte) every_byte += static_cast<char>(byte);
  std::vector<std::string> texts = {every_byte,     "Meet me at the old mill at noon",
                                    "1234567",      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
                                    "\"quoted\\\"", "\x7f\x98\xff"};
  // Printable noise of 1 to 40 bytes, as the wrong keys find: scores of every form, negative,
  // whole and with one or two decimals.
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    std::string text(1 + random() % 40, ' ');
    for (char& c : text) c = static_cast<char>(32 + random() % 95);
    texts.push_back(text);
  }
  struct Name {
    std::string file;
    std::string algorithm;
  };
  const Name names[] = {
      {"samples/a.bin", "XOR8"},
      {"d/\xD0\xB0 \"q\"\\\n\x01.bin", "XOR8ROL"},  // UTF-8 with escapes
      {"d/\xE0.bin", "ADD8W"},                      // not UTF-8: read as Windows-1251
  };
  for (const Name& name : names) {
    const auto records = StringRecords(name.file, Named(name.algorithm));
    int32_t key = 0;
    int64_t position = INT64_MAX - static_cast<int64_t>(texts.size());
    std::string expected;  // of every text under key 0x35A, for the records written in place
    std::vector<InPlaceLine> lines;
    uint64_t text_bytes = 0;
    for (const std::string& text : texts) {
      LineBuffer line;
      records->AppendLine(line, key, 9, position, text);
      ASSERT_EQ(line.view(), Expected(name.file, name.algorithm, key, position, text));
      expected += Expected(name.file, name.algorithm, 0x35A, position, text);
      lines.push_back({position, text.size(), text.data()});
      text_bytes += text.size();
      key = key == 0 ? 0x7FF : key - 1;
      ++position;
    }
    // In place, in one batch, from a source that copies the texts.
    class Copies : public TextSource {
     public:
      void Copy(const void* text, char* to, uint64_t count) const override {
        std::memcpy(to, text, count);
      }
    };
    const auto in_place = records->InPlace(0x35A, 9);
    ASSERT_NE(in_place, nullptr);
    const uint64_t bound = in_place->Bound(lines.size(), text_bytes);
    std::string written(bound, '\0');
    char* end = in_place->Write(written.data(), lines, Copies());
    ASSERT_LE(end - written.data(), static_cast<std::ptrdiff_t>(bound));
    written.resize(static_cast<size_t>(end - written.data()));
    EXPECT_TRUE(written == expected) << name.file;
  }
}

TEST(StringRecords, ALongTextInPiecesIsTheRecordOfTheWholeText) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "http://203.0.113.7/\t\"\xE0\xFF\x01 ";
  const auto records = StringRecords("f", Named("XOR8"));
  for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, size_t{100000}}) {
    Collect out;
    records->WriteLine(out, 90, 5, 123, PiecedText(text, piece));
    EXPECT_EQ(out.text, Expected("f", "XOR8", 90, 123, text)) << piece;
  }
}

TEST(StringRecords, AnXorkKeyIsTheTextOfItsBytes) {
  const TAlgorithm xork = Named("XORK");
  const XorKey first = XorKeyOfText("0x8C61D263", "");
  const TAlgorithm row = WithXorKeys(xork, {first, XorKeyOfText("41:42:43", "")});
  const auto records = StringRecords("f", row);
  for (const int key : {1, 2}) {
    LineBuffer line;
    records->AppendLine(line, key, 5, 7, "gate.php");
    Collect whole;
    records->WriteLine(whole, key, 5, 7, PiecedText("gate.php", 3));
    const auto record = nlohmann::json::parse(line.view());
    EXPECT_EQ(record["key"], key == 1 ? "0x8c61d263" : "0x414243");
    EXPECT_EQ(whole.text, line.view());
    EXPECT_EQ(record["text"], "gate.php");
  }
}

}  // namespace
}  // namespace veskor
