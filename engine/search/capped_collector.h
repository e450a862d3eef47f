// CappedCollector: what the jobs of a search keep for a later pass, each job in a list of its own,
// up to a limit on all of them together, past which the search takes another way.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

namespace veskor {

// Jobs add from any thread, each to its own list; the lists are read once the jobs are done.
template <class T>
class CappedCollector {
 public:
  CappedCollector(size_t jobs, size_t limit) : parts_(jobs), limit_(limit) {}

  // Whether the limit has been passed: a job may then skip the work that would only be added.
  bool full() const { return full_.load(std::memory_order_relaxed); }

  // Keeps `item` in job `job`'s list; false, keeping nothing, from the first item past the limit
  // on (counted over all jobs).
  bool Add(size_t job, const T& item) {
    if (full()) return false;
    if (count_.fetch_add(1, std::memory_order_relaxed) >= limit_) {
      full_.store(true);
      return false;
    }
    parts_[job].push_back(item);
    return true;
  }

  // Whether everything the jobs added was kept; read after the jobs are done.
  bool kept_all() const { return !full_.load(); }
  const std::vector<T>& part(size_t job) const { return parts_[job]; }
  // The lists one after another, in the order of the jobs.
  std::vector<T> Joined() const {
    std::vector<T> all;
    for (const std::vector<T>& part : parts_) all.insert(all.end(), part.begin(), part.end());
    return all;
  }

 private:
  std::vector<std::vector<T>> parts_;
  const size_t limit_;
  std::atomic<size_t> count_{0};
  std::atomic<bool> full_{false};
};

}  // namespace veskor
