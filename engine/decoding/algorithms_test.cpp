// The decoders against their inverses, and the table lookup.
#include "engine/decoding/algorithms.h"

#include <gtest/gtest.h>

#include <string>

#include "text/error.h"

namespace veskor {
namespace {

struct XorCase {
  static constexpr const char* kName = "XOR8";
  static uint8_t Encode(uint8_t c, uint8_t k) { return c ^ k; }
};
struct AddCase {
  static constexpr const char* kName = "ADD8";
  static uint8_t Encode(uint8_t c, uint8_t k) { return static_cast<uint8_t>(c - k); }
};
struct SubCase {
  static constexpr const char* kName = "SUB8";
  static uint8_t Encode(uint8_t c, uint8_t k) { return static_cast<uint8_t>(c + k); }
};
struct NoneCase {
  static constexpr const char* kName = "NONE";
  static uint8_t Encode(uint8_t c, uint8_t) { return c; }
};

template <class T>
class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { FillAlgorithms(); }
};
using Decoders = ::testing::Types<XorCase, AddCase, SubCase, NoneCase>;
TYPED_TEST_SUITE(DecoderTest, Decoders);

TYPED_TEST(DecoderTest, EveryByteUnderEveryKeyDecodesItsEncoding) {
  TAlgorithm algorithm;
  ASSERT_TRUE(FindAlgorithm(TypeParam::kName, algorithm));
  EXPECT_EQ(algorithm.Name, TypeParam::kName);
  for (int k = 0; k < 256; ++k) {
    for (int c = 0; c < 256; ++c) {
      const auto key = static_cast<uint8_t>(k), plain = static_cast<uint8_t>(c);
      ASSERT_EQ(algorithm.Decode(TypeParam::Encode(plain, key), key), plain) << k << " " << c;
    }
  }
}

TYPED_TEST(DecoderTest, KeyZeroLeavesEveryByteUnchanged) {
  TAlgorithm algorithm;
  ASSERT_TRUE(FindAlgorithm(TypeParam::kName, algorithm));
  for (int b = 0; b < 256; ++b) EXPECT_EQ(algorithm.Decode(static_cast<uint8_t>(b), 0), b);
}

TEST(Decoders, TableOrderAndWrapping) {
  FillAlgorithms();
  const char* names[] = {"XOR8", "ADD8", "SUB8", "NONE", "XOR8W", "ADD8W", "SUB8W", "NONEW"};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(Algorithms[i].Name, names[i]);
    EXPECT_EQ(Algorithms[i].Width, i < 4 ? 1 : 2);
    // A wide algorithm decodes every byte as its 8-bit twin.
    if (i >= 4) {
      EXPECT_EQ(Algorithms[i].Decode, Algorithms[i - 4].Decode);
    }
  }
  EXPECT_EQ(Algorithms[1].Decode(0xFF, 1), 0x00);
  EXPECT_EQ(Algorithms[2].Decode(0x00, 1), 0xFF);
  EXPECT_EQ(Algorithms[3].Decode(0x41, 0x99), 0x41);
}

TEST(Decoders, NewCiphersDecodeByTheirFormulas) {
  FillAlgorithms();
  struct Case {
    const char* name;
    uint8_t stored;
    int key;
    uint8_t decoded;
  } cases[] = {
      {"XOR8ROL", 0x12, 0x35A, 0x42},                                 // rol(0x12 ^ 0x5A = 0x48, 3)
      {"XOR8ROL", 0x81, 0x100, 0x03},                                 // rotation alone
      {"ADD8ROL", 0xFF, 0x202, 0x04},                                 // rol(0x01, 2)
      {"ROL8ADD", 0x81, 0x1FF, 0x02},                                 // rol(0x81, 1) = 0x03, + 0xFF
      {"XOR8N", 0x00, 0x41, 0x00},                                    // zero stays
      {"XOR8N", 0x41, 0x41, 0x41},                                    // the key's own byte stays
      {"XOR8N", 0x20, 0x41, 0x61},    {"XOR8INC", 0x61, 0x20, 0x41},  // the key at offset 0
  };
  for (const Case& c : cases) {
    TAlgorithm slot;
    ASSERT_TRUE(FindAlgorithm(c.name, slot)) << c.name;
    EXPECT_EQ(slot.Decode(c.stored, c.key), c.decoded) << c.name << " " << c.key;
  }
  TAlgorithm inc, dec;
  ASSERT_TRUE(FindAlgorithm("XOR8INC", inc) && FindAlgorithm("XOR8DEC", dec));
  EXPECT_EQ(inc.Step, 1);
  EXPECT_EQ(dec.Step, -1);
}

TEST(Decoders, KeyTextsWithinEachAlgorithmsRange) {
  FillAlgorithms();
  TAlgorithm xor8, rotation;
  ASSERT_TRUE(FindAlgorithm("XOR8", xor8) && FindAlgorithm("XOR8ROL", rotation));
  EXPECT_EQ(KeyOfText(xor8, "-1", "-1"), 255);
  EXPECT_EQ(KeyOfText(xor8, "0x35A", "0x35A"), 0x5A);
  EXPECT_EQ(KeyOfText(rotation, "0x35A", "0x35A"), 0x35A);
  EXPECT_EQ(KeyOfText(rotation, "$7FF", "$7FF"), 0x7FF);
  // The text as typed is quoted whole, also when it holds a placeholder of its own.
  const char* const cases[][2] = {
      {"0xFF", "0xFF"}, {"0x800", "0x800"}, {"-1", "-1"}, {"2048", "%s"}};
  for (const auto& [text, shown] : cases) {
    try {
      KeyOfText(rotation, text, shown);
      ADD_FAILURE() << text;
    } catch (const ConversionError& e) {
      EXPECT_EQ(e.what(),
                "'" + std::string(shown) + "' is not a valid XOR8ROL key (0x100 to 0x7FF)");
    }
  }
}

TEST(Decoders, FindAlgorithmMatchesExactNamesOnly) {
  FillAlgorithms();
  TAlgorithm slot;
  slot.Name = "untouched";
  for (const char* name : {"xor8", "Sub8", " SUB8", "SUB8 ", "LOCAL", "", "SUB"}) {
    EXPECT_FALSE(FindAlgorithm(name, slot)) << name;
    EXPECT_EQ(slot.Name, "untouched");
    EXPECT_EQ(slot.Decode, nullptr);
  }
  EXPECT_TRUE(FindAlgorithm("SUB8", slot));
  EXPECT_EQ(slot.Name, "SUB8");
  EXPECT_EQ(slot.Decode, Algorithms[2].Decode);
}

TEST(Decoders, DecodeTableHoldsEveryValue) {
  FillAlgorithms();
  const DecodeTable table = MakeDecodeTable(Algorithms[1].Decode, 3);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(table[b], static_cast<uint8_t>(b + 3));
}

}  // namespace
}  // namespace veskor
