// XORK's key texts, periods and turns, and the block decoder against the byte-by-byte formula.
#include "engine/decoding/xor_key.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/decoding/xor_key_stream.h"
#include "text/error.h"

namespace veskor {
namespace {

std::string Hex32() {
  std::string text = "0x";
  for (int i = 0; i < 32; ++i) text += i % 2 ? "C5" : "0a";
  return text;
}

TEST(XorKeyText, ReadsHexAndColonsAtTheirShortestPeriod) {
  const struct {
    std::string text, key;
  } cases[] = {
      {"0x8C61D263", "0x8c61d263"},
      {"0X8c61d263", "0x8c61d263"},
      {"8c:61:D2:63", "0x8c61d263"},
      {"  0x8c61 ", "0x8c61"},
      {"0x0001", "0x0001"},               // two bytes, the shortest
      {"0x41424142", "0x4142"},           // a key that repeats a shorter one
      {"41:42:43:41:42:43", "0x414243"},  // the same with colons, period 3
      {"0x414241", "0x414241"},           // A B A read round is not periodic
      {Hex32(), "0x0ac5"},                // 32 bytes of period 2
      {"0x" + std::string(62, '7') + "01", "0x" + std::string(62, '7') + "01"},  // 32 bytes
  };
  for (const auto& c : cases) EXPECT_EQ(XorKeyOfText(c.text, c.text).Text(), c.key) << c.text;
}

TEST(XorKeyText, RefusesBadTextsAndOneByteKeys) {
  const std::string bad = "' is not a valid XORK key (2 to 32 bytes: 0x8c61d263 or 8c:61:d2:63)";
  const std::string one = "' is a key of one byte: use XOR8";
  const struct {
    std::string text;
    const std::string& message;
  } cases[] = {
      {"", bad},      {"0x", bad},           {"0x123", bad},      {"0xg1", bad},
      {"8c61", bad},  {"8c:61:", bad},       {":8c:61", bad},     {"8c::61", bad},
      {"8c-61", bad}, {"8c:6:d2", bad},      {"0x 8c61", bad},    {"-0x8c61", bad},
      {"12345", bad}, {Hex32() + "00", bad},  // 33 bytes
      {"0x41", one},  {"41", one},           {"0x41414141", one}, {"ff:ff:ff", one},
  };
  for (const auto& c : cases) {
    try {
      XorKeyOfText(c.text, c.text);
      ADD_FAILURE() << c.text;
    } catch (const ConversionError& e) {
      EXPECT_EQ(e.what(), "'" + c.text + c.message) << c.text;
    }
  }
}

// A payload encoded from its own first byte at offset p is decoded, aligned to the file, by the
// key turned to p; every offset of the stream follows K[i mod n].
TEST(XorKeyTurn, TurnedKeyDecodesAPayloadAtAnyOffset) {
  std::mt19937_64 rng(7);
  for (size_t n = 2; n <= 32; ++n) {
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    bytes[0] ^= bytes[1] == bytes[0];  // never one byte repeated
    const std::optional<XorKey> key = XorKey::Of(bytes);
    ASSERT_TRUE(key.has_value());
    for (uint64_t p : {uint64_t{0}, uint64_t{1}, uint64_t{n - 1}, uint64_t{n}, rng() % 100000,
                       (uint64_t{1} << 40) + 3}) {
      const XorKey turned = key->TurnedTo(p);
      for (uint64_t t = 0; t < 3 * n; ++t) {
        ASSERT_EQ(turned.At(p + t), bytes[t % key->size()]) << n << " " << p << " " << t;
      }
    }
    EXPECT_EQ(key->TurnedTo(key->size()), *key);
  }
}

TEST(XorKeyStream, BlocksDecodeAsTheFormulaAtEveryPhaseAndLength) {
  std::mt19937_64 rng(11);
  std::vector<uint8_t> stored(700), out(700);
  for (uint8_t& b : stored) b = static_cast<uint8_t>(rng());
  for (bool vector : {true, false}) {
    EnableVectorXorKeyStream(vector);
    for (size_t n = 2; n <= 32; ++n) {
      std::vector<uint8_t> bytes(n);
      for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + n);
      const XorKey key = *XorKey::Of(bytes);
      const XorKeyStream stream(key);
      for (int round = 0; round < 20; ++round) {
        const size_t length = rng() % 300, from = rng() % 64;
        const uint64_t offset = rng() % 5000;
        stream.Decode(stored.data() + from, offset, out.data(), length);
        for (size_t t = 0; t < length; ++t) {
          ASSERT_EQ(out[t], stored[from + t] ^ key.At(offset + t))
              << vector << " n " << n << " offset " << offset << " t " << t;
        }
        // In place.
        std::vector<uint8_t> same(stored.begin() + from, stored.begin() + from + length);
        stream.Decode(same.data(), offset, same.data(), length);
        ASSERT_TRUE(std::equal(same.begin(), same.end(), out.begin()));
      }
    }
  }
  EnableVectorXorKeyStream(true);
}

}  // namespace
}  // namespace veskor
