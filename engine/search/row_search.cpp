// The searches put together: one key in blocks of the file, all keys by the sparse screening, the
// dense key sets or one pass per key, and NONE scanned once and written under every key. Every
// search ends in jobs whose lines the job runner writes in order.
#include "engine/search/row_search.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "engine/score/key_summary.h"
#include "engine/score/rank_floor.h"
#include "engine/search/capped_collector.h"
#include "engine/search/dense_search.h"
#include "engine/search/job_runner.h"
#include "engine/search/key_scan.h"
#include "engine/search/line_maker.h"
#include "engine/search/span_judge.h"
#include "engine/search/sparse_search.h"
#include "text/arithmetic.h"

namespace veskor {
namespace {

// Judged spans between two checkpoints of a job that works through a list of spans.
constexpr size_t kSpansPerCheckpoint = 4096;
// Above this many pair values the regions of the sparse screening cover too much of a file for
// it to pay; measured with bench/fast_scan_bench (the crossover of the two screenings).
constexpr int kSparsePairValues = 48;
// What one pass of the key sets costs in passes of the single-key scanner (bench/fast_scan_bench).
constexpr size_t kDensePassCost = 4;
// Keys of a page summarized under one floor before the floor is raised by them: enough for the
// first stage of a row to rank its first keys (RankFloor::kExactRanks), few enough that the
// floor rises early.
constexpr size_t kFloorStageKeys = 32;

// The keys of a search of all keys, in order.
std::vector<int> EveryKey(const TAlgorithm& algorithm) {
  std::vector<int> keys;
  for (int key = algorithm.FirstKey; key <= algorithm.LastKey; ++key) keys.push_back(key);
  return keys;
}

// The summaries of a search's jobs, one each, merged into the row's on the run's thread once a
// job's lines are written.
class Summaries {
 public:
  Summaries(size_t jobs, bool kept) : summaries_(kept ? jobs : 0) {}
  KeySummary* operator[](size_t job) { return summaries_.empty() ? nullptr : &summaries_[job]; }
  void MergeInto(RowSummary* row, size_t job, int key) {
    if (row == nullptr || summaries_.empty()) return;
    (*row)[key].Merge(summaries_[job]);
    // A key summarized with a bound carries it whole (its job was the key's only one).
    if (summaries_[job].Bounded()) (*row)[key].SetBound(summaries_[job].Bound());
    summaries_[job] = KeySummary();
  }

 private:
  std::vector<KeySummary> summaries_;
};

class Search {
 public:
  Search(const TAlgorithm& algorithm, const SearchFields& fields, TScanContext& context,
         const ScanOptions& options)
      : context_(context),
        options_(options),
        input_(context.Data, context.Size, context.Width, algorithm, fields, *context.Lines,
               context.Filter, options.batch_bytes),
        jobs_(options.workers, *context.Services, options.event_interval, context.LastEvents),
        dense_spans_(options.dense_spans ? options.dense_spans : std::make_shared<DenseSpans>()),
        summary_only_(context.Summary != nullptr && !context.Lines->WritesLines() &&
                      fields.RegExp.empty()) {}

  // The lines written count for the row, also when an error ends the search.
  ~Search() { context_.Found += jobs_.lines_written(); }

  void OneKey() {
    const KeyView key(input_, context_.Key);
    const uint64_t block = std::max<uint64_t>(1, options_.segment_bytes);
    const size_t blocks = static_cast<size_t>(CeilDiv(input_.size, block));
    int last_progress = 0;
    Summaries summaries(blocks, context_.Summary != nullptr);
    const bool completed = jobs_.RunOrdered(
        blocks,
        [&](size_t i, JobOutput& out) {
          Judged(key, out, summaries[i], [&](SpanJudge& judge) {
            ScanRange(input_, key, i * block, std::min(input_.size, (i + 1) * block), false, out,
                      [&](const Span& span) { judge.Judge(span); });
          });
        },
        [&](size_t i) {
          summaries.MergeInto(context_.Summary, i, key.key());
          if (context_.SingleKey) {
            // The progress of the block's last byte, as a byte-by-byte pass would show it there.
            const int p = ProgressAt(std::min(input_.size, (i + 1) * block) - 1, input_.size);
            if (p > last_progress) {
              context_.Services->SetProgress(p);
              last_progress = p;
            }
          }
          return true;
        });
    if (completed) context_.Services->SetProgress(100);
  }

