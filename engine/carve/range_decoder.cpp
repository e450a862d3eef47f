// Each block decoded under the mapping's guard, and handed on outside it.
#include "engine/carve/range_decoder.h"

#include <algorithm>
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

}  // namespace veskor
