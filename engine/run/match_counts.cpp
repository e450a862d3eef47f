// The filter's counts of many keys: a line maker that makes no line but counts, per key, the
// strings whose text the filter accepts, handed to the search of all keys.
#include "engine/run/match_counts.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "engine/input/input_check.h"
#include "engine/input/mapped_input.h"
#include "engine/run/row_filter.h"
#include "engine/search/dense_search.h"
#include "engine/search/line_maker.h"
#include "engine/search/span_judge.h"

namespace veskor {
namespace {

// Every line the search would write is a string of the key's list: the filter is asked about
// its text, and the key's count grows by the strings it accepts. Nothing is written.
class CountingLines : public LineMaker {
 public:
  CountingLines(const std::function<bool(std::string_view)>& filter, int keys)
      : filter_(filter), counts_(static_cast<size_t>(keys)) {}

  void AppendLine(LineBuffer&, int32_t key, int32_t, int64_t,
                  std::string_view text) const override {
    Take(key, text);
  }
  void WriteLine(ByteSink&, int32_t key, int32_t, int64_t, const LongText& text) const override {
    // A long string's list shows, and filters, its first kHeldTextBytes.
    struct Held : ByteSink {
      std::string text;
      void Write(std::string_view piece) override { text.append(piece); }
    } held;
    text.WriteTo(std::min(text.size(), kHeldTextBytes), held);
    Take(key, held.text);
  }
  uint64_t count(int key) const {
    return counts_[static_cast<size_t>(key)].value.load(std::memory_order_relaxed);
  }

 private:
  void Take(int32_t key, std::string_view text) const {
    if (!filter_ || filter_(text)) {
      counts_[static_cast<size_t>(key)].value.fetch_add(1, std::memory_order_relaxed);
    }
  }

  // A line of the cache each: the workers count different keys side by side.
  struct alignas(64) Count {
    std::atomic<uint64_t> value{0};
  };
  const std::function<bool(std::string_view)>& filter_;
  mutable std::vector<Count> counts_;
};

// The count's side of a search: nothing to write; a pass's percent is its progress.
class CountServices : public ScanServices {
 public:
  explicit CountServices(std::function<void(int)> percent) : percent_(std::move(percent)) {}
  void Write(std::string_view) override {}
  void SetProgress(int percent) override { percent_(percent); }
  void Pace(int64_t) override {}

