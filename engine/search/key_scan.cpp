// The runs of one key's members in a stretch of the file: bytes, or the code units of a wide
// algorithm at both parities.
#include "engine/search/key_scan.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engine/search/unit_spans.h"
#include "text/arithmetic.h"

namespace veskor {
namespace {

// The key's members, one byte per position.
struct ByteRuns {
  const uint8_t* data;
  const ByteClass& members;
  uint64_t m;
  size_t Find(uint64_t limit, RunState& state, Span* out, size_t capacity) const {
    return FindByteRuns(data, members, m, limit, state, out, capacity);
  }
  bool Has(uint64_t position) const { return members.Has(data[position]); }
  uint64_t End(uint64_t position, uint64_t limit) const {
    return RunEnd(data, members, position, limit);
  }
};

// The members of a running key, which decodes every offset under its own byte key: probed.
struct RunningRuns {
  const KeyView& key;
  uint64_t m;
  size_t Find(uint64_t limit, RunState& state, Span* out, size_t capacity) const {
    return ProbeRuns([&](uint64_t i) { return key.Member(i); }, m, limit, state, out, capacity, 0);
  }
  bool Has(uint64_t position) const { return key.Member(position); }
  uint64_t End(uint64_t position, uint64_t limit) const { return key.RunEnd(position, limit); }
};

}  // namespace

bool ScanKeyRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
                  bool cut_at_end, JobOutput& out, const std::function<void(const Span&)>& on_run) {
  if (key.running()) {
    return RunsStartingIn(RunningRuns{key, input.min_run}, input.min_run, begin, end, input.size,
                          cut_at_end, input.batch_bytes, out, on_run);
  }
  const ByteRuns runs{input.data, key.members(), input.min_run};
  return RunsStartingIn(runs, input.min_run, begin, end, input.size, cut_at_end, input.batch_bytes,
                        out, on_run);
}

namespace {

// Merged steps of a wide scan: the runs of both parities that start in so many bytes are put in
// order of their starts.
constexpr uint64_t kWideChunkBytes = uint64_t{1} << 20;

// Whether the unit of two stored bytes decodes under the key into a character.
struct CharacterUnit {
  const DecodeTable& decode;
  const uint8_t* unit_char;
  bool operator()(uint8_t first, uint8_t second) const {
    return unit_char[decode[first] | decode[second] << 8] != 0;
  }
};

// The first unit of a parity at or after a byte offset.
uint64_t FirstUnit(uint64_t offset, uint64_t parity) {
  return offset <= parity ? 0 : CeilDiv<uint64_t>(offset - parity, 2);
}

bool ScanWideRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
                   bool cut_at_end, JobOutput& out,
                   const std::function<void(const Span&)>& on_run) {
  // The units whose two bytes are both in the file, per parity.
  const std::array<uint64_t, 2> units = UnitCounts(input.size);
  std::vector<Span> runs[2];
  for (uint64_t from = begin; from < end;) {
    // A region is taken whole: its own ends cut its runs.
    const uint64_t to = cut_at_end ? end : std::min(end, from + kWideChunkBytes);
    for (uint64_t parity = 0; parity < 2; ++parity) {
      runs[parity].clear();
      const UnitRuns<CharacterUnit> finder{
          input.data, {key.decode(), input.unit_char.data()}, parity, input.min_run};
      const uint64_t first = std::min(units[parity], FirstUnit(from, parity));
      const uint64_t last = std::min(units[parity], FirstUnit(to, parity));
      const bool done = RunsStartingIn(
          finder, input.min_run, first, last, units[parity], cut_at_end,
          std::max<uint64_t>(1, input.batch_bytes / 2), out,
          [&](const Span& unit_run) { runs[parity].push_back(finder.Bytes(unit_run)); });
      if (!done) return false;
    }
    // Both parities in the order of their starts.
    std::vector<Span>::const_iterator even = runs[0].begin(), odd = runs[1].begin();
    while (even != runs[0].end() || odd != runs[1].end()) {
      if (odd == runs[1].end() || (even != runs[0].end() && even->start < odd->start)) {
        on_run(*even++);
      } else {
        on_run(*odd++);
      }
    }
    from = to;
  }
  return true;
}

}  // namespace

bool ScanRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
               bool cut_at_end, JobOutput& out, const std::function<void(const Span&)>& on_run) {
  if (input.wide) return ScanWideRange(input, key, begin, end, cut_at_end, out, on_run);
  return ScanKeyRange(input, key, begin, end, cut_at_end, out, on_run);
}

}  // namespace veskor
