// The three ways a pair decodes: one table for every offset, XOR with a key that moves by its
// step at each byte, XOR with a key of many bytes that repeats.
#include "engine/carve/byte_cipher.h"

#include <algorithm>

namespace veskor {

ByteCipher::ByteCipher() {
  for (int b = 0; b < 256; ++b) table_[b] = static_cast<uint8_t>(b);
}

ByteCipher ByteCipher::ForKey(const TAlgorithm& algorithm, int key) {
  // A running key is XOR with the key at the byte's offset, as the search reads it.
  if (algorithm.Step != 0) return Running(key, algorithm.Step);
  // A place of an XORK row is its key's bytes.
  if (const XorKey* bytes = algorithm.XorKeyAt(key)) return ForKeyBytes(bytes->bytes());
  ByteCipher cipher;
  cipher.table_ = MakeDecodeTable(algorithm.Decode, key);
  return cipher;
}

ByteCipher ByteCipher::Running(int key, int step) {
  ByteCipher cipher;
  cipher.mode_ = Mode::kRunning;
  cipher.key_ = static_cast<uint8_t>(key);
  cipher.step_ = static_cast<uint8_t>(step);
  return cipher;
}

ByteCipher ByteCipher::ForKeyBytes(std::span<const uint8_t> key) {
  ByteCipher cipher;
  if (key.empty()) return cipher;
  cipher.mode_ = Mode::kRepeating;
  cipher.period_ = static_cast<uint32_t>(std::min(key.size(), kMaxKeyBytes));
  std::copy_n(key.begin(), cipher.period_, cipher.repeat_.begin());
  return cipher;
}

void ByteCipher::Decode(const uint8_t* stored, uint64_t offset, uint8_t* out, size_t count) const {
  switch (mode_) {
    case Mode::kMap:
      for (size_t j = 0; j < count; ++j) out[j] = table_[stored[j]];
      return;
    case Mode::kRunning: {
      auto key = static_cast<uint8_t>(key_ + step_ * offset);
      for (size_t j = 0; j < count; ++j, key = static_cast<uint8_t>(key + step_)) {
        out[j] = table_[stored[j]] ^ key;
      }
      return;
    }
    case Mode::kRepeating: {
      uint32_t phase = static_cast<uint32_t>(offset % period_);
      for (size_t j = 0; j < count; ++j) {
        out[j] = table_[stored[j]] ^ repeat_[phase];
        if (++phase == period_) phase = 0;
      }
      return;
    }
  }
}

bool ByteCipher::Identity() const {
  if (mode_ == Mode::kRunning) return false;
  for (int b = 0; b < 256; ++b) {
    if (table_[b] != b) return false;
  }
  return mode_ == Mode::kMap ||
         std::all_of(repeat_.begin(), repeat_.begin() + period_, [](uint8_t k) { return k == 0; });
}

}  // namespace veskor