 private:
  std::function<void(int)> percent_;
};

// The keys asked of one algorithm: each key of the algorithm beside the key it was asked as (a
// pair of an ANY row, else the same).
struct AlgorithmKeys {
  TAlgorithm algorithm;
  std::vector<std::pair<int, int>> keys;
};

std::vector<AlgorithmKeys> GroupKeys(const RunSearch& search, const std::vector<int>& keys) {
  if (!search.any) {
    AlgorithmKeys group{search.algorithm, {}};
    for (int key : keys) group.keys.emplace_back(key, key);
    return {std::move(group)};
  }
  std::map<int, AlgorithmKeys> by_algorithm;  // in the algorithms' order
  for (int pair : keys) {
    AlgorithmKeys& group = by_algorithm[RowSummary::PairAlgorithm(pair)];
    if (group.keys.empty()) group.algorithm = PairSearch(search, pair).algorithm;
    group.keys.emplace_back(RowSummary::PairKey(pair), pair);
  }
  std::vector<AlgorithmKeys> groups;
  for (auto& [index, group] : by_algorithm) groups.push_back(std::move(group));
  return groups;
}

}  // namespace

MatchCountsOutcome CountMatchesOfKeys(const RunSearch& search, const std::vector<int>& keys,
                                      const std::function<bool(std::string_view)>& filter,
                                      std::atomic<bool>& stop,
                                      const std::function<void(int, uint64_t)>& counted,
                                      const std::function<void(double)>& progress,
                                      const ScanOptions& options) {
  // The search's checkpoints read the thread's stop flag: this count's, not the run's.
  StopScope scope(stop);
  MappedInput mapped;
  if (mapped.Open(search.input) != MappedInput::Result::kOk) {
    return MatchCountsOutcome::kCannotRead;
  }
  if (CompareStamps(search.stamp, mapped.stamp()).any()) return MatchCountsOutcome::kChanged;

  // What each algorithm's keys take: one search of all keys over the range of those it has, and
  // a pass for each of the rest (a lone key, one outside the range, or an unkeyed algorithm's
  // keys together). The work is told in keys searched, a pass counting as one.
  struct Work {
    AlgorithmKeys group;
    int first = 0, last = -1;              // the search of all keys, when first <= last
    std::vector<std::vector<int>> passes;  // places in group.keys, those of a pass together
  };
  std::vector<Work> works;
  double total = 0;
  for (AlgorithmKeys& group : GroupKeys(search, keys)) {
    Work work;
    work.group = std::move(group);
    const TAlgorithm& algorithm = work.group.algorithm;
    std::vector<int> in_range;
    for (size_t i = 0; i < work.group.keys.size(); ++i) {
      const int key = work.group.keys[i].first;
      if (!algorithm.Unkeyed() && key >= algorithm.FirstKey && key <= algorithm.LastKey) {
        in_range.push_back(static_cast<int>(i));
      } else if (algorithm.Unkeyed() && !work.passes.empty()) {
        work.passes.front().push_back(static_cast<int>(i));
      } else {
        work.passes.push_back({static_cast<int>(i)});
      }
    }
    if (in_range.size() == 1) {
      work.passes.push_back(in_range);
    } else if (!in_range.empty()) {
      work.first = algorithm.LastKey;
      work.last = algorithm.FirstKey;
      for (int i : in_range) {
        work.first = std::min(work.first, work.group.keys[static_cast<size_t>(i)].first);
        work.last = std::max(work.last, work.group.keys[static_cast<size_t>(i)].first);
      }
      total += work.last - work.first + 1;
    }
    total += static_cast<double>(work.passes.size());
    works.push_back(std::move(work));
  }

  double done = 0;
  auto tell = [&](double more) {
    if (progress && total > 0) progress(std::min(1.0, (done + more) / total));
  };
  CountServices services([&](int percent) { tell(percent / 100.0); });
  const RowFilter expression(search.fields.RegExp);
  // The algorithms' searches follow one another: they share the memory of their spans.
  ScanOptions shared = options;
  if (!shared.dense_spans) shared.dense_spans = std::make_shared<DenseSpans>();
  // True when the stop ended the count.
  auto count_all = [&] {
    for (const Work& work : works) {
      TAlgorithm algorithm = work.group.algorithm;
      int key_slots = std::max(algorithm.LastKey, 255) + 1;
      for (const auto& [key, asked] : work.group.keys) key_slots = std::max(key_slots, key + 1);
      const CountingLines lines(filter, key_slots);
      TScanContext context =
          ContextOver(mapped.data(), mapped.size(), services, lines, &expression);
      context.Width = search.width;
      context.LastEvents = std::chrono::steady_clock::now();
      if (work.first <= work.last) {
        // Keys asked more than once (pairs never are; a plain row's list may be) are all told.
        std::multimap<int, int> asked_as;
        for (const auto& [key, asked] : work.group.keys) {
          if (key >= work.first && key <= work.last) asked_as.emplace(key, asked);
        }
        algorithm.FirstKey = work.first;
        algorithm.LastKey = work.last;
        context.SingleKey = false;
        ScanAllKeys(
            algorithm, search.fields, context,
            [&](int key) {
              if (stop.load(std::memory_order_relaxed)) return false;
              done += 1;
              tell(0);
              const auto [from, to] = asked_as.equal_range(key);
              if (from != to) CheckInput(search.input, search.stamp);
              for (auto it = from; it != to; ++it) counted(it->second, lines.count(key));
              return true;
            },
            shared);
        if (stop.load()) return true;
      }
      for (const std::vector<int>& pass : work.passes) {
        const int key = work.group.keys[static_cast<size_t>(pass.front())].first;
        context.Key = key;
        context.SingleKey = true;
        ScanPass(algorithm, search.fields, context, shared);
        if (stop.load()) return true;
        CheckInput(search.input, search.stamp);
        // An unkeyed algorithm's keys have the same strings.
        for (int i : pass)
          counted(work.group.keys[static_cast<size_t>(i)].second, lines.count(key));
        done += 1;
        tell(0);
      }
    }
    return false;
  };
  try {
    if (count_all()) return MatchCountsOutcome::kStopped;
  } catch (const InputReadError&) {
    return MatchCountsOutcome::kChanged;
  } catch (const InputChangedError&) {
    return MatchCountsOutcome::kChanged;
  }
  return MatchCountsOutcome::kCounted;
}

}  // namespace veskor
