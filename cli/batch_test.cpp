// The batch's files one after another and side by side: their output in the batch's order, a
// later file's output held while an earlier one runs, and the ends of a batch.
#include "cli/batch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

#include "cli/captured_output.h"

namespace veskor {
namespace {

constexpr auto kPatience = std::chrono::minutes(2);

// Hands the entries "0", "1", ... to the batch; `ended_at` is the entry the batch refused, or
// `count` when it took them all.
WalkEntries Entries(int count, int& ended_at, const std::function<void(int)>& before = {}) {
  return [count, &ended_at, before](const std::function<bool(const BatchEntry&)>& visit) {
    for (ended_at = 0; ended_at < count; ++ended_at) {
      if (before) before(ended_at);
      BatchEntry entry;
      entry.path = std::to_string(ended_at);
      if (!visit(entry)) return;
    }
  };
}

// The scans seen so far, shared by the workers.
struct Scans {
  std::mutex mutex;
  std::condition_variable changed;
  std::set<std::string> started;
  int finished = 0;

  void Start(const std::string& path) {
    std::lock_guard lock(mutex);
    started.insert(path);
  }
  void Finish() {
    std::lock_guard lock(mutex);
    ++finished;
    changed.notify_all();
  }
  bool WaitForFinished(int count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, kPatience, [&] { return finished >= count; });
  }
};

TEST(ScanBatch, OutputFollowsTheBatchsOrderAndALaterFileIsHeldWhileAnEarlierOneRuns) {
  for (const int workers : {2, 3}) {
    SCOPED_TRACE(workers);
    constexpr int kFiles = 6;
    Scans scans;
    std::string written_while_first_ran = "unread";
    Captured captured;
    int ended_at = -1;
    std::atomic<bool> stop{false};
    ScanBatch(
        Entries(kFiles, ended_at), workers, 0,
        [&](const BatchEntry& entry, FileOutput& out, int) {
          // The first file ends last of all: the others' output waits for it.
          if (entry.path == "0") {
            EXPECT_TRUE(scans.WaitForFinished(kFiles - 1));
            written_while_first_ran = captured.Out() + "|" + captured.Err();
          }
          out.Err("err " + entry.path);
          const bool written = out.Out("out " + entry.path + "\n");
          scans.Finish();
          return written;
        },
        stop);
    EXPECT_EQ(ended_at, kFiles);
    EXPECT_EQ(written_while_first_ran, "|");
    EXPECT_EQ(captured.Out(), "out 0\nout 1\nout 2\nout 3\nout 4\nout 5\n");
    EXPECT_EQ(captured.Err(), "err 0\nerr 1\nerr 2\nerr 3\nerr 4\nerr 5\n");
  }
}

// A file whose scan answers false (a signal's stop, standard output gone) is the batch's last:
// no file after it is scanned one after another, nor reported side by side.
TEST(ScanBatch, AFileThatEndsTheBatchIsTheLastReported) {
  for (const int workers : {1, 2, 3}) {
    SCOPED_TRACE(workers);
    Scans scans;
    Captured captured;
    int ended_at = -1;
    std::atomic<bool> stop{false};
    ScanBatch(
        Entries(8, ended_at), workers, 0,
        [&](const BatchEntry& entry, FileOutput& out, int) {
          scans.Start(entry.path);
          out.Out(entry.path + " ");
          return entry.path != "2";
        },
        stop);
    EXPECT_EQ(captured.Out(), "0 1 2 ");
    if (workers == 1) {
      EXPECT_EQ(ended_at, 2);
      EXPECT_EQ(scans.started, (std::set<std::string>{"0", "1", "2"}));
    }
  }
}

// A stop that comes while the files are walked (a signal) refuses the next file: the walk ends
// there, and the files already handed on are all reported.
TEST(ScanBatch, AStopDuringTheWalkRefusesTheNextFile) {
  Captured captured;
  int ended_at = -1;
  std::atomic<bool> stop{false};
  ScanBatch(
      Entries(10, ended_at, [&](int next) { stop = next == 4; }), 2, 0,
      [&](const BatchEntry& entry, FileOutput& out, int) { return out.Out(entry.path + " "); },
      stop);
  EXPECT_EQ(ended_at, 4);
  EXPECT_EQ(captured.Out(), "0 1 2 3 ");
}

}  // namespace
}  // namespace veskor
