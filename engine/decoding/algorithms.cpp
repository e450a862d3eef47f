// The decoders: XOR, addition and subtraction modulo 256, and the identity.
#include "engine/decoding/algorithms.h"

namespace veskor {
namespace {

uint8_t DecodeXor(uint8_t b, uint8_t k) { return b ^ k; }
uint8_t DecodeAdd(uint8_t b, uint8_t k) { return static_cast<uint8_t>(b + k); }
uint8_t DecodeSub(uint8_t b, uint8_t k) { return static_cast<uint8_t>(b - k); }
uint8_t DecodeNone(uint8_t b, uint8_t) { return b; }

}  // namespace

std::array<TAlgorithm, 8> Algorithms;

void FillAlgorithms() {
  Algorithms = {{{"XOR8", DecodeXor, CipherFamily::kXor, 1},
                 {"ADD8", DecodeAdd, CipherFamily::kAdd, 1},
                 {"SUB8", DecodeSub, CipherFamily::kSub, 1},
                 {"NONE", DecodeNone, CipherFamily::kNone, 1},
                 {"XOR8W", DecodeXor, CipherFamily::kXor, 2},
                 {"ADD8W", DecodeAdd, CipherFamily::kAdd, 2},
                 {"SUB8W", DecodeSub, CipherFamily::kSub, 2},
                 {"NONEW", DecodeNone, CipherFamily::kNone, 2}}};
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

DecodeTable MakeDecodeTable(DecodeFunction decode, uint8_t key) {
  DecodeTable table;
  for (int b = 0; b < 256; ++b) table[b] = decode(static_cast<uint8_t>(b), key);
  return table;
}

}  // namespace veskor
