// What a caller hands to a long search besides the stop flag: a hook that the search runs every
// few thousand steps, and the counter with which the executors decide when it is due.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace veskor {

// A non-owning reference to a callable taking no arguments, run from inside a search every few
// thousand steps or bytes, so that the caller can process its events (a "Stop" click arrives
// there) or look at a clock. It may set the stop flag, which the search reads right after it.
// The callable must outlive the search call it is passed to, as a temporary lambda does.
class SearchHook {
 public:
  SearchHook() = default;
  template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, SearchHook>>>
  SearchHook(F&& callable)  // NOLINT: implicit, like a function reference
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
        call_([](void* object) { (*static_cast<std::remove_reference_t<F>*>(object))(); }) {}

  explicit operator bool() const { return call_ != nullptr; }
  void operator()() const { call_(object_); }

 private:
  void* object_ = nullptr;
  void (*call_)(void*) = nullptr;
};

namespace regexp {

// Counts a search's work in steps (or bytes / 16) and, every kInterval of them, runs the hook
// and reads the stop flag. Once the flag has been seen set, it stays stopped.
class Poller {
 public:
  static constexpr int64_t kInterval = 2048;

  Poller(const std::atomic<bool>* stop, SearchHook hook) : stop_(stop), hook_(hook) {}

  // Counts `work` units; true when the search must end. Cheap until the interval is used up.
  bool Tick(int64_t work = 1) {
    budget_ -= work;
    return budget_ <= 0 && Poll();
  }

  // Runs the hook now and reads the flag; true when the search must end.
  bool Poll() {
    budget_ = kInterval;
    if (stopped_) return true;
    if (hook_) hook_();
    stopped_ = stop_ != nullptr && stop_->load(std::memory_order_relaxed);
    return stopped_;
  }

  bool stopped() const { return stopped_; }

 private:
  const std::atomic<bool>* stop_;
  SearchHook hook_;
  int64_t budget_ = kInterval;
  bool stopped_ = false;
};

// Working memory of type T for one search on this thread, reused from search to search. A hook
// may start another search on the same thread (an event handler), so every nesting level gets
// its own object.
template <typename T>
class ScratchLease {
 public:
  ScratchLease() {
    Pool& pool = ThreadPool();
    if (pool.depth == pool.levels.size()) pool.levels.push_back(std::make_unique<T>());
    scratch_ = pool.levels[pool.depth++].get();
  }
  ~ScratchLease() { --ThreadPool().depth; }
  ScratchLease(const ScratchLease&) = delete;
  ScratchLease& operator=(const ScratchLease&) = delete;

  T& operator*() const { return *scratch_; }
  T* operator->() const { return scratch_; }

 private:
  struct Pool {
    std::vector<std::unique_ptr<T>> levels;
    size_t depth = 0;
  };
  static Pool& ThreadPool() {
    thread_local Pool pool;
    return pool;
  }

  T* scratch_;
};

}  // namespace regexp
}  // namespace veskor
