// One pair of an algorithm and a key as a decoding of stored bytes at their file offsets: a byte
// map, a running key that moves with the offset, or a key of many bytes repeated from offset 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/decoding/algorithms.h"

namespace veskor {

// A value with no heap behind it, cheap to copy and safe to keep on a frame that a fault of the
// mapping may abandon.
class ByteCipher {
 public:
  static constexpr size_t kMaxKeyBytes = 32;

  // The bytes as they are stored.
  ByteCipher();
  // `algorithm` under `key`: a key of its range (r * 256 + x of a rotation family), of a running
  // key the key at offset 0. Every key of a wide algorithm decodes the bytes as its 8-bit twin.
  static ByteCipher ForKey(const TAlgorithm& algorithm, int key);
  // XOR with a key of 1 to kMaxKeyBytes bytes repeated from offset 0 of the file: the byte at
  // offset i is XORed with key[i mod n]. Longer keys are cut to kMaxKeyBytes.
  static ByteCipher ForKeyBytes(std::span<const uint8_t> key);
  // XOR with a key that is `key` at offset 0 and moves by `step` at each byte.
  static ByteCipher Running(int key, int step);

  // The decoded byte at `offset` of `data` (the file's bytes from offset 0).
  uint8_t At(const uint8_t* data, uint64_t offset) const { return Byte(data[offset], offset); }
  // What the byte `stored` decodes to at file offset `offset`.
  uint8_t Byte(uint8_t stored, uint64_t offset) const {
    const uint8_t b = table_[stored];
    switch (mode_) {
      case Mode::kMap:
        return b;
      case Mode::kRunning:
        return b ^ static_cast<uint8_t>(key_ + step_ * offset);
      case Mode::kRepeating:
        return b ^ repeat_[offset % period_];
    }
    return b;
  }
  // Decodes `count` stored bytes `stored`, the first of them at file offset `offset`.
  void Decode(const uint8_t* stored, uint64_t offset, uint8_t* out, size_t count) const;
  // True when every byte decodes as itself (NONE, or key 0 of XOR8).
  bool Identity() const;
  // The offsets after which the decoding repeats: 1 for a byte map, the key's length, 256 for a
  // running key.
  uint32_t Period() const {
    return mode_ == Mode::kMap ? 1 : mode_ == Mode::kRunning ? 256 : period_;
  }
  // The byte map of a cipher whose Period() is 1.
  const DecodeTable& Table() const { return table_; }

 private:
  enum class Mode : uint8_t { kMap, kRunning, kRepeating };
  Mode mode_ = Mode::kMap;
  DecodeTable table_{};  // applied first, at every offset
  uint8_t key_ = 0;      // running: the key at offset 0 ...
  uint8_t step_ = 0;     // ... and what each byte adds to it (255 for a key that falls)
  uint32_t period_ = 1;  // repeating: the key's length
  std::array<uint8_t, kMaxKeyBytes> repeat_{};
};

}  // namespace veskor
