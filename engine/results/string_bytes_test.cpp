// A string read again for a closer look: its whole text under each kind of cipher, the lines of
// bytes around it near the file's ends and in its middle, their layout, and a changed file.
#include "engine/results/string_bytes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace veskor {
namespace {

const std::string kPlain = "http://example.org/a?b=1\tc";  // 26 characters

std::string TempPath(const char* name) {
  // CTest runs the tests side by side: each has a file of its own.
  return ::testing::TempDir() + "string_bytes_" + name + "_" + std::to_string(::getpid());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The starter preset's alphabet: tab and the printable ASCII characters.
std::string Printable() {
  std::string alphabet = "\t";
  for (int c = 0x20; c < 0x7F; ++c) alphabet.push_back(static_cast<char>(c));
  return alphabet;
}

RunSearch SearchOf(const std::string& path, const char* algorithm,
                   const std::string& alphabet = Printable()) {
  FillAlgorithms();
  RunSearch search;
  search.input = path;
  search.stamp = StampOf(path);
  EXPECT_TRUE(FindAlgorithm(algorithm, search.algorithm)) << algorithm;
  search.fields = {alphabet, "", 7, 0};
  search.format = "%3d | %*d | %s";
  search.width = DecimalWidth(search.stamp.size);
  return search;
}

// The text columns of the string's own bytes, line after line.
std::string MarkedText(const std::vector<ByteLine>& lines) {
  std::string text;
  for (const ByteLine& line : lines) {
    if (!line.marks.empty()) text += line.text.substr(line.marks[1].first, line.marks[1].second);
  }
  return text;
}

TEST(StringBytes, TheStringAndTheBytesAroundItUnderEachCipher) {
  struct Case {
    const char* name;
    const char* algorithm;
    int key;
    uint64_t size;
    uint64_t position;
    uint64_t from, to;   // the stored bytes the lines show
    std::string marked;  // the decoded text of the string's bytes
  } cases[] = {
      // Fewer than 256 bytes before: the lines begin with the file.
      {"near the start", "XOR8", 0x5A, 4100, 100, 0, 384, "http://example.org/a?b=1.c"},
      {"in the middle", "ADD8", 0x17, 4100, 1000, 736, 1296, "http://example.org/a?b=1.c"},
      // A running key, whose bytes decode by their offset; the last line is short.
      {"near the end", "XOR8INC", 0x40, 4100, 4064, 3808, 4100, "http://example.org/a?b=1.c"},
      // Wide text at an odd offset spans twice its length, its bytes decoded one by one.
      {"wide", "XOR8W", 0x33, 4100, 2001, 1744, 2320,
       "h.t.t.p.:././.e.x.a.m.p.l.e...o.r.g./.a.?.b.=.1...c."},
  };
  const std::string path = TempPath("ciphers");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 random(7);
    std::string stored(c.size, '\0');
    for (char& byte : stored) byte = static_cast<char>(random());
    const bool wide = std::string(c.algorithm) == "XOR8W";
    for (size_t i = 0; i < kPlain.size(); ++i) {
      const auto plain = static_cast<uint8_t>(kPlain[i]);
      const uint64_t at = c.position + i;
      if (std::string(c.algorithm) == "XOR8") stored[at] = static_cast<char>(plain ^ c.key);
      if (std::string(c.algorithm) == "ADD8") stored[at] = static_cast<char>(plain - c.key);
      if (std::string(c.algorithm) == "XOR8INC") {
        stored[at] = static_cast<char>(plain ^ static_cast<uint8_t>(c.key + at));
      }
      if (wide) {
        stored[c.position + 2 * i] = static_cast<char>(plain ^ c.key);
        stored[c.position + 2 * i + 1] = static_cast<char>(c.key);
      }
    }
    WriteFile(path, stored);
    StringBytes bytes(SearchOf(path, c.algorithm), c.key);
    ASSERT_EQ(bytes.Open(), StringBytes::Status::kReady);

    EXPECT_EQ(bytes.Text(c.position, kPlain.size(), 1000), kPlain);
    EXPECT_EQ(bytes.Text(c.position, kPlain.size(), 4), kPlain.substr(0, 4));

    const std::vector<ByteLine> lines = bytes.Lines(c.position, kPlain.size());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().offset, c.from);
    EXPECT_EQ(lines.back().offset + static_cast<uint64_t>(lines.back().bytes), c.to);
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].offset, c.from + i * StringBytes::kLineBytes) << i;
      if (i + 1 < lines.size()) {
        EXPECT_EQ(lines[i].bytes, StringBytes::kLineBytes) << i;
      }
      // The stored bytes in hex after the offset.
      const uint64_t first = lines[i].offset;
      char hex[8];
      std::snprintf(hex, sizeof hex, "%02X %02X", static_cast<uint8_t>(stored[first]),
                    static_cast<uint8_t>(stored[first + 1]));
      EXPECT_EQ(lines[i].text.substr(10, 5), hex) << i;
    }
    EXPECT_EQ(MarkedText(lines), c.marked);
  }
  std::remove(path.c_str());
}

