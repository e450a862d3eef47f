// Each block decoded under the mapping's guard, and handed on outside it.
#include "engine/carve/range_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/input/fault_guard.h"
#include "engine/search/scan_input.h"

namespace veskor {

void DecodeRange(const uint8_t* data, uint64_t size, const ByteCipher& cipher, uint64_t start,
                 uint64_t end, const std::function<void(std::span<const uint8_t>)>& sink) {
  end = std::min(end, size);
  if (start >= end) return;
  const auto block =
      std::make_unique<uint8_t[]>(std::min<uint64_t>(kDecodeBlockBytes, end - start));
  uint8_t* const out = block.get();
  for (uint64_t at = start; at < end;) {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(kDecodeBlockBytes, end - at));
    if (!ReadMapped([&] { cipher.Decode(data + at, at, out, count); })) throw InputReadError();
    sink(std::span<const uint8_t>(out, count));
    at += count;
  }
}

bool DecodeAlike(const uint8_t* data, uint64_t size, const ByteCipher& a, const ByteCipher& b,
                 uint64_t start, uint64_t end) {
  end = std::min(end, size);
  if (start >= end) return true;
  // Small blocks: the ciphers of two finds at one offset mostly differ early.
  constexpr size_t kBlock = size_t{1} << 14;
  const auto blocks = std::make_unique<uint8_t[]>(2 * kBlock);
  uint8_t* const out_a = blocks.get();
  uint8_t* const out_b = out_a + kBlock;
  for (uint64_t at = start; at < end;) {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(kBlock, end - at));
    if (!ReadMapped([&] {
          a.Decode(data + at, at, out_a, count);
          b.Decode(data + at, at, out_b, count);
        })) {
      throw InputReadError();
    }
    if (std::memcmp(out_a, out_b, count) != 0) return false;
    at += count;
  }
  return true;
}

}  // namespace veskor
