// The block decoder of XORK: 64 bytes a step with AVX2, 8 with plain words, the phase carried
// from step to step instead of a division per byte.
#include "engine/decoding/xor_key_stream.h"

#include <immintrin.h>

#include <cstring>

namespace veskor {
namespace {

bool HasAvx2() { return __builtin_cpu_supports("avx2"); }
bool vector_enabled = HasAvx2();

__attribute__((target("avx2"))) size_t DecodeVector(const uint8_t* stream, uint32_t n,
                                                    uint32_t& phase, const uint8_t* in,
                                                    uint8_t* out, size_t length) {
  const uint32_t step = 64 % n;
  size_t t = 0;
  for (; t + 64 <= length; t += 64) {
    const __m256i k0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(stream + phase));
    const __m256i k1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(stream + phase + 32));
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + t));
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + t + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + t), _mm256_xor_si256(b0, k0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + t + 32), _mm256_xor_si256(b1, k1));
    phase += step;
    if (phase >= n) phase -= n;
  }
  return t;
}

}  // namespace

XorKeyStream::XorKeyStream(const XorKey& key)
    : key_(key), size_(static_cast<uint32_t>(key.size())) {
  for (size_t j = 0; j < kStream; ++j) stream_[j] = key[j % size_];
}

void XorKeyStream::Decode(const uint8_t* in, uint64_t offset, uint8_t* out, size_t length) const {
  uint32_t phase = static_cast<uint32_t>(offset % size_);
  size_t t = 0;
  if (vector_enabled) t = DecodeVector(stream_, size_, phase, in, out, length);
  const uint32_t step = 8 % size_;
  for (; t + 8 <= length; t += 8) {
    uint64_t word, mask;
    std::memcpy(&word, in + t, 8);
    std::memcpy(&mask, stream_ + phase, 8);
    word ^= mask;
    std::memcpy(out + t, &word, 8);
    phase += step;
    if (phase >= size_) phase -= size_;
  }
  for (; t < length; ++t) {
    out[t] = in[t] ^ stream_[phase];
    if (++phase == size_) phase = 0;
  }
}

bool VectorXorKeyStreamEnabled() { return vector_enabled; }
void EnableVectorXorKeyStream(bool enabled) { vector_enabled = enabled && HasAvx2(); }

}  // namespace veskor
