// The pair set's pass under each method against a plain look at every offset: sets of few, many
// and all values, members at the ends of blocks and of the range, bytes that begin members
// without making one.
#include "engine/carve/byte_pair_set.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace veskor {
namespace {

using Method = BytePairSet::Method;

std::vector<uint64_t> Bits(const std::vector<uint32_t>& values) {
  std::vector<uint64_t> bits(1024, 0);
  for (const uint32_t v : values) bits[v >> 6] |= uint64_t{1} << (v & 63);
  return bits;
}

std::vector<uint64_t> Scanned(const BytePairSet& set, const std::vector<uint8_t>& data,
                              uint64_t from, uint64_t to) {
  std::vector<uint64_t> offsets;
  uint64_t found[BytePairSet::kMaxFound];
  while (from < to) {
    const size_t n = set.Next(data.data(), from, to, found);
    if (n == 0) break;
    EXPECT_LE(n, BytePairSet::kMaxFound);
    offsets.insert(offsets.end(), found, found + n);
  }
  return offsets;
}

std::vector<uint64_t> Plainly(const BytePairSet& set, const std::vector<uint8_t>& data,
                              uint64_t from, uint64_t to) {
  std::vector<uint64_t> offsets;
  for (uint64_t i = from; i < to; ++i) {
    if (set.Contains(data[i] | uint32_t{data[i + 1]} << 8)) offsets.push_back(i);
  }
  return offsets;
}

TEST(BytePairSetTest, EveryMethodFindsWhatALookAtEachOffsetFinds) {
  std::mt19937 rng(7);
  std::vector<uint32_t> many, dense, all;
  for (int k = 0; k < 300; ++k) many.push_back(rng() & 0xFFFF);
  for (int k = 0; k < 20000; ++k) dense.push_back(rng() & 0xFFFF);
  for (uint32_t v = 0; v < 65536; ++v) all.push_back(v);
  const struct {
    const char* name;
    std::vector<uint32_t> values;
  } sets[] = {
      {"none", {}},
      {"two magics", {'M' | 'Z' << 8, 0x7F | 'E' << 8}},
      // 'M' and 'E' each begin or end a member, "ME" is none.
      {"crossed", {'M' | 'Z' << 8, 'A' | 'E' << 8}},
      {"zeros and high bytes", {0x0000, 0xFFFF, 0x80FF, 0xFF80}},
      {"many", many},
      {"dense", dense},
      {"all", all},
  };
  // Random bytes, zeros, and text where the members' bytes are planted around block edges.
  std::vector<std::vector<uint8_t>> inputs(3);
  for (int k = 0; k < 4099; ++k) inputs[0].push_back(static_cast<uint8_t>(rng()));
  inputs[1].assign(1000, 0);
  inputs[2].assign(700, 'x');
  for (const uint64_t at : {0, 30, 31, 32, 63, 64, 95, 500, 697, 698}) {
    inputs[2][at] = 'M';
    inputs[2][at + 1] = (at & 1) != 0 ? 'Z' : 'E';
  }
  inputs[2][200] = 0x7F;
  inputs[2][201] = 'E';
  for (const auto& set : sets) {
    for (const Method method :
         {Method::kPortable, Method::kByteSets, Method::kGather, Method::kAuto}) {
      BytePairSet pairs;
      pairs.Assign(Bits(set.values), method);
      for (size_t d = 0; d < inputs.size(); ++d) {
        const std::vector<uint8_t>& data = inputs[d];
        for (const auto& [from, to] : {std::pair<uint64_t, uint64_t>{0, data.size() - 1},
                                       {3, data.size() - 1},
                                       {31, data.size() - 5},
                                       {40, 41},
                                       {64, 64}}) {
          SCOPED_TRACE(std::string(set.name) + ", method " +
                       std::to_string(static_cast<int>(method)) + ", input " + std::to_string(d) +
                       ", from " + std::to_string(from) + " to " + std::to_string(to));
          EXPECT_EQ(Scanned(pairs, data, from, to), Plainly(pairs, data, from, to));
        }
      }
    }
  }
}

TEST(BytePairSetTest, AutoTestsBytesOnlyWhereFewBeginAMember) {
  BytePairSet few, many;
  few.Assign(Bits({'M' | 'Z' << 8, 0x7F | 'E' << 8}));
  std::vector<uint32_t> values;
  for (uint32_t c = 0; c < 256; ++c) values.push_back(('M' ^ c) | ('Z' ^ c) << 8);
  many.Assign(Bits(values));
  if (few.method() == Method::kPortable) GTEST_SKIP() << "no AVX2 on this processor";
  EXPECT_EQ(few.method(), Method::kByteSets);
  EXPECT_EQ(many.method(), Method::kGather);
}

}  // namespace
}  // namespace veskor
