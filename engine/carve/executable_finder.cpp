// The finder's pass: two stored bytes at a time looked up in a table of what every pair makes of
// them, so that the cost of a candidate is its validation and the cost of a key is nothing.
#include "engine/carve/executable_finder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "engine/input/fault_guard.h"
#include "engine/search/scan_input.h"
#include "text/error.h"

namespace veskor {

ByteCipher CipherOf(const CarvePair& pair) {
  if (!pair.key_bytes.empty()) return ByteCipher::ForKeyBytes(pair.key_bytes);
  TAlgorithm algorithm;
  if (!FindAlgorithm(pair.algorithm, algorithm)) {
    throw Error("no algorithm named " + pair.algorithm);
  }
  return ByteCipher::ForKey(algorithm, pair.key);
}

std::string KeyTextOf(const CarvePair& pair) {
  if (!pair.key_bytes.empty()) {
    std::string text = "0x";
    for (const uint8_t byte : pair.key_bytes) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02x", byte);
      text += digits;
    }
    return text;
  }
  TAlgorithm algorithm;
  if (!FindAlgorithm(pair.algorithm, algorithm)) return std::to_string(pair.key);
  return KeyText(algorithm, pair.key);
}

// A pair, or every key of a running key at once.
struct ExecutableFinder::Source {
  CarvePair pair;  // of every key of a running key, the key is each find's own
  ByteCipher cipher;
  int step = 0;             // every key of a running key: the key moves by this at each byte
  bool skip_start = false;  // the bytes as stored: the file itself at offset 0 is not hidden
};

// What the search appends under the mapping's guard: plain values only.
struct ExecutableFinder::Hit {
  uint64_t offset;
  uint64_t declared_size;
  uint32_t source;
  int key;
  ExecutableFormat format;
};

// Where two stored bytes may begin a magic number: the source, and of a pair whose decoding
// repeats the offset modulo its period, or of every key of a running key the key at the offset.
struct ExecutableFinder::Signature {
  uint32_t source;
  uint32_t phase;
};

namespace {

constexpr std::array<std::array<uint8_t, 2>, 2> kMagicStarts = {{{'M', 'Z'}, {0x7F, 'E'}}};
constexpr uint32_t kBuckets = 1 << 16;

}  // namespace

ExecutableFinder::ExecutableFinder() { Index(); }
ExecutableFinder::~ExecutableFinder() = default;
ExecutableFinder::ExecutableFinder(const ExecutableFinder&) = default;
ExecutableFinder& ExecutableFinder::operator=(const ExecutableFinder&) = default;
ExecutableFinder::ExecutableFinder(ExecutableFinder&&) noexcept = default;
ExecutableFinder& ExecutableFinder::operator=(ExecutableFinder&&) noexcept = default;

void ExecutableFinder::AddMap(const TAlgorithm& algorithm, int key) {
  Source source;
  source.pair = {algorithm.Name, key, {}};
  source.cipher = ByteCipher::ForKey(algorithm, key);
  if (!maps_.insert(source.cipher.Table()).second) return;
  source.skip_start = source.cipher.Identity();
  sources_.push_back(std::move(source));
}

void ExecutableFinder::AddEveryKey(const TAlgorithm& algorithm) {
  if (algorithm.Repeating) {
    // A row's places are its keys of many bytes; the table's own entry has none.
    for (int key = algorithm.FirstKey; key <= algorithm.LastKey; ++key) {
      if (const XorKey* bytes = algorithm.XorKeyAt(key)) AddRepeating(algorithm.Name, *bytes);
    }
  } else if (algorithm.Unkeyed()) {
    AddMap(algorithm, algorithm.FirstKey);
  } else if (algorithm.Step != 0) {
    Source source;
    source.pair = {algorithm.Name, 0, {}};
    source.step = algorithm.Step;
    sources_.push_back(std::move(source));
  } else {
    for (int key = algorithm.FirstKey; key <= algorithm.LastKey; ++key) AddMap(algorithm, key);
  }
  Index();
}

void ExecutableFinder::AddKey(const TAlgorithm& algorithm, int key) {
  if (algorithm.Repeating) {
    if (const XorKey* bytes = algorithm.XorKeyAt(key)) AddRepeating(algorithm.Name, *bytes);
  } else if (algorithm.Step != 0) {
    Source source;
    source.pair = {algorithm.Name, key, {}};
    source.cipher = ByteCipher::ForKey(algorithm, key);
    sources_.push_back(std::move(source));
  } else {
    AddMap(algorithm, key);
  }
  Index();
}

void ExecutableFinder::AddKeyBytes(std::string_view algorithm, std::vector<uint8_t> key) {
  AddBytes(algorithm, std::move(key));
  Index();
}

