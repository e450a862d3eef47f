// The table of the algorithms: the four one-byte decoders, each read byte by byte and as wide
// text, then the rotation families, XOR that keeps zero bytes, XOR with a running key and XOR
// with a repeating key of many bytes, under the names that rows and presets use.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/decoding/xor_key.h"

namespace veskor {

// The decoded value of a stored byte under a key as a row writes it: one byte for most
// algorithms, r * 256 + x for the rotation families. A running key gives the key at offset 0.
using DecodeFunction = uint8_t (*)(uint8_t stored, int key);

// How a cipher's key acts on a byte, which the searches of all keys build on: XOR8 keeps b ^ b'
// of two stored bytes under every key, ADD8 and SUB8 keep b' - b, NONE ignores the key. Any
// other byte map (kMap) is searched through its sets of keys per byte value alone.
enum class CipherFamily { kXor, kAdd, kSub, kNone, kMap };

struct TAlgorithm {
  std::string Name;  // at most 255 bytes
  DecodeFunction Decode = nullptr;
  CipherFamily Family = CipherFamily::kNone;
  // Bytes per character: 1, or 2 for the wide algorithms, which read the decoded bytes as
  // UTF-16LE code units at every byte offset.
  int Width = 1;
  // The keys a row with an empty key tries, in this order.
  int FirstKey = 1;
  int LastKey = 255;
  // True when a key text gives its low 8 bits (the one-byte keys); else the key must lie
  // between FirstKey and LastKey.
  bool ByteKey = true;
  // A running key: the byte at offset i is decoded under Decode's key + Step * i (mod 256).
  int Step = 0;
  // XOR with a repeating key of many bytes (XORK): the byte at offset i is b ^ K[i mod n]. A
  // row's keys are then places 1 to N, the key of place p held in XorKeys[p - 1] (the keys the
  // file gave away, best first, or the one key typed); the table's own entry has none.
  bool Repeating = false;
  std::shared_ptr<const std::vector<XorKey>> XorKeys;

  // True when every key decodes alike (NONE, NONEW): a row shows its strings under one key.
  bool Unkeyed() const { return Family == CipherFamily::kNone; }
  int KeyCount() const { return LastKey - FirstKey + 1; }
  // The key bytes of a place of a repeating key's row; null for any other key or algorithm.
  const XorKey* XorKeyAt(int key) const {
    if (!XorKeys || key < 1 || key > static_cast<int>(XorKeys->size())) return nullptr;
    return &(*XorKeys)[static_cast<size_t>(key - 1)];
  }
};

inline constexpr size_t kAlgorithmCount = 15;

// XOR8, ADD8, SUB8, NONE, then their wide twins XOR8W, ADD8W, SUB8W, NONEW, then XOR8ROL,
// ADD8ROL, ROL8ADD, XOR8N, XOR8INC, XOR8DEC, XORK, in this order, once FillAlgorithms has run.
extern std::array<TAlgorithm, kAlgorithmCount> Algorithms;

void FillAlgorithms();

// Copies the first entry whose name equals `name` byte for byte into `slot` and returns true;
// leaves `slot` untouched and returns false when none does ("LOCAL" has no decoder).
bool FindAlgorithm(std::string_view name, TAlgorithm& slot);

inline constexpr std::string_view kKeyOutOfRangeMessage = "'%s' is not a valid %s key (%s to %s)";

// The key of a key text (the whole-number syntax) under an algorithm: its low 8 bits for the
// one-byte keys, else the value itself, which must lie in the algorithm's range. A
// ConversionError quoting `shown` (the text as typed, UTF-8) when it is no key.
int KeyOfText(const TAlgorithm& algorithm, std::string_view text, std::string_view shown);

// A key as the rotation families write it ("0x35A"), a repeating key's place as its bytes
// ("0x8c61d263"), or in decimal for the others.
std::string KeyText(const TAlgorithm& algorithm, int key);

// A repeating key's row (XORK) that searches `keys`, places 1 to keys.size() in this order.
TAlgorithm WithXorKeys(const TAlgorithm& algorithm, std::vector<XorKey> keys);
TAlgorithm WithXorKeys(const TAlgorithm& algorithm,
                       std::shared_ptr<const std::vector<XorKey>> keys);

// The decoded value of every stored byte under one key (at offset 0 for a running key).
using DecodeTable = std::array<uint8_t, 256>;
DecodeTable MakeDecodeTable(DecodeFunction decode, int key);

// The decode tables of every key of the algorithms that read one byte at a time through a map
// of their own (the one-byte ciphers, the rotation families and XOR8N; not the wide ones, the
// running keys, the repeating keys or NONE), each map once, in table order: the readings a stretch
// of a file has besides the one under search. Built on first use, after FillAlgorithms.
const std::vector<DecodeTable>& EveryByteMap();

}  // namespace veskor
