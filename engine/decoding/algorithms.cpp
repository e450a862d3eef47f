// The decoders: XOR, addition and subtraction modulo 256, the identity, rotations combined with
// XOR or addition, XOR that keeps zero bytes and the key's own byte, and XOR with a running key.
#include "engine/decoding/algorithms.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "text/error.h"
#include "text/integer_syntax.h"

namespace veskor {
namespace {

uint8_t Rol(uint8_t v, int r) {
  r &= 7;
  return static_cast<uint8_t>(r == 0 ? v : (v << r) | (v >> (8 - r)));
}

uint8_t DecodeXor(uint8_t b, int k) { return static_cast<uint8_t>(b ^ k); }
uint8_t DecodeAdd(uint8_t b, int k) { return static_cast<uint8_t>(b + k); }
uint8_t DecodeSub(uint8_t b, int k) { return static_cast<uint8_t>(b - k); }
uint8_t DecodeNone(uint8_t b, int) { return b; }
// Rotation families: the key is r * 256 + x.
uint8_t DecodeXorRol(uint8_t b, int k) { return Rol(static_cast<uint8_t>(b ^ k), k >> 8); }
uint8_t DecodeAddRol(uint8_t b, int k) { return Rol(static_cast<uint8_t>(b + k), k >> 8); }
uint8_t DecodeRolAdd(uint8_t b, int k) { return static_cast<uint8_t>(Rol(b, k >> 8) + k); }
// Zero bytes and the key's own byte stay as they are, so that padding does not give the key away.
uint8_t DecodeXorN(uint8_t b, int k) {
  const auto key = static_cast<uint8_t>(k);
  return b == 0 || b == key ? b : static_cast<uint8_t>(b ^ key);
}

constexpr int kRotationFirstKey = 0x100, kRotationLastKey = 0x7FF;

TAlgorithm Entry(const char* name, DecodeFunction decode, CipherFamily family, int width = 1) {
  TAlgorithm entry;
  entry.Name = name;
  entry.Decode = decode;
  entry.Family = family;
  entry.Width = width;
  return entry;
}

TAlgorithm Rotation(const char* name, DecodeFunction decode) {
  TAlgorithm entry = Entry(name, decode, CipherFamily::kMap);
  entry.FirstKey = kRotationFirstKey;
  entry.LastKey = kRotationLastKey;
  entry.ByteKey = false;
  return entry;
}

TAlgorithm Running(const char* name, int step) {
  TAlgorithm entry = Entry(name, DecodeXor, CipherFamily::kMap);
  entry.FirstKey = 0;
  entry.Step = step;
  return entry;
}

// The keys of a row of XORK are places in its list of key bytes, which the row fills: the
// table's entry has none. Its byte decoder is never asked for a place's byte (KeyView and the
// reference scan read the key bytes at each offset).
TAlgorithm Repeating(const char* name) {
  TAlgorithm entry = Entry(name, DecodeXor, CipherFamily::kMap);
  entry.FirstKey = 1;
  entry.LastKey = 0;
  entry.ByteKey = false;
  entry.Repeating = true;
  return entry;
}

}  // namespace

std::array<TAlgorithm, kAlgorithmCount> Algorithms;

void FillAlgorithms() {
  Algorithms = {Entry("XOR8", DecodeXor, CipherFamily::kXor),
                Entry("ADD8", DecodeAdd, CipherFamily::kAdd),
                Entry("SUB8", DecodeSub, CipherFamily::kSub),
                Entry("NONE", DecodeNone, CipherFamily::kNone),
                Entry("XOR8W", DecodeXor, CipherFamily::kXor, 2),
                Entry("ADD8W", DecodeAdd, CipherFamily::kAdd, 2),
                Entry("SUB8W", DecodeSub, CipherFamily::kSub, 2),
                Entry("NONEW", DecodeNone, CipherFamily::kNone, 2),
                Rotation("XOR8ROL", DecodeXorRol),
                Rotation("ADD8ROL", DecodeAddRol),
                Rotation("ROL8ADD", DecodeRolAdd),
                Entry("XOR8N", DecodeXorN, CipherFamily::kMap),
                Running("XOR8INC", 1),
                Running("XOR8DEC", -1),
                Repeating("XORK")};
}

bool FindAlgorithm(std::string_view name, TAlgorithm& slot) {
  for (const TAlgorithm& entry : Algorithms) {
    if (entry.Decode != nullptr && entry.Name == name) {
      slot = entry;
      return true;
    }
  }
  return false;
}

int KeyOfText(const TAlgorithm& algorithm, std::string_view text, std::string_view shown) {
  const int32_t value = StrToInt(text, shown);
  if (algorithm.ByteKey) return value & 0xFF;
  if (value < algorithm.FirstKey || value > algorithm.LastKey) {
    throw ConversionError(Substitute(kKeyOutOfRangeMessage,
                                     {shown, algorithm.Name, KeyText(algorithm, algorithm.FirstKey),
                                      KeyText(algorithm, algorithm.LastKey)}));
  }
  return value;
}

std::string KeyText(const TAlgorithm& algorithm, int key) {
  if (algorithm.ByteKey) return std::to_string(key);
  if (algorithm.Repeating) {
    const XorKey* bytes = algorithm.XorKeyAt(key);
    return bytes != nullptr ? bytes->Text() : std::to_string(key);
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(key));
  return text;
}

TAlgorithm WithXorKeys(const TAlgorithm& algorithm, std::vector<XorKey> keys) {
  return WithXorKeys(algorithm, std::make_shared<const std::vector<XorKey>>(std::move(keys)));
}

TAlgorithm WithXorKeys(const TAlgorithm& algorithm,
                       std::shared_ptr<const std::vector<XorKey>> keys) {
  TAlgorithm row = algorithm;
  row.FirstKey = 1;
  row.LastKey = keys ? static_cast<int>(keys->size()) : 0;
  row.XorKeys = std::move(keys);
  return row;
}

DecodeTable MakeDecodeTable(DecodeFunction decode, int key) {
  DecodeTable table;
  for (int b = 0; b < 256; ++b) table[b] = decode(static_cast<uint8_t>(b), key);
  return table;
}

const std::vector<DecodeTable>& EveryByteMap() {
  static const std::vector<DecodeTable> maps = [] {
    std::vector<DecodeTable> tables;
    std::set<DecodeTable> seen;
    for (const TAlgorithm& algorithm : Algorithms) {
      if (algorithm.Width != 1 || algorithm.Step != 0 || algorithm.Repeating ||
          algorithm.Unkeyed() || algorithm.Decode == nullptr) {
        continue;
      }
      for (int key = algorithm.FirstKey; key <= algorithm.LastKey; ++key) {
        const DecodeTable table = MakeDecodeTable(algorithm.Decode, key);
        if (seen.insert(table).second) tables.push_back(table);
      }
    }
    return tables;
  }();
  return maps;
}

}  // namespace veskor
