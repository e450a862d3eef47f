// The decoders against their inverses, and the table lookup.
#include "engine/decoding/algorithms.h"

#include <gtest/gtest.h>

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
