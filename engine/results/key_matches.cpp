// One key's strings that pass a filter, counted by the scan that finds them again for the list.
#include "engine/results/key_matches.h"

#include "engine/results/key_strings.h"
#include "engine/search/scan_input.h"

namespace veskor {

MatchCount CountKeyMatches(const RunSearch& search, int key,
                           const std::function<bool(std::string_view)>& filter,
                           std::atomic<bool>& stop, const std::function<void(double)>& progress,
                           uint64_t slice_bytes) {
  // The scan's checkpoints read the thread's stop flag: this count's, and not the run's, whose
  // Stop has nothing to do with it.
  StopScope scope(stop);
  MatchCount result;
  KeyStrings strings(PairSearch(search, key), PairKeyOf(search, key), filter);
  switch (strings.Open()) {
    case KeyStrings::Status::kReady:
      break;
    case KeyStrings::Status::kChanged:
      result.status = MatchCount::Status::kChanged;
      return result;
    case KeyStrings::Status::kCannotRead:
      result.status = MatchCount::Status::kCannotRead;
      return result;
  }
  try {
    for (;;) {
      const bool complete = strings.Advance(slice_bytes);
      // A slice that a checkpoint cut short counts only part of its strings.
      if (stop.load(std::memory_order_relaxed)) {
        result.status = MatchCount::Status::kStopped;
        return result;
      }
      if (progress) progress(strings.progress());
      if (complete) break;
    }
  } catch (const InputReadError&) {
    result.status = MatchCount::Status::kChanged;
    return result;
  } catch (const InputChangedError&) {
    result.status = MatchCount::Status::kChanged;
    return result;
  }
  result.count = strings.count();
  return result;
}

}  // namespace veskor
