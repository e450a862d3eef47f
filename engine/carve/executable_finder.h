// Every offset of a file where a PE or ELF file begins under one of a row's pairs (an algorithm
// and a key), found in one pass over the file whatever the number of keys.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/carve/byte_cipher.h"
#include "engine/carve/byte_pair_set.h"
#include "engine/carve/executable_header.h"
#include "engine/decoding/algorithms.h"

namespace veskor {

// An algorithm of the table and a key, or an algorithm with a key of many bytes.
struct CarvePair {
  std::string algorithm;
  int key = 0;                     // of a running key, the key at offset 0
  std::vector<uint8_t> key_bytes;  // a key of many bytes, K[0] first; empty for the others
  bool operator==(const CarvePair&) const = default;
};

// The pair's decoding. Throws Error when the algorithm is not in the table (and no key bytes).
ByteCipher CipherOf(const CarvePair& pair);
// The key as a row writes it: decimal, 0x35A for a rotation family, 0x and lower-case hex
// digits for a key of many bytes.
std::string KeyTextOf(const CarvePair& pair);

struct FoundExecutable {
  ExecutableFormat format = ExecutableFormat::kPe;
  uint64_t offset = 0;
  uint64_t size = 0;       // the bytes to carve from `offset`, never past the file's end
  bool truncated = false;  // the headers' size passed the file's end, and was cut there
  CarvePair pair;
};

struct FindOptions {
  // A PE takes the bytes after its last section too (an overlay), up to the next executable
  // found or the file's end.
  bool overlay = false;
  // Asked between pieces of 4 MiB, when set; false stops the search there.
  std::function<bool()> go_on;
};

class ExecutableFinder {
 public:
  ExecutableFinder();
  ~ExecutableFinder();
  ExecutableFinder(const ExecutableFinder&);  // a row's pairs and then one file's keys
  ExecutableFinder& operator=(const ExecutableFinder&);
  ExecutableFinder(ExecutableFinder&&) noexcept;
  ExecutableFinder& operator=(ExecutableFinder&&) noexcept;

  // Every key of `algorithm`: of NONE and NONEW the bytes as stored, where the file itself at
  // offset 0 is not counted; of a row of XORK the key bytes of each of its places.
  void AddEveryKey(const TAlgorithm& algorithm);
  // One key; of a row of XORK the key bytes of the place `key` (none when it has no such place).
  void AddKey(const TAlgorithm& algorithm, int key);
  // A key of 1 to 32 bytes repeated from offset 0 of the file under the algorithm's name.
  void AddKeyBytes(std::string_view algorithm, std::vector<uint8_t> key);
  // Every key of every keyed algorithm (NONE and NONEW left out), as ANY searches them: pairs
  // that decode every byte alike are tried once, under the first algorithm of the table that has
  // them (the wide twins decode the bytes as their 8-bit twins do).
  void AddEveryPair();

  struct Result {
    std::vector<FoundExecutable> found;  // by offset, then in the order the pairs were added
    bool complete = true;                // false when FindOptions::go_on stopped the search
  };
  // Where pairs that decode differently find a file at one offset (they agree on the bytes the
  // header checks read), only those under which most of the header's other fields hold as
  // linkers write them are kept (HeaderRegularity). Throws InputReadError when a read of the
  // mapping faults (the file shrank under it). Writes nothing: threads may share one finder.
  Result Find(const uint8_t* data, uint64_t size, const FindOptions& options = {}) const;

 private:
  struct Source;
  struct Signature;
  struct Hit;
  ByteCipher CipherOfHit(const Hit& hit) const;
  // Of several pairs that find a file at one offset, keeps those that decode it best.
  void KeepBestDecodings(const uint8_t* data, uint64_t size, std::vector<Hit>& hits) const;
  void AddMap(const TAlgorithm& algorithm, int key);
  // A key of many bytes, left for the caller's Index().
  void AddBytes(std::string_view algorithm, std::vector<uint8_t> key);
  void AddRepeating(std::string_view algorithm, const XorKey& key);
  void Index();

  std::vector<Source> sources_;
  std::set<DecodeTable> maps_;  // the byte maps added so far, each tried once
  // Of every source indexed so far (the first `indexed_`), its signatures and the two stored
  // bytes each begins with, in the order of those bytes.
  size_t indexed_ = 0;
  std::vector<std::pair<uint16_t, Signature>> entries_;
  // Rebuilt by every Add*: the signatures of every source by the first two stored bytes of a
  // magic number, and the set of the two stored bytes that have any.
  std::vector<uint32_t> bucket_start_;
  std::vector<Signature> signatures_;
  BytePairSet starts_;
};

}  // namespace veskor