  void AllKeys(const std::function<bool(int)>& after_key, ScanOptions::Search search) {
    if (input_.algorithm->Family == CipherFamily::kNone) return Unkeyed(after_key);
    // A repeating key's row holds a few keys the file gave away: a pass each.
    if (input_.algorithm->Repeating) {
      EachKey(EveryKey(*input_.algorithm), after_key);
      return;
    }
    // The wide algorithms screen their units' own pair values; the key sets look at one byte per
    // character. Byte maps without a pair value (and running keys) have only the key sets.
    if (input_.wide && search != ScanOptions::Search::kEachKey) {
      search = ScanOptions::Search::kSparse;
    }
    const TAlgorithm& algorithm = *input_.algorithm;
    if (algorithm.Family == CipherFamily::kMap && search == ScanOptions::Search::kSparse) {
      search = ScanOptions::Search::kDense;
    }
    switch (search) {
      case ScanOptions::Search::kSparse:
        return Sparse(EveryKey(algorithm), after_key);
      case ScanOptions::Search::kDense:
        // Page by page of 256 keys (one for the one-byte keys, one per rotation).
        for (int page = algorithm.FirstKey / 256; page <= algorithm.LastKey / 256; ++page) {
          const int base = page * 256;
          if (!Dense(base, std::max(algorithm.FirstKey, base) - base,
                     std::min(algorithm.LastKey, base + 255) - base, after_key)) {
            return;
          }
        }
        return;
      default:
        EachKey(EveryKey(algorithm), after_key);
    }
  }

 private:
  // The one fallback: a whole pass over the file for each key, the keys on the workers.
  bool EachKey(const std::vector<int>& keys, const std::function<bool(int)>& after_key) {
    Summaries summaries(keys.size(), context_.Summary != nullptr);
    return jobs_.RunOrdered(
        keys.size(),
        [&](size_t i, JobOutput& out) {
          const KeyView key(input_, keys[i]);
          Judged(key, out, summaries[i], [&](SpanJudge& judge) {
            ScanRange(input_, key, 0, input_.size, false, out,
                      [&](const Span& span) { judge.Judge(span); });
          });
        },
        [&](size_t i) {
          summaries.MergeInto(context_.Summary, i, keys[i]);
          AddToFloor(keys[i]);
          return after_key(keys[i]);
        });
  }

  void Sparse(const std::vector<int>& keys, const std::function<bool(int)>& after_key) {
    std::vector<Span> regions;
    const CipherFamily family = input_.algorithm->Family;
    switch (input_.wide ? FindWideRegions(input_, family, jobs_, options_.max_regions,
                                          options_.segment_bytes, regions)
                        : FindRegions(input_, family, jobs_, options_.max_regions,
                                      options_.segment_bytes, regions)) {
      case SparseResult::kStopped:
        return;
      case SparseResult::kTooMany:
        EachKey(keys, after_key);
        return;
      case SparseResult::kFound:
        break;
    }
    Summaries summaries(keys.size(), context_.Summary != nullptr);
    jobs_.RunOrdered(
        keys.size(),
        [&](size_t i, JobOutput& out) {
          const KeyView key(input_, keys[i]);
          Judged(key, out, summaries[i], [&](SpanJudge& judge) {
            for (const Span& region : regions) {
              // A byte region's outside bytes end every span in it. A wide region joins the
              // stretches of both parities, whose units do not end each other's spans: its spans
              // are those that start in it, followed to their ends (which lie in it).
              if (!ScanRange(input_, key, region.start, region.end, !input_.wide, out,
                             [&](const Span& span) { judge.Judge(span); })) {
                return;
              }
            }
          });
        },
        [&](size_t i) {
          summaries.MergeInto(context_.Summary, i, keys[i]);
          AddToFloor(keys[i]);
          return after_key(keys[i]);
        });
  }