void ExecutableFinder::AddRepeating(std::string_view algorithm, const XorKey& key) {
  AddBytes(algorithm, {key.bytes().begin(), key.bytes().end()});
}

void ExecutableFinder::AddBytes(std::string_view algorithm, std::vector<uint8_t> key) {
  Source source;
  source.cipher = ByteCipher::ForKeyBytes(key);
  source.skip_start = source.cipher.Identity();
  source.pair = {std::string(algorithm), 0, std::move(key)};
  if (source.pair.key_bytes.size() > ByteCipher::kMaxKeyBytes) {
    source.pair.key_bytes.resize(ByteCipher::kMaxKeyBytes);
  }
  for (const Source& other : sources_) {
    if (other.pair == source.pair) return;
  }
  sources_.push_back(std::move(source));
}

void ExecutableFinder::AddEveryPair() {
  for (const TAlgorithm& algorithm : Algorithms) {
    if (algorithm.Decode == nullptr || algorithm.Unkeyed()) continue;
    if (algorithm.Step != 0) {
      Source source;
      source.pair = {algorithm.Name, 0, {}};
      source.step = algorithm.Step;
      sources_.push_back(std::move(source));
      continue;
    }
    for (int key = algorithm.FirstKey; key <= algorithm.LastKey; ++key) AddMap(algorithm, key);
  }
  Index();
}

void ExecutableFinder::Index() {
  // Only the sources added since the last index are read: a row's pairs are indexed once, and
  // the keys of each file added to a copy cost no more than their own signatures.
  std::vector<std::pair<uint16_t, Signature>> all;
  for (auto s = static_cast<uint32_t>(indexed_); s < sources_.size(); ++s) {
    const Source& source = sources_[s];
    if (source.step != 0) {
      // Under the key c at offset i, the magic's first two bytes are stored as m0 ^ c and
      // m1 ^ (c + step), wherever i is: one signature per key at the offset.
      for (uint32_t c = 0; c < 256; ++c) {
        for (const auto& magic : kMagicStarts) {
          const uint32_t first = magic[0] ^ c;
          const uint32_t second = magic[1] ^ ((c + static_cast<uint32_t>(source.step)) & 0xFF);
          all.push_back({static_cast<uint16_t>(first | second << 8), {s, c}});
        }
      }
      continue;
    }
    const uint32_t period = source.cipher.Period();
    for (uint32_t phase = 0; phase < period; ++phase) {
      // The stored bytes that decode to each magic's first byte at this phase, and to its second
      // at the next.
      for (const auto& magic : kMagicStarts) {
        std::vector<uint8_t> firsts, seconds;
        for (int b = 0; b < 256; ++b) {
          const auto stored = static_cast<uint8_t>(b);
          if (source.cipher.Byte(stored, phase) == magic[0]) firsts.push_back(stored);
          if (source.cipher.Byte(stored, phase + 1) == magic[1]) seconds.push_back(stored);
        }
        for (const uint8_t first : firsts) {
          for (const uint8_t second : seconds) {
            all.push_back({static_cast<uint16_t>(first | second << 8), {s, phase}});
          }
        }
      }
    }
  }
  // Stable: within a bucket, the sources stay in the order they were added (the new ones after
  // the indexed ones, which merge keeps).
  const auto by_value = [](const auto& a, const auto& b) { return a.first < b.first; };
  std::stable_sort(all.begin(), all.end(), by_value);
  const auto middle = static_cast<std::ptrdiff_t>(entries_.size());
  entries_.insert(entries_.end(), all.begin(), all.end());
  std::inplace_merge(entries_.begin(), entries_.begin() + middle, entries_.end(), by_value);
  indexed_ = sources_.size();
  bucket_start_.assign(kBuckets + 1, 0);
  std::vector<uint64_t> starts(kBuckets / 64, 0);
  signatures_.clear();
  signatures_.reserve(entries_.size());
  for (const auto& [value, signature] : entries_) {
    ++bucket_start_[value + 1];
    starts[value >> 6] |= uint64_t{1} << (value & 63);
    signatures_.push_back(signature);
  }
  for (uint32_t v = 0; v < kBuckets; ++v) bucket_start_[v + 1] += bucket_start_[v];
  starts_.Assign(starts);
}

ByteCipher ExecutableFinder::CipherOfHit(const Hit& hit) const {
  const Source& source = sources_[hit.source];
  return source.step != 0 ? ByteCipher::Running(hit.key, source.step) : source.cipher;
}

