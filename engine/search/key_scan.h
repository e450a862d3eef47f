// The single-key scanner: the spans of one key's members that start in a stretch of the file, in
// file order. Every search of a row is built from these scans and the judging of their spans
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
//   size_t Find(uint64_t limit, SpanState& state, Span* out, size_t capacity)
//   bool Has(uint64_t position) and uint64_t End(uint64_t position, uint64_t limit)
// each touching nothing but the mapping and PODs (they run under the fault guard). Hands the
// spans of at least m positions that start in [begin, end) to on_span, in order. Unless
// `cut_at_end`, a span that goes on across `begin` belongs to the stretch before and is skipped,
// and a span open at `end` goes on up to `positions` (the number of positions there are); with
// it, `begin` and `end` end every span (a region).
template <class Finder, class OnSpan>
bool SpansStartingIn(const Finder& finder, uint64_t m, uint64_t begin, uint64_t end,
                     uint64_t positions, bool cut_at_end, uint64_t batch_bytes, JobOutput& out,
                     OnSpan&& on_span);

// Scans byte offsets [begin, end) for the spans of the key's characters that start there, in file
// order, as ScanKeyRange does; for a wide algorithm the spans of code units at even and at odd
// offsets alike, merged in the order of their starts (a span is [first byte, byte after its last
// unit)).
bool ScanRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
               bool cut_at_end, JobOutput& out, const std::function<void(const Span&)>& on_span);

// Scans positions [begin, end) for the spans of the key's members that start there, in file
// order, and hands each span of MinLength or more to `on_span`. A span that began before `begin`
// belongs to the stretch before and is skipped; one that reaches past `end` is followed to its
// end, unless `cut_at_end` (a region whose outside bytes end every span: there `end` ends it).
// Checkpoints after every batch; returns false when one said to stop.
bool ScanKeyRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
                  bool cut_at_end, JobOutput& out, const std::function<void(const Span&)>& on_span);

template <class Finder, class OnSpan>
bool SpansStartingIn(const Finder& finder, uint64_t m, uint64_t begin, uint64_t end,
                     uint64_t positions, bool cut_at_end, uint64_t batch_bytes, JobOutput& out,
                     OnSpan&& on_span) {
  constexpr size_t kBatchSpans = 1024;
  SpanState state;
  state.pos = begin;
  if (begin > 0 && !cut_at_end) {
    // A span that goes on across `begin` started before it: take it up as open, and skip it.
    bool member = false;
    if (!ReadMapped([&] { member = finder.Has(begin - 1); })) throw InputReadError();
    if (member) state = {begin, true, begin - 1};
  }
  std::array<Span, kBatchSpans> spans;
  while (state.pos < end) {
    if (!out.Checkpoint()) return false;
    const uint64_t limit = std::min(end, state.pos + batch_bytes);
    size_t found = 0;
    if (!ReadMapped([&] { found = finder.Find(limit, state, spans.data(), spans.size()); })) {
      throw InputReadError();
    }
    for (size_t i = 0; i < found; ++i) {
      if (spans[i].start >= begin) on_span(spans[i]);
    }
  }
  if (!out.Checkpoint()) return false;
  if (state.in_span && state.span_start >= begin) {
    uint64_t span_end = end;
    if (!cut_at_end && !ReadMapped([&] { span_end = finder.End(end, positions); })) {
      throw InputReadError();
    }
    if (span_end - state.span_start >= m) on_span(Span{state.span_start, span_end});
  }
  return true;
}

}  // namespace veskor