  // The keys base + first .. base + last of one page; false when a stop ended it.
  bool Dense(int base, int first, int last, const std::function<bool(int)>& after_key) {
    page_base_ = base;
    // The keys searched before this page set the floor of its keys: the same for every job of
    // the page, whatever order they run in.
    floor_ = summary_only_ && options_.rank_floor ? options_.rank_floor->Floor() : 0;
    DenseSpans& spans = *dense_spans_;
    std::array<uint64_t, 256> counts{};
    // A file whose spans clearly do not fit one pass (twice as many by a sample's count) goes to
    // groups of keys at once, instead of a whole pass that only counts them.
    if (!EstimateDenseSpans(input_, jobs_, base, first, last, options_.segment_bytes, counts)) {
      return false;
    }
    uint64_t estimate = 0;
    for (uint64_t count : counts) estimate += count;
    if (estimate > 2 * static_cast<uint64_t>(options_.max_spans)) {
      return Grouped(first, last, counts, options_.max_spans / 4 * 3, spans, after_key);
    }
    switch (FindDenseSpans(input_, jobs_, base, first, last, options_.max_spans,
                           options_.segment_bytes, spans, counts, summary_only_, CountCut())) {
      case DenseResult::kStopped:
        return false;
      case DenseResult::kFound:
        return DenseKeys(first, last, spans, after_key);
      case DenseResult::kTooMany:
        break;
    }
    return Grouped(first, last, counts, options_.max_spans, spans, after_key);
  }

  // Too many spans to keep at once: the keys (slots of the page) first..last in groups whose spans
  // (by `counts`) fit `limit`, each group a pass of its own, and a key with more spans than a pass
  // keeps alone on a pass of the single-key scanner. A group whose spans do not fit after all
  // (`counts` was an estimate) is grouped again by the counts its pass found. False when a stop
  // ended it.
  bool Grouped(int first_key, int last_key, const std::array<uint64_t, 256>& counts, uint64_t limit,
               DenseSpans& spans, const std::function<bool(int)>& after_key) {
    struct Group {
      int first, last;
      bool alone;
    };
    std::vector<Group> groups;
    for (int first = first_key; first <= last_key;) {
      int last = first;
      const bool alone = counts[first] > options_.max_spans;
      if (!alone) {
        // A group stays inside one lane of 64 keys, whose pass takes a quarter of the work.
        uint64_t total = counts[first];
        while (last < last_key && (last + 1) % 64 != 0 && counts[last + 1] <= options_.max_spans &&
               total + counts[last + 1] <= limit) {
          total += counts[++last];
        }
      }
      groups.push_back({first, last, alone});
      first = last + 1;
    }
    // A pass of the key sets costs about as much as kDensePassCost passes of the single-key
    // scanner: past that many groups, one pass per key is cheaper.
    if (groups.size() * kDensePassCost > static_cast<size_t>(last_key - first_key + 1)) {
      groups = {{first_key, last_key, true}};
    }
    bool rest_tried = false;
    for (size_t g = 0; g < groups.size(); ++g) {
      const Group& group = groups[g];
      // Under a floor a pass keeps only the runs that may pass it, far fewer than `counts` says:
      // once there is one (from the pages before, or the groups before on a row's first page),
      // the groups left may all fit one pass of the whole key sets instead of a pass each (tried
      // once). Their keys are then summarized group by group, in the stages they would have had.
      if (!rest_tried && CountCut() > 0) {
        rest_tried = true;
        std::array<uint64_t, 256> rest_counts{};
        switch (FindDenseSpans(input_, jobs_, page_base_, group.first, last_key, options_.max_spans,
                               options_.segment_bytes, spans, rest_counts, summary_only_,
                               CountCut())) {
          case DenseResult::kStopped:
            return false;
          case DenseResult::kFound:
            for (; g < groups.size(); ++g) {
              const Group& rest = groups[g];
              if (rest.alone ? !EachKey(PageKeys(rest.first, rest.last), after_key)
                             : !DenseKeys(rest.first, rest.last, spans, after_key)) {
                return false;
              }
            }
            return true;
          case DenseResult::kTooMany:
            break;
        }
      }
      const std::vector<int> keys = PageKeys(group.first, group.last);
      if (group.alone) {
        if (!EachKey(keys, after_key)) return false;
        continue;
      }
      // One DenseSpans for every group: a pass takes over the memory of the one before.
      std::array<uint64_t, 256> group_counts{};
      switch (FindDenseSpans(input_, jobs_, page_base_, group.first, group.last, options_.max_spans,
                             options_.segment_bytes, spans, group_counts, summary_only_,
                             CountCut())) {
        case DenseResult::kStopped:
          return false;
        case DenseResult::kTooMany:
          // Counted exactly now: the groups made of these counts fit.
          if (limit < options_.max_spans && group.first < group.last) {
            if (!Grouped(group.first, group.last, group_counts, options_.max_spans, spans,
                         after_key)) {
              return false;
            }
          } else if (!EachKey(keys, after_key)) {
            return false;
          }
          break;
        case DenseResult::kFound:
          if (!DenseKeys(group.first, group.last, spans, after_key)) return false;
          break;
      }
    }
    return true;
  }

