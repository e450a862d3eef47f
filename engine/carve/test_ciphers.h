// Test and bench helper: every algorithm's encoding, written from its decoding rule alone (not
// from the engine's decoders), so that storing a file and decoding it again checks the engine.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace veskor::test {

inline uint8_t Ror(uint8_t v, int r) {
  r &= 7;
  return static_cast<uint8_t>(r == 0 ? v : (v >> r) | (v << (8 - r)));
}

// The stored byte that `algorithm` under `key` decodes to `plain` at file offset `offset`. The
// wide algorithms store their bytes as their 8-bit twins do.
inline uint8_t EncodeByte(std::string_view algorithm, int key, uint8_t plain, uint64_t offset) {
  const auto k = static_cast<uint8_t>(key);
  const int r = key >> 8;
  if (algorithm.size() > 1 && algorithm.back() == 'W') algorithm.remove_suffix(1);
  if (algorithm == "XOR8") return plain ^ k;
  if (algorithm == "ADD8") return static_cast<uint8_t>(plain - k);
  if (algorithm == "SUB8") return static_cast<uint8_t>(plain + k);
  if (algorithm == "NONE") return plain;
  if (algorithm == "XOR8ROL") return Ror(plain, r) ^ k;
  if (algorithm == "ADD8ROL") return static_cast<uint8_t>(Ror(plain, r) - k);
  if (algorithm == "ROL8ADD") return Ror(static_cast<uint8_t>(plain - k), r);
  if (algorithm == "XOR8N") return plain == 0 || plain == k ? plain : plain ^ k;
  if (algorithm == "XOR8INC") return plain ^ static_cast<uint8_t>(k + offset);
  if (algorithm == "XOR8DEC") return plain ^ static_cast<uint8_t>(k - offset);
  throw std::invalid_argument("no encoder for " + std::string(algorithm));
}

// `plain` stored from file offset `offset` on under `algorithm` and `key`.
inline std::string Encode(std::string_view algorithm, int key, std::string_view plain,
                          uint64_t offset) {
  std::string stored(plain.size(), '\0');
  for (size_t j = 0; j < plain.size(); ++j) {
    stored[j] =
        static_cast<char>(EncodeByte(algorithm, key, static_cast<uint8_t>(plain[j]), offset + j));
  }
  return stored;
}

// `plain` stored from file offset `offset` on under XOR with `key` repeated from offset 0.
inline std::string EncodeRepeating(const std::vector<uint8_t>& key, std::string_view plain,
                                   uint64_t offset) {
  std::string stored(plain);
  for (size_t j = 0; j < stored.size(); ++j) stored[j] ^= key[(offset + j) % key.size()];
  return stored;
}

}  // namespace veskor::test
