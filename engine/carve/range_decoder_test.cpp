// Every algorithm's bytes stored by the tests' own encoders and decoded again, over ranges that
// cross the decoder's blocks and begin at any phase of a running or repeating key.
#include "engine/carve/range_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/carve/test_ciphers.h"
#include "engine/decoding/algorithms.h"

namespace veskor {
namespace {

std::string Plain(size_t size, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string plain(size, '\0');
  for (char& c : plain) c = static_cast<char>(rng() % 5 == 0 ? 0 : rng());
  return plain;
}

// The decoded bytes of [start, end) of `stored`, checking that blocks come in order and that
// At() agrees with them.
std::string Decoded(const std::string& stored, const ByteCipher& cipher, uint64_t start,
                    uint64_t end) {
  const auto* data = reinterpret_cast<const uint8_t*>(stored.data());
  std::string out;
  DecodeRange(data, stored.size(), cipher, start, end, [&](std::span<const uint8_t> block) {
    EXPECT_LE(block.size(), kDecodeBlockBytes);
    for (size_t j = 0; j < block.size(); j += 997) {
      EXPECT_EQ(block[j], cipher.At(data, start + out.size() + j));
    }
    out.append(reinterpret_cast<const char*>(block.data()), block.size());
  });
  return out;
}

TEST(RangeDecoder, EveryAlgorithmRoundTripsFromAnyOffset) {
  FillAlgorithms();
  // Longer than a block, so that the second block begins at an offset that no key period
  // divides.
  const std::string plain = Plain(kDecodeBlockBytes + 4099, 7);
  const uint64_t inner_end = plain.size() - 1000;
  for (const TAlgorithm& algorithm : Algorithms) {
    // XORK's keys are bytes of a row's own (the test below).
    if (algorithm.Repeating) continue;
    const int keys[] = {algorithm.FirstKey, (algorithm.FirstKey + algorithm.LastKey) / 2 | 1,
                        algorithm.LastKey};
    for (const int key : keys) {
      for (const uint64_t offset : {uint64_t{0}, uint64_t{1}, uint64_t{70001}}) {
        SCOPED_TRACE(algorithm.Name + " " + std::to_string(key) + " @" + std::to_string(offset));
        const std::string stored =
            std::string(offset, 'x') + test::Encode(algorithm.Name, key, plain, offset);
        const ByteCipher cipher = ByteCipher::ForKey(algorithm, key);
        ASSERT_EQ(Decoded(stored, cipher, offset, stored.size()), plain);
        // A range inside: the bytes keep the keys of their own offsets.
        ASSERT_EQ(Decoded(stored, cipher, offset + 12345, offset + inner_end),
                  plain.substr(12345, inner_end - 12345));
      }
    }
  }
}

TEST(RangeDecoder, KeysOfManyBytesRoundTripAtEveryPhase) {
  const std::string plain = Plain(kDecodeBlockBytes + 77, 3);
  for (const std::vector<uint8_t>& key :
       {std::vector<uint8_t>{0x8C, 0x61}, std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7},
        std::vector<uint8_t>(32, 0xA5)}) {
    for (const uint64_t offset : {uint64_t{0}, uint64_t{5}, uint64_t{31}}) {
      const std::string stored =
          std::string(offset, '\0') + test::EncodeRepeating(key, plain, offset);
      EXPECT_EQ(Decoded(stored, ByteCipher::ForKeyBytes(key), offset, stored.size()), plain)
          << key.size() << " bytes @" << offset;
    }
  }
}

TEST(RangeDecoder, RangesAreCutAtTheFileEnd) {
  const std::string stored = "abcdef";
  const ByteCipher none;
  struct Case {
    uint64_t start, end;
    const char* expected;
  } cases[] = {{0, 6, "abcdef"}, {2, 100, "cdef"}, {4, 2, ""}, {6, 9, ""}, {9, 12, ""}};
  for (const Case& c : cases) {
    EXPECT_EQ(Decoded(stored, none, c.start, c.end), c.expected) << c.start << ":" << c.end;
  }
}

TEST(RangeDecoder, TwoPairsDecodeARangeAlikeOrNot) {
  FillAlgorithms();
  TAlgorithm xor8, xor8n, add8, sub8;
  ASSERT_TRUE(FindAlgorithm("XOR8", xor8) && FindAlgorithm("XOR8N", xor8n) &&
              FindAlgorithm("ADD8", add8) && FindAlgorithm("SUB8", sub8));
  // XOR8N 90 leaves 0 and 90 as they are, XOR8 90 does not: only the byte at `odd` tells them
  // apart, past the first of the comparison's blocks.
  const uint64_t odd = 40000;
  std::string stored(50000, 'x');
  stored[odd] = 90;
  const auto* data = reinterpret_cast<const uint8_t*>(stored.data());
  struct Case {
    ByteCipher a, b;
    uint64_t start, end;
    bool alike;
  } cases[] = {
      {ByteCipher::ForKey(add8, 16), ByteCipher::ForKey(sub8, 240), 0, 50000, true},
      {ByteCipher::ForKey(xor8, 0), ByteCipher(), 3, 50000, true},
      {ByteCipher::ForKey(xor8, 1), ByteCipher::ForKey(xor8, 2), 0, 50000, false},
      {ByteCipher::ForKey(xor8, 90), ByteCipher::ForKey(xor8n, 90), 0, 50000, false},
      {ByteCipher::ForKey(xor8, 90), ByteCipher::ForKey(xor8n, 90), odd, odd + 1, false},
      {ByteCipher::ForKey(xor8, 90), ByteCipher::ForKey(xor8n, 90), 0, odd, true},
      {ByteCipher::ForKey(xor8, 90), ByteCipher::ForKey(xor8n, 90), odd + 1, 90000, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(DecodeAlike(data, stored.size(), c.a, c.b, c.start, c.end), c.alike) << i;
  }
}

TEST(ByteCipher, IdentityAndPeriod) {
  FillAlgorithms();
  TAlgorithm xor8, rol, inc;
  ASSERT_TRUE(FindAlgorithm("XOR8", xor8) && FindAlgorithm("XOR8ROL", rol) &&
              FindAlgorithm("XOR8INC", inc));
  struct Case {
    ByteCipher cipher;
    bool identity;
    uint32_t period;
  } cases[] = {{ByteCipher(), true, 1},
               {ByteCipher::ForKey(xor8, 0), true, 1},
               {ByteCipher::ForKey(xor8, 1), false, 1},
               {ByteCipher::ForKey(rol, 0x100), false, 1},
               {ByteCipher::ForKey(inc, 0), false, 256},
               {ByteCipher::ForKeyBytes(std::vector<uint8_t>{0, 0, 0}), true, 3},
               {ByteCipher::ForKeyBytes(std::vector<uint8_t>{0, 1}), false, 2}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].cipher.Identity(), cases[i].identity) << i;
    EXPECT_EQ(cases[i].cipher.Period(), cases[i].period) << i;
  }
}

}  // namespace
}  // namespace veskor