  // The keys of slots first..last of the page.
  std::vector<int> PageKeys(int first, int last) const {
    std::vector<int> keys;
    for (int key = first; key <= last; ++key) keys.push_back(page_base_ + key);
    return keys;
  }

  // The lines of the keys (slots of the page) first..last from their spans. Without a summary a key
  // with many spans is split into parts of consecutive segments (a megabyte of lines in a binary by
  // default), jobs of their own written in order: the lines that wait for the key before them stay
  // few enough for the cache, and at the end both workers have a part to do rather than one key
  // left on one of them. (A summary is kept per key: a part's own would score strings that the
  // key's best ones make needless.)
  bool DenseKeys(int first, int last, const DenseSpans& spans,
                 const std::function<bool(int)>& after_key) {
    std::vector<Part> parts;
    const bool split = context_.Summary == nullptr;
    for (int key = first; key <= last; ++key) {
      size_t from = 0;
      uint64_t part_spans = 0;
      for (size_t s = 0; s < spans.segments.size(); ++s) {
        const DenseSpans::Segment& segment = spans.segments[s];
        part_spans += segment.offsets[key + 1] - segment.offsets[key];
        if (split && part_spans >= options_.part_spans && s + 1 < spans.segments.size()) {
          parts.push_back({key, from, s + 1, false});
          from = s + 1;
          part_spans = 0;
        }
      }
      parts.push_back({key, from, spans.segments.size(), true});
    }
    Summaries summaries(parts.size(), context_.Summary != nullptr);
    // A summary under a floor takes the page's keys in stages: the keys of a stage summarized
    // whole raise the floor of the stages after it, so that a page's own first keys prove most
    // of its others below the top (the first page of a row has no keys before it). The stages
    // are fixed by the keys alone, so the summaries are the same whatever order jobs run in.
    const bool staged = summary_only_ && options_.rank_floor != nullptr;
    const size_t stage_parts = staged ? kFloorStageKeys : parts.size();
    for (size_t from = 0; from < parts.size(); from += stage_parts) {
      const size_t count = std::min(stage_parts, parts.size() - from);
      if (staged) floor_ = std::max(floor_, options_.rank_floor->Floor());
      if (!DenseStage(parts, from, count, spans, summaries, after_key)) return false;
    }
    return true;
  }

  struct Part {
    int key;
    size_t from, to;  // segments
    bool last;        // the key's last part
  };

  // Parts [first, first + count) of DenseKeys, written in order; false when a stop ended them.
  bool DenseStage(const std::vector<Part>& parts, size_t first, size_t count,
                  const DenseSpans& spans, Summaries& summaries,
                  const std::function<bool(int)>& after_key) {
    return jobs_.RunOrdered(
        count,
        [&](size_t j, JobOutput& out) {
          const size_t i = first + j;
          const Part& part = parts[i];
          const KeyView key(input_, page_base_ + part.key);
          if (summary_only_) return SummarizeKey(key, spans, part.key, out, *summaries[i]);
          Judged(key, out, summaries[i], [&](SpanJudge& judge) {
            size_t judged = 0;
            bool go_on = true;
            spans.ForEach(part.key, part.from, part.to, [&](uint64_t start, uint64_t length) {
              if (!go_on) return;
              if (++judged % kSpansPerCheckpoint == 0 && !(go_on = out.Checkpoint())) return;
              uint64_t end = start + length;
              if (length == DenseSpans::kLongSpan) {
                if (!ReadMapped([&] { end = key.SpanEnd(end, input_.size); })) {
                  throw InputReadError();
                }
              }
              judge.Judge({start, end});
            });
          });
        },
        [&](size_t j) {
          const size_t i = first + j;
          const int key = page_base_ + parts[i].key;
          summaries.MergeInto(context_.Summary, i, key);
          if (parts[i].last) AddToFloor(key);
          return !parts[i].last || after_key(key);
        });
  }

