// The executable finder and its header checks on any bytes: the input itself, or a made PE or
// ELF file that the input changes byte by byte, stored under one of a few pairs. Whatever it
// finds lies in the file, and its header reads the same from the decoded bytes with no cipher.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/carve/executable_finder.h"
#include "engine/carve/executable_header.h"
#include "engine/carve/range_decoder.h"
#include "engine/carve/test_ciphers.h"
#include "engine/carve/test_executables.h"
#include "engine/decoding/algorithms.h"

namespace {

const std::vector<veskor::CarvePair>& Pairs() {
  static const std::vector<veskor::CarvePair> pairs = {
      {"NONE", 1, {}}, {"XOR8", 0x5A, {}}, {"XOR8INC", 0x33, {}}, {"XORK", 0, {1, 2, 3}}};
  return pairs;
}

const veskor::ExecutableFinder& Finder() {
  static const veskor::ExecutableFinder finder = [] {
    veskor::FillAlgorithms();
    veskor::ExecutableFinder made;
    for (const veskor::CarvePair& pair : Pairs()) {
      veskor::TAlgorithm algorithm;
      if (!pair.key_bytes.empty()) {
        made.AddKeyBytes(pair.algorithm, pair.key_bytes);
      } else if (veskor::FindAlgorithm(pair.algorithm, algorithm)) {
        made.AddKey(algorithm, pair.key);
      }
    }
    return made;
  }();
  return finder;
}

std::string Stored(const veskor::CarvePair& pair, const std::string& plain) {
  return pair.key_bytes.empty() ? veskor::test::Encode(pair.algorithm, pair.key, plain, 0)
                                : veskor::test::EncodeRepeating(pair.key_bytes, plain, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const veskor::ExecutableFinder& finder = Finder();
  const uint8_t mode = data[0];
  const veskor::CarvePair& pair = Pairs()[(mode >> 2) % Pairs().size()];
  // Modes 1 and 2: a made file after a few bytes, changed at the places the input names (two
  // bytes of place, one of value); else the input's bytes as they are.
  std::string plain;
  const uint64_t start = 1 + data[1] % 7;
  if (mode % 3 != 0) {
    plain = std::string(start, 'M');
    plain += mode % 3 == 1
                 ? veskor::test::MakePe({.wide = (mode & 16) != 0, .sections = 1 + data[1] % 5})
                 : veskor::test::MakeElf({.wide = (mode & 16) != 0, .big = (mode & 32) != 0});
    for (size_t i = 2; i + 3 <= size; i += 3) {
      const size_t at = (data[i] | data[i + 1] << 8) % plain.size();
      plain[at] = static_cast<char>(data[i + 2]);
    }
  } else {
    plain.assign(reinterpret_cast<const char*>(data) + 2, size - 2);
  }
  const std::string stored = Stored(pair, plain);
  veskor::FindOptions options;
  options.overlay = (mode & 64) != 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(stored.data());
  const auto result = finder.Find(bytes, stored.size(), options);
  bool planted_found = false;
  for (const veskor::FoundExecutable& found : result.found) {
    if (found.offset >= stored.size() || found.size == 0 ||
        found.size > stored.size() - found.offset) {
      std::abort();
    }
    std::string decoded;
    veskor::DecodeRange(bytes, stored.size(), veskor::CipherOf(found.pair), 0, stored.size(),
                        [&](std::span<const uint8_t> block) {
                          decoded.append(reinterpret_cast<const char*>(block.data()), block.size());
                        });
    const auto header =
        veskor::ReadExecutableHeader(reinterpret_cast<const uint8_t*>(decoded.data()),
                                     decoded.size(), found.offset, veskor::ByteCipher());
    if (!header || header->format != found.format) std::abort();
    const uint64_t rest = stored.size() - found.offset;
    if (found.truncated != (header->declared_size > rest)) std::abort();
    if (!options.overlay && found.size != std::min(header->declared_size, rest)) std::abort();
    planted_found = planted_found || (found.offset == start && found.pair == pair);
  }
  // A made file left as it was is found where it was put.
  if (mode % 3 != 0 && size < 5 && !planted_found) std::abort();
  return 0;
}
