// The decoded bytes of any range of a mapped file under a pair, handed on in blocks (the whole of
// a large file is never held in memory), and whether two pairs decode a range alike.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "engine/carve/byte_cipher.h"

namespace veskor {

inline constexpr size_t kDecodeBlockBytes = size_t{1} << 18;

// Decodes the bytes from `start` up to `end` (excluded) of the `size` bytes at `data`, each under
// the key of its own file offset, and hands them to `sink` in blocks of at most
// kDecodeBlockBytes, in order. A range past the file's end is cut there. Throws InputReadError
// when a read of the mapping faults, and whatever `sink` throws; blocks already handed on stay.
void DecodeRange(const uint8_t* data, uint64_t size, const ByteCipher& cipher, uint64_t start,
                 uint64_t end, const std::function<void(std::span<const uint8_t>)>& sink);

// True when `a` and `b` decode the bytes from `start` up to `end` (excluded, cut at the file's
// end) alike. Throws InputReadError when a read of the mapping faults.
bool DecodeAlike(const uint8_t* data, uint64_t size, const ByteCipher& a, const ByteCipher& b,
                 uint64_t start, uint64_t end);

}  // namespace veskor