  // The bound under which the dense pass counts a run instead of keeping it: the floor, but
  // never above the threshold. A run between the two is judged as the floor would count it, and
  // a key whose strings are summarized again above the threshold finds every run that may pass
  // it among the kept ones, with no scan of its own.
  float CountCut() const {
    return std::min(floor_, static_cast<float>(KeySummary::kThresholdBits));
  }

  // A key of the page (slot `slot`), all its runs in this job, counted and scored into
  // `summary` with no line made. Under a floor (RankFloor) most of its runs are counted from
  // their bounds alone; a key whose strings were left unscored for the floor alone carries its
  // bound, unless some string passed the floor: its runs are then summarized again whole, unless
  // the floor lies below the threshold and a string above it ranks the key.
  void SummarizeKey(const KeyView& key, const DenseSpans& spans, int slot, JobOutput& out,
                    KeySummary& summary) {
    SpanJudge judge(input_, key, out, &summary);
    judge.SetFloor(floor_);
    const uint64_t max_length = input_.fields->MaxLength;
    int64_t lines = 0;  // counted since the last checkpoint
    bool go_on = true;
    auto summarize = [&](bool count) {
      size_t judged = 0;
      spans.ForEachBounded(slot, 0, spans.segments.size(),
                           [&](uint64_t start, uint64_t length, uint16_t bound) {
                             if (!go_on) return;
                             if (++judged % kSpansPerCheckpoint == 0) {
                               out.EndLines(lines);
                               lines = 0;
                               if (!(go_on = out.Checkpoint())) return;
                             }
                             uint64_t end = start + length;
                             if (length == DenseSpans::kLongSpan) {
                               if (!ReadMapped([&] { end = key.SpanEnd(end, input_.size); })) {
                                 throw InputReadError();
                               }
                             }
                             if (max_length != 0 && end - start > max_length) return;
                             lines += count;
                             judge.SummarizeSpan({start, end}, bound);
                           });
    };
    bool counted = false;  // runs that the pass counted without keeping them
    try {
      summarize(true);
      judge.FinishSpans();
      const uint64_t runs = AddCounted(spans, slot, judge, summary);
      counted = runs != 0;
      lines += static_cast<int64_t>(runs);
    } catch (...) {
      out.EndLines(lines);  // the strings before the error count
      throw;
    }
    out.EndLines(lines);
    if (!go_on || !judge.Lossy()) return;
    if (!judge.Passed()) {
      summary.SetBound(judge.LossBound());
      return;
    }
    // A floor at or below the threshold left out only strings below it: when a string that
    // passed it made the key's best or weak string, none of them could have.
    if (floor_ <= KeySummary::kThresholdBits && (summary.Score() > 0 || summary.WeakScore() > 0)) {
      return;
    }
    // A key with evidence ranks by its best strings alone: when every string left out scores
    // less than the last of them, none could have taken its place.
    const bool evidence = summary.Score() > 0;
    if (evidence && judge.LostBelow(summary.EntryScore())) return;
    // Else its strings are summarized again, those that may pass the threshold scored: with
    // evidence, no string below it changes the key's score or best string.
    summary = KeySummary();
    judge.ClearLoss();
    judge.SetFloor(evidence ? static_cast<float>(KeySummary::kThresholdBits) : 0);
    lines = 0;
    if (counted && evidence) {
      // Every run the pass only counted scores at most the threshold (CountCut): counted again
      // as it was.
      summarize(false);
      judge.FinishSpans();
      AddCounted(spans, slot, judge, summary);
      return;
    }
    if (counted) {
      // Without evidence the runs between kWeakBits and the threshold matter, and the pass
      // counted them: they are found again by the key's own scan. A fixed map's runs get their
      // pair bounds as the pass gives them, so that most are counted unread and the rest have
      // their model bounds read together.
      const bool fixed_map = !key.running() && !input_.wide;
      const DecodeTable& decode = key.decode();
      const uint8_t* data = input_.data;
      std::vector<uint8_t> values;
      for (int c = 0; c < 256; ++c) {
        if (input_.in_alphabet[c]) values.push_back(static_cast<uint8_t>(c));
      }
      const std::shared_ptr<const TripleGainTable> triple = TripleGains(values);
      ScanRange(input_, key, 0, input_.size, false, out, [&](const Span& span) {
        if (max_length != 0 && span.end - span.start > max_length) return;
        uint16_t bound = DenseSpans::kUnknownBound;
        if (fixed_map && span.end - span.start < DenseSpans::kLongSpan) {
          int64_t units = 0;
          if (!ReadMapped([&] {
                const uint64_t length = span.end - span.start;
                units = triple ? StoredTripleBound(data + span.start, length, decode, *triple)
                               : StoredPairBound(data + span.start, length, decode);
              })) {
            throw InputReadError();
          }
          bound = static_cast<uint16_t>(
              std::clamp<int64_t>(units, 0, int64_t{DenseSpans::kUnknownBound} - 1));
          if (units >= DenseSpans::kUnknownBound) bound = DenseSpans::kUnknownBound;
        }
        judge.SummarizeSpan(span, bound);
      });
    } else {
      summarize(false);
    }
    judge.FinishSpans();
  }

