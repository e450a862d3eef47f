// The pair set's pass. Members are rare in a file (a magic number's first two bytes under a row's
// keys), so each method tests a block of offsets at once and looks at single offsets only in a
// block where some may begin a member.
#include "engine/carve/byte_pair_set.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace veskor {
namespace {

bool HasAvx2() {
  __builtin_cpu_init();  // this may run during static initialisation, before libgcc's own
  return __builtin_cpu_supports("avx2");
}

const bool vector_enabled = HasAvx2();

constexpr size_t kWords = 1024;  // 65536 values, a bit each

// Of an 8-bit mask, bit k moved to bit 4k: the gather method's four masks of every fourth
// offset woven into one of 32 offsets.
constexpr std::array<uint32_t, 256> kSpread = [] {
  std::array<uint32_t, 256> spread{};
  for (uint32_t m = 0; m < 256; ++m) {
    for (uint32_t k = 0; k < 8; ++k) spread[m] |= (m >> k & 1) << (4 * k);
  }
  return spread;
}();

// Bit j: byte j of `bytes` is in the class whose tables are `t0` and `t1`.
__attribute__((target("avx2"))) inline uint32_t Members(__m256i bytes, __m256i t0, __m256i t1) {
  return ~static_cast<uint32_t>(_mm256_movemask_epi8(NotInClass(bytes, t0, t1)));
}

// Bit k: the value in dword k of `values` is a member of the bits at `words`.
__attribute__((target("avx2"))) inline uint32_t Looked(const int* words, __m256i values) {
  const __m256i word = _mm256_i32gather_epi32(words, _mm256_srli_epi32(values, 5), 4);
  const __m256i bit = _mm256_srlv_epi32(word, _mm256_and_si256(values, _mm256_set1_epi32(31)));
  return static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(bit, 31))));
}

}  // namespace

BytePairSet::BytePairSet() { Assign(std::vector<uint64_t>(kWords, 0)); }

void BytePairSet::Assign(const std::vector<uint64_t>& bits, Method method) {
  bits_ = bits;
  bits_.resize(kWords, 0);
  std::array<bool, 256> firsts{}, seconds{};
  size_t marked = 0;
  for (uint32_t v = 0; v < kWords * 64; ++v) {
    if (!Contains(v)) continue;
    ++marked;
    firsts[v & 0xFF] = true;
    seconds[v >> 8] = true;
  }
  sparse_ = marked <= kWords;
  firsts_ = ByteClass(firsts);
  seconds_ = ByteClass(seconds);
  if (method == Method::kAuto) {
    // Byte sets while at most one offset in 64 of bytes drawn at random passes both: beyond
    // that, the offsets looked at one by one cost more than a lookup of each.
    const auto count = [](const std::array<bool, 256>& set) {
      return static_cast<size_t>(std::count(set.begin(), set.end(), true));
    };
    method = count(firsts) * count(seconds) <= kWords ? Method::kByteSets : Method::kGather;
  }
  method_ = vector_enabled ? method : Method::kPortable;
}

size_t BytePairSet::Next(const uint8_t* data, uint64_t& from, uint64_t to, uint64_t* found) const {
  switch (method_) {
    case Method::kByteSets:
      return NextByteSets(data, from, to, found);
    case Method::kGather:
      return NextGather(data, from, to, found);
    case Method::kAuto:
    case Method::kPortable:
      break;
  }
  return NextPortable(data, from, to, found);
}

size_t BytePairSet::NextPortable(const uint8_t* data, uint64_t& from, uint64_t to,
                                 uint64_t* found) const {
  const uint64_t* const bits = bits_.data();
  size_t n = 0;
  uint64_t i = from;
  while (i < to && n == 0) {
    // Where few values are marked, eight offsets at a time while none of them is: one branch for
    // the lot.
    if (sparse_) {
      for (; i + 9 <= to; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        const uint64_t next = word >> 8 | uint64_t{data[i + 8]} << 56;
        uint64_t any = 0;
        for (int j = 0; j < 8; ++j) {
          const auto v =
              static_cast<uint32_t>((word >> (8 * j) & 0xFF) | (next >> (8 * j) & 0xFF) << 8);
          any |= bits[v >> 6] >> (v & 63);
        }
        if ((any & 1) != 0) break;
      }
    }
    const uint64_t stop = std::min(to, i + 8);
    for (; i < stop; ++i) {
      const uint32_t v = data[i] | uint32_t{data[i + 1]} << 8;
      if ((bits[v >> 6] >> (v & 63) & 1) != 0) found[n++] = i;
    }
  }
  from = i;
  return n;
}

__attribute__((target("avx2"))) size_t BytePairSet::NextByteSets(const uint8_t* data,
                                                                 uint64_t& from, uint64_t to,
                                                                 uint64_t* found) const {
  const __m256i first_low = LowNibbleTable(firsts_, 0), first_high = LowNibbleTable(firsts_, 1);
  const __m256i second_low = LowNibbleTable(seconds_, 0);
  const __m256i second_high = LowNibbleTable(seconds_, 1);
  size_t n = 0;
  uint64_t i = from;
  for (; i + 32 <= to && n == 0; i += 32) {
    const auto* p = reinterpret_cast<const __m256i*>(data + i);
    uint32_t mask = Members(_mm256_loadu_si256(p), first_low, first_high);
    if (mask == 0) continue;
    mask &= Members(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 1)), second_low,
                    second_high);
    // Both bytes are of some member, maybe not of one member together.
    for (; mask != 0; mask &= mask - 1) {
      const uint64_t at = i + static_cast<unsigned>(std::countr_zero(mask));
      if (Contains(data[at] | uint32_t{data[at + 1]} << 8)) found[n++] = at;
    }
  }
  from = i;
  return n != 0 ? n : NextPortable(data, from, to, found);
}

__attribute__((target("avx2"))) size_t BytePairSet::NextGather(const uint8_t* data, uint64_t& from,
                                                               uint64_t to, uint64_t* found) const {
  const int* const words = reinterpret_cast<const int*>(bits_.data());
  const __m256i low_half = _mm256_set1_epi32(0xFFFF);
  size_t n = 0;
  uint64_t i = from;
  for (; i + 32 <= to && n == 0; i += 32) {
    // Read as 16-bit values, the bytes from i hold the pairs of the even offsets, those from
    // i + 1 the odd ones; each half of a dword is every fourth offset.
    const __m256i even = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
    const __m256i odd = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 1));
    const uint32_t at0 = Looked(words, _mm256_and_si256(even, low_half));
    const uint32_t at1 = Looked(words, _mm256_and_si256(odd, low_half));
    const uint32_t at2 = Looked(words, _mm256_srli_epi32(even, 16));
    const uint32_t at3 = Looked(words, _mm256_srli_epi32(odd, 16));
    if ((at0 | at1 | at2 | at3) == 0) continue;
    uint32_t mask = kSpread[at0] | kSpread[at1] << 1 | kSpread[at2] << 2 | kSpread[at3] << 3;
    for (; mask != 0; mask &= mask - 1) {
      found[n++] = i + static_cast<unsigned>(std::countr_zero(mask));
    }
  }
  from = i;
  return n != 0 ? n : NextPortable(data, from, to, found);
}

}  // namespace veskor
