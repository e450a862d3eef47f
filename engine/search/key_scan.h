// The single-key scanner: the runs of one key's members that start in a stretch of the file, in
// file order. Every search of a row is built from these scans and the judging of their runs
// (engine/search/span_judge).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

#include "engine/input/fault_guard.h"
#include "engine/search/job_runner.h"
#include "engine/search/scan_input.h"
#include "engine/search/span_finder.h"

namespace veskor {

// The loop behind the scans of stretches, for any kind of position: `finder` has
//   size_t Find(uint64_t limit, RunState& state, Span* out, size_t capacity)
//   bool Has(uint64_t position) and uint64_t End(uint64_t position, uint64_t limit)
// each touching nothing but the mapping and PODs (they run under the fault guard). Hands the
// runs of at least m positions that start in [begin, end) to on_run, in order. Unless
// `cut_at_end`, a run that goes on across `begin` belongs to the stretch before and is skipped,
// and a run open at `end` goes on up to `positions` (the number of positions there are); with
// it, `begin` and `end` end every run (a region).
template <class Finder, class OnRun>
bool RunsStartingIn(const Finder& finder, uint64_t m, uint64_t begin, uint64_t end,
                    uint64_t positions, bool cut_at_end, uint64_t batch_bytes, JobOutput& out,
                    OnRun&& on_run);

// Scans byte offsets [begin, end) for the runs of the key's characters that start there, in file
// order, as ScanKeyRange does; for a wide algorithm the runs of code units at even and at odd
// offsets alike, merged in the order of their starts (a run is [first byte, byte after its last
// unit)).
bool ScanRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
               bool cut_at_end, JobOutput& out, const std::function<void(const Span&)>& on_run);

// Scans positions [begin, end) for the runs of the key's members that start there, in file
// order, and hands each run of MinLength or more to `on_run`. A run that began before `begin`
// belongs to the stretch before and is skipped; one that reaches past `end` is followed to its
// end, unless `cut_at_end` (a region whose outside bytes end every run: there `end` ends it).
// Checkpoints after every batch; returns false when one said to stop.
bool ScanKeyRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
                  bool cut_at_end, JobOutput& out, const std::function<void(const Span&)>& on_run);

template <class Finder, class OnRun>
bool RunsStartingIn(const Finder& finder, uint64_t m, uint64_t begin, uint64_t end,
                    uint64_t positions, bool cut_at_end, uint64_t batch_bytes, JobOutput& out,
                    OnRun&& on_run) {
  constexpr size_t kBatchRuns = 1024;
  RunState state;
  state.pos = begin;
  if (begin > 0 && !cut_at_end) {
    // A run that goes on across `begin` started before it: take it up as open, and skip it.
    bool member = false;
    if (!ReadMapped([&] { member = finder.Has(begin - 1); })) throw InputReadError();
    if (member) state = {begin, true, begin - 1};
  }
  std::array<Span, kBatchRuns> spans;
  while (state.pos < end) {
    if (!out.Checkpoint()) return false;
    const uint64_t limit = std::min(end, state.pos + batch_bytes);
    size_t found = 0;
    if (!ReadMapped([&] { found = finder.Find(limit, state, spans.data(), spans.size()); })) {
      throw InputReadError();
    }
    for (size_t i = 0; i < found; ++i) {
      if (spans[i].start >= begin) on_run(spans[i]);
    }
  }
  if (!out.Checkpoint()) return false;
  if (state.in_run && state.run_start >= begin) {
    uint64_t run_end = end;
    if (!cut_at_end && !ReadMapped([&] { run_end = finder.End(end, positions); })) {
      throw InputReadError();
    }
    if (run_end - state.run_start >= m) on_run(Span{state.run_start, run_end});
  }
  return true;
}

}  // namespace veskor