  // Adds the runs of slot `slot` that the pass counted under its floor (DenseSpans::Segment::
  // counted) to the key's summary and to what its judge's floor left out; returns their number.
  uint64_t AddCounted(const DenseSpans& spans, int slot, SpanJudge& judge, KeySummary& summary) {
    CountedRuns all;
    std::vector<float> lost;
    for (const DenseSpans::Segment& segment : spans.segments) {
      if (segment.counted.empty()) continue;
      const CountedRuns& runs = segment.counted[static_cast<size_t>(slot)];
      all.count += runs.count;
      all.characters += runs.characters;
      // Segments come in file order: the first of equally long runs stays.
      if (runs.longest > all.longest) {
        all.longest = runs.longest;
        all.longest_start = runs.longest_start;
      }
      all.lossy |= runs.lossy;
      lost.insert(lost.end(), runs.lost.begin(), runs.lost.begin() + runs.lost_count);
    }
    if (all.count == 0) return 0;
    const Span longest{all.longest_start, all.longest_start + all.longest};
    summary.CountMany(all.count, all.characters, longest.start, all.longest,
                      summary.MayBecomeLongest(longest.start, all.longest)
                          ? judge.Text(longest, KeySummary::kTextBytes)
                          : std::string_view());
    judge.AddLoss(all.lossy, lost);
    return all.count;
  }

  // A key searched whole raises the floor of the stages and pages that follow.
  void AddToFloor(int key) {
    if (!summary_only_ || !options_.rank_floor || context_.Summary == nullptr) return;
    const std::vector<bool>& counted = options_.floor_keys;
    if (!counted.empty() && (key >= static_cast<int>(counted.size()) || !counted[key])) return;
    options_.rank_floor->Add((*context_.Summary)[key]);
  }

