// A set of values of two adjacent stored bytes, and the pass that finds where a buffer holds one:
// 32 offsets at a time where the processor has AVX2, eight at a time elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/search/span_finder.h"

namespace veskor {

class BytePairSet {
 public:
  // How the pass tests 32 offsets at once. kByteSets: the first byte against the set of every
  // member's first byte, the second against that of the second bytes, each by a table of
  // nibbles, and only the offsets that pass both looked up: cheapest where few bytes begin a
  // member. kGather: every offset's two bytes looked up in the whole set, the same cost whatever
  // it holds. kPortable: eight offsets at a time without vector instructions. kAuto picks.
  enum class Method { kAuto, kPortable, kByteSets, kGather };

  // Most offsets one call of Next() writes.
  static constexpr size_t kMaxFound = 32;

  BytePairSet();
  // The set whose members are the values v (first byte | second byte << 8) whose bit v & 63 of
  // word v >> 6 of `bits` (1024 words) is set. A vector method the processor lacks is the
  // portable one.
  void Assign(const std::vector<uint64_t>& bits, Method method = Method::kAuto);

  bool Contains(uint32_t value) const { return (bits_[value >> 6] >> (value & 63) & 1) != 0; }
  Method method() const { return method_; }

  // Writes into `found`, in increasing order, the offsets i of [from, to) where
  // data[i] | data[i + 1] << 8 is a member, from the first that holds one, and moves `from`
  // past the offsets looked at: none written means none is left before `to`. Reads data[to].
  size_t Next(const uint8_t* data, uint64_t& from, uint64_t to, uint64_t* found) const;

 private:
  size_t NextPortable(const uint8_t* data, uint64_t& from, uint64_t to, uint64_t* found) const;
  size_t NextByteSets(const uint8_t* data, uint64_t& from, uint64_t to, uint64_t* found) const;
  size_t NextGather(const uint8_t* data, uint64_t& from, uint64_t to, uint64_t* found) const;

  std::vector<uint64_t> bits_;
  Method method_ = Method::kPortable;
  bool sparse_ = true;  // at most one value in 64 marked: the portable pass skips eight at a time
  // The first and second bytes of the members, as kByteSets tests them.
  ByteClass firsts_{std::array<bool, 256>{}}, seconds_{std::array<bool, 256>{}};
};

}  // namespace veskor
