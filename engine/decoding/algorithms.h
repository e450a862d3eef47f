// The table of the eight algorithms: the four one-byte decoders, each read byte by byte and as
// wide text, under the names that rows and presets use.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace veskor {

using DecodeFunction = uint8_t (*)(uint8_t stored, uint8_t key);

// How a cipher's key acts on a byte, which the searches of all keys build on: XOR8 keeps b ^ b'
// of two stored bytes under every key, ADD8 and SUB8 keep b' - b, NONE ignores the key.
enum class CipherFamily { kXor, kAdd, kSub, kNone };

struct TAlgorithm {
  std::string Name;  // at most 255 bytes
  DecodeFunction Decode = nullptr;
  CipherFamily Family = CipherFamily::kNone;
  // Bytes per character: 1, or 2 for the wide algorithms, which read the decoded bytes as
  // UTF-16LE code units at every byte offset.
  int Width = 1;

  // True when every key decodes alike (NONE, NONEW): a row shows its strings under one key.
  bool Unkeyed() const { return Family == CipherFamily::kNone; }
};

// XOR8, ADD8, SUB8, NONE, then their wide twins XOR8W, ADD8W, SUB8W, NONEW, in this order, once
// FillAlgorithms has run.
extern std::array<TAlgorithm, 8> Algorithms;

void FillAlgorithms();

// Copies the first entry whose name equals `name` byte for byte into `slot` and returns true;
// leaves `slot` untouched and returns false when none does ("LOCAL" has no decoder).
bool FindAlgorithm(std::string_view name, TAlgorithm& slot);

// The decoded value of every stored byte under one key.
using DecodeTable = std::array<uint8_t, 256>;
DecodeTable MakeDecodeTable(DecodeFunction decode, uint8_t key);

}  // namespace veskor