  // NONE decodes alike under every key: one scan finds the accepted strings, and every key writes
  // them again with its own number. The strings are kept while they fit.
  void Unkeyed(const std::function<bool(int)>& after_key) {
    const KeyView key(input_, 1);
    const uint64_t segment = std::max<uint64_t>(1, options_.segment_bytes);
    const size_t segments = static_cast<size_t>(CeilDiv(input_.size, segment));
    CappedCollector<Span> accepted(segments, options_.max_regions);
    // An error while a segment is judged (a failing expression, a file that can no longer be
    // read) comes after the strings before it, as a pass would meet it.
    std::vector<std::exception_ptr> errors(segments);
    const bool completed = jobs_.RunAll(segments, [&](size_t s, JobOutput& out) {
      SpanJudge judge(input_, key, out);
      try {
        ScanRange(input_, key, s * segment, std::min(input_.size, (s + 1) * segment), false, out,
                  [&](const Span& span) {
                    if (!accepted.full() && judge.Accepts(span)) accepted.Add(s, span);
                  });
      } catch (...) {
        errors[s] = std::current_exception();
      }
    });
    if (!completed) return;
    std::vector<Span> spans;
    std::exception_ptr error;
    for (size_t s = 0; s < segments && !error; ++s) {
      spans.insert(spans.end(), accepted.part(s).begin(), accepted.part(s).end());
      error = errors[s];
    }
    if (!accepted.kept_all()) {
      EachKey(EveryKey(*input_.algorithm), after_key);
      return;
    }
    // Every key has the same strings: the summary keeps key 1's.
    Summaries summaries(1, context_.Summary != nullptr);
    jobs_.RunOrdered(
        255,
        [&](size_t i, JobOutput& out) {
          const KeyView key_i(input_, static_cast<uint8_t>(i + 1));
          Judged(key_i, out, i == 0 ? summaries[0] : nullptr, [&](SpanJudge& judge) {
            for (size_t n = 0; n < spans.size(); ++n) {
              if (n % kSpansPerCheckpoint == 0 && !out.Checkpoint()) return;
              judge.Write(spans[n]);
            }
            if (error) std::rethrow_exception(error);
          });
        },
        [&](size_t i) {
          if (i == 0) summaries.MergeInto(context_.Summary, 0, 1);
          return after_key(static_cast<int>(i) + 1);
        });
  }

  // Runs body(judge) over a job's spans and writes the lines that wait in the judge when it
  // ends, also when an error ends it: the lines before the error are written.
  template <class Body>
  void Judged(const KeyView& key, JobOutput& out, KeySummary* summary, Body&& body) {
    SpanJudge judge(input_, key, out, summary);
    try {
      body(judge);
    } catch (...) {
      judge.Flush();
      throw;
    }
    judge.Flush();
  }

  TScanContext& context_;
  const ScanOptions& options_;
  ScanInput input_;
  JobRunner jobs_;
  int page_base_ = 0;  // the first key of the page that the dense search works on
  std::shared_ptr<DenseSpans> dense_spans_;  // kept from page to page
  // A summary's search that makes no line and asks no expression: its dense keys are summarized
  // from their runs' bounds (SummarizeKey).
  const bool summary_only_;
  float floor_ = 0;  // of the page being searched
};

}  // namespace

ScanOptions::Search ChooseSearch(const TAlgorithm& algorithm, const SearchFields& fields) {
  if (algorithm.Family == CipherFamily::kNone || algorithm.Repeating) {
    return ScanOptions::Search::kEachKey;
  }
  if (algorithm.Family == CipherFamily::kMap) return ScanOptions::Search::kDense;
  if (fields.Alphabet.empty()) return ScanOptions::Search::kSparse;  // nothing to find
  if (fields.MinLength < 2) return ScanOptions::Search::kDense;
  return PairValueCount(AlphabetSet(fields.Alphabet), algorithm.Family) <= kSparsePairValues
             ? ScanOptions::Search::kSparse
             : ScanOptions::Search::kDense;
}

void ScanPass(const TAlgorithm& algorithm, const SearchFields& fields, TScanContext& context,
              const ScanOptions& options) {
  Search(algorithm, fields, context, options).OneKey();
}

void ScanAllKeys(const TAlgorithm& algorithm, const SearchFields& fields, TScanContext& context,
                 const std::function<bool(int)>& after_key, const ScanOptions& options) {
  ScanOptions::Search search = options.search;
  if (search == ScanOptions::Search::kAuto) search = ChooseSearch(algorithm, fields);
  // The pair screening needs two bytes to a span.
  if (search == ScanOptions::Search::kSparse && fields.MinLength < 2) {
    search = ScanOptions::Search::kDense;
  }
  Search(algorithm, fields, context, options).AllKeys(after_key, search);
}

}  // namespace veskor
