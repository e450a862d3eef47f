// XORK's decoding of stored bytes a block at a time: the key laid out as a stream that a vector
// of 32 bytes can be read from at any phase, so that a block costs one load and one XOR per
// 32 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/decoding/xor_key.h"

namespace veskor {

class XorKeyStream {
 public:
  explicit XorKeyStream(const XorKey& key);

  // out[t] = in[t] ^ K[(offset + t) mod n] for t < length: `in` holds the stored bytes from file
  // offset `offset`. `out` may be `in`. Touches nothing but PODs, so it can read a mapping
  // under the fault guard.
  void Decode(const uint8_t* in, uint64_t offset, uint8_t* out, size_t length) const;

  const XorKey& key() const { return key_; }

 private:
  static constexpr size_t kStream = XorKey::kMaxSize + 64;

  XorKey key_;
  uint32_t size_;
  // K repeated from K[0]: every 64 bytes from a phase below n lie inside it.
  alignas(64) uint8_t stream_[kStream];
};

// Whether Decode uses AVX2 where the processor has it; tests turn it off to check the word loop.
bool VectorXorKeyStreamEnabled();
void EnableVectorXorKeyStream(bool enabled);

}  // namespace veskor