void ExecutableFinder::KeepBestDecodings(const uint8_t* data, uint64_t size,
                                         std::vector<Hit>& hits) const {
  std::vector<int> regularity(hits.size(), 0);
  std::vector<bool> keep(hits.size(), true);
  for (size_t first = 0; first < hits.size();) {
    size_t last = first + 1;
    while (last < hits.size() && hits[last].offset == hits[first].offset) ++last;
    if (last - first > 1) {
      // Pairs that agree on every byte the header checks read, and differ elsewhere: the true
      // one decodes the rest of the header as linkers write it. Where they tie, each stays: the
      // bytes alone cannot tell them apart.
      int best = -1;
      for (size_t h = first; h < last; ++h) {
        const ByteCipher cipher = CipherOfHit(hits[h]);
        const uint64_t offset = hits[h].offset;
        int& mine = regularity[h];
        if (!ReadMapped([&] { mine = HeaderRegularity(data, size, offset, cipher); })) {
          throw InputReadError();
        }
        best = std::max(best, mine);
      }
      for (size_t h = first; h < last; ++h) keep[h] = regularity[h] == best;
    }
    first = last;
  }
  size_t kept = 0;
  for (size_t h = 0; h < hits.size(); ++h) {
    if (keep[h]) hits[kept++] = hits[h];
  }
  hits.resize(kept);
}

ExecutableFinder::Result ExecutableFinder::Find(const uint8_t* data, uint64_t size,
                                                const FindOptions& options) const {
  Result result;
  // No pair (an XORK row whose file gave no key away): no pass over the file.
  if (sources_.empty()) return result;
  std::vector<Hit> hits;
  const uint32_t* const buckets = bucket_start_.data();
  const Signature* const signatures = signatures_.data();
  const Source* const sources = sources_.data();
  // Validates the header at `at` under `cipher` and keeps it. Plain values only: a fault of the
  // mapping may abandon this frame.
  auto check = [&](uint64_t at, const ByteCipher& cipher, uint32_t source, int key) {
    const std::optional<ExecutableHeader> header = ReadExecutableHeader(data, size, at, cipher);
    if (header) hits.push_back({at, header->declared_size, source, key, header->format});
  };
  // Every signature of the two stored bytes at `i`.
  auto try_signatures = [&](uint64_t i) {
    const uint32_t v = data[i] | uint32_t{data[i + 1]} << 8;
    for (uint32_t e = buckets[v]; e < buckets[v + 1]; ++e) {
      const Signature signature = signatures[e];
      const Source& source = sources[signature.source];
      if (source.step != 0) {
        const auto key = static_cast<uint8_t>(signature.phase - source.step * i);
        check(i, ByteCipher::Running(key, source.step), signature.source, key);
        continue;
      }
      const uint32_t period = source.cipher.Period();
      if (period != 1 && i % period != signature.phase) continue;
      if (i == 0 && source.skip_start) continue;
      check(i, source.cipher, signature.source, source.pair.key);
    }
  };
  constexpr uint64_t kPiece = uint64_t{4} << 20;
  for (uint64_t from = 0; from + 1 < size; from += kPiece) {
    if (options.go_on && !options.go_on()) {
      result.complete = false;
      break;
    }
    const uint64_t to = std::min(size - 1, from + kPiece);
    const bool read = ReadMapped([&] {
      uint64_t offsets[BytePairSet::kMaxFound];
      for (uint64_t i = from; i < to;) {
        const size_t n = starts_.Next(data, i, to, offsets);
        for (size_t k = 0; k < n; ++k) try_signatures(offsets[k]);
      }
    });
    if (!read) throw InputReadError();
  }
  std::stable_sort(hits.begin(), hits.end(),
                   [](const Hit& a, const Hit& b) { return a.offset < b.offset; });
  KeepBestDecodings(data, size, hits);
  for (const Hit& hit : hits) {
    FoundExecutable found;
    found.format = hit.format;
    found.offset = hit.offset;
    found.truncated = hit.declared_size > size - hit.offset;
    found.size = found.truncated ? size - hit.offset : hit.declared_size;
    found.pair = sources_[hit.source].pair;
    found.pair.key = hit.key;
    bool again = false;
    for (auto f = result.found.rbegin(); f != result.found.rend() && f->offset == hit.offset; ++f) {
      again = again || f->pair == found.pair;
    }
    if (!again) result.found.push_back(std::move(found));
  }
  if (options.overlay) {
    // The next executable that begins at or after a PE's own end bounds its overlay.
    for (FoundExecutable& found : result.found) {
      if (found.format != ExecutableFormat::kPe) continue;
      const uint64_t own_end = found.offset + found.size;
      const auto next = std::lower_bound(
          result.found.begin(), result.found.end(), own_end,
          [](const FoundExecutable& f, uint64_t offset) { return f.offset < offset; });
      found.size = (next == result.found.end() ? size : next->offset) - found.offset;
    }
  }
  return result;
}

}  // namespace veskor