TEST(StringBytes, ABytesTextShowsOnlyWhenTheRowsAlphabetHoldsIt) {
  // "Hi" and four Windows-1251 letters as they are: noise of bytes 0x80 to 0xFF reads as words
  // of another script unless the row's alphabet holds them.
  const std::string stored = "Hi\xC0\xE1\xF2\xFF!";
  const std::string path = TempPath("alphabet");
  WriteFile(path, stored);
  std::string cyrillic = Printable();
  for (int c = 0xC0; c <= 0xFF; ++c) cyrillic.push_back(static_cast<char>(c));
  const struct {
    std::string alphabet;
    std::string text;
  } cases[] = {{Printable(), "Hi....!"}, {cyrillic, stored}, {"HI", "H......"}};
  for (const auto& c : cases) {
    StringBytes bytes(SearchOf(path, "NONE", c.alphabet), 1);
    ASSERT_EQ(bytes.Open(), StringBytes::Status::kReady);
    const std::vector<ByteLine> lines = bytes.Lines(0, 2);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text.substr(lines[0].marks[1].first), c.text) << c.alphabet;
  }
  std::remove(path.c_str());
}

TEST(StringBytes, ALineIsItsOffsetItsBytesInHexAndTheirText) {
  // Bytes 0 to 0x3F as they are: a string's marks cover its bytes and their characters, over
  // the gap after a line's eighth byte and from one line to the next.
  std::string stored;
  for (int b = 0; b < 0x40; ++b) stored.push_back(static_cast<char>(b));
  const std::string path = TempPath("layout");
  WriteFile(path, stored);
  StringBytes bytes(SearchOf(path, "NONE"), 1);
  ASSERT_EQ(bytes.Open(), StringBytes::Status::kReady);
  const std::vector<ByteLine> lines = bytes.Lines(0x24, 4);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2].text,
            "00000020  20 21 22 23 24 25 26 27  28 29 2A 2B 2C 2D 2E 2F   !\"#$%&'()*+,-./");
  EXPECT_EQ(lines[0].text.substr(60), "................");

  struct Mark {
    uint64_t position;
    uint64_t length;
    size_t line;
    std::string hex, text;
  } marks[] = {
      {0x24, 4, 2, "24 25 26 27", "$%&'"},
      {0x26, 4, 2, "26 27  28 29", "&'()"},
      {0x1E, 4, 1, "1E 1F", ".."},
      {0x1E, 4, 2, "20 21", " !"},
      {0x30, 16, 3, "30 31 32 33 34 35 36 37  38 39 3A 3B 3C 3D 3E 3F", "0123456789:;<=>?"},
  };
  for (const Mark& m : marks) {
    SCOPED_TRACE(m.hex);
    const std::vector<ByteLine> around = bytes.Lines(m.position, m.length);
    ASSERT_LT(m.line, around.size());
    const ByteLine& line = around[m.line];
    ASSERT_EQ(line.marks.size(), 2u);
    EXPECT_EQ(line.text.substr(line.marks[0].first, line.marks[0].second), m.hex);
    EXPECT_EQ(line.text.substr(line.marks[1].first, line.marks[1].second), m.text);
  }
  // Lines without the string's bytes carry no marks.
  EXPECT_TRUE(bytes.Lines(0x24, 4)[0].marks.empty());
  std::remove(path.c_str());
}

TEST(StringBytes, OnlyTheFileTheRunReadIsShown) {
  const std::string path = TempPath("changed");
  WriteFile(path, "abcdefghijklmnop");
  const RunSearch search = SearchOf(path, "XOR8");
  WriteFile(path, "abcdefghijklmnopq");
  EXPECT_EQ(StringBytes(search, 1).Open(), StringBytes::Status::kChanged);
  std::remove(path.c_str());
  EXPECT_EQ(StringBytes(search, 1).Open(), StringBytes::Status::kCannotRead);
}

}  // namespace
}  // namespace veskor
