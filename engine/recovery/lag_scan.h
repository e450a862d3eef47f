// The one pass of key recovery over the stored bytes: for every lag of 1 to 32, which bytes equal
// the byte that many places before them. Long runs of such equality are key leaks; blocks where
// the equalities of one lag and its multiples stand far above the other lags are text (or any
// redundant data) under a key of that period.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace veskor {

inline constexpr int kMaxLag = 32;

// Stored bytes that repeat with a period of `period` bytes over [start, end): where the plain
// bytes are all zero, they are the key itself. Never one byte repeated, and `period` is the
// shortest period of the stretch.
struct LeakStretch {
  uint64_t start = 0, end = 0;
  int period = 0;
  std::array<uint8_t, kMaxLag> key{};  // the repeated bytes aligned to offset 0: key[i mod period]
};

// A stretch of blocks whose lag counts point at text under a key of `period` bytes: `strength`
// is how far the equalities at the period's multiples stand above the other lags, in standard
// deviations, at the stretch's strongest window. Stretches of several periods may overlap.
struct PeriodicWindow {
  uint64_t start = 0, end = 0;
  int period = 0;
  float strength = 0;
  // Equalities per position at a lag of the period's multiples, and at the other lags, on
  // average over the lags: the largest of the stretch's windows, and the smallest (text beside
  // a table makes a stretch whose cleanest window is the text's).
  float on_rate = 0, off_rate = 0;
};

class LagScan {
 public:
  // Positions of equality that make a leak: a leak of period n spans at least this many bytes
  // and n more.
  static constexpr uint64_t kLeakRun = 64;
  // The block whose lag counts are kept, and the blocks of one window.
  static constexpr uint64_t kBlock = 256;
  static constexpr int kWindowBlocks = 4;
  // How far a window's period must stand above its other lags: in standard deviations, and as
  // a ratio of the mean counts.
  static constexpr float kMinStrength = 6.0f;
  static constexpr float kMinRatio = 1.6f;
  // A stretch of windows ends where its rates (equalities per position, at the period's
  // multiples and at the other lags) both become kMaxJump times what they were and rise by
  // kMinOnJump and kMinOffJump, or fall as far: text under a key beside a table.
  static constexpr float kMaxJump = 4.0f;
  static constexpr float kMinOnJump = 0.1f;
  static constexpr float kMinOffJump = 0.02f;

  LagScan(const uint8_t* data, uint64_t size);

  // Scans [begin, end): `begin` is where the last call ended (0 first), `end` a multiple of 64
  // or the size. Touches only the mapping, PODs and the vectors below, which it appends to after
  // its reads: it may be abandoned by a fault of the mapping.
  void Scan(uint64_t end);
  // Ends the pass after the last byte: the runs and the windows still open.
  void Finish();
  uint64_t position() const { return pos_; }

  const std::vector<LeakStretch>& leaks() const { return leaks_; }
  const std::vector<PeriodicWindow>& windows() const { return windows_; }

 private:
  using Masks = std::array<uint64_t, kMaxLag + 1>;
  // The masks of the `count` positions from pos_ (bit t: byte pos_ + t equals the byte L before
  // it), byte by byte: the first positions, whose lags reach before the file, and the last.
  void ScalarMasks(uint64_t count, Masks& masks) const;
  void TakeMasks(const Masks& masks, uint64_t count);
  void TakeVectorMasks(const Masks& masks);
  void OnRunEnd(int lag, uint64_t end, uint64_t length);
  void EndBlock();
  static bool Jumps(float on, float off, float on_after, float off_after);
  void EvaluateWindow(uint64_t start, uint64_t end, const std::array<uint32_t, kMaxLag + 1>& sum);

  const uint8_t* data_;
  uint64_t size_;
  uint64_t pos_ = 0;
  std::array<uint64_t, kMaxLag + 1> run_{};  // equalities in a row at each lag, ending at pos_
  std::array<uint32_t, kMaxLag + 1> block_{};
  uint64_t block_start_ = 0;
  // The counts of the last kWindowBlocks blocks, a ring.
  std::array<std::array<uint32_t, kMaxLag + 1>, kWindowBlocks> recent_{};
  uint64_t blocks_ = 0;
  std::vector<LeakStretch> leaks_;
  std::vector<PeriodicWindow> windows_;
  // Of each period, the stretch of windows that goes on (period 0: none).
  std::array<PeriodicWindow, kMaxLag + 1> open_{};
  // Of each period's open stretch, the lowest rate at its multiples and the highest at the
  // other lags.
  std::array<float, kMaxLag + 1> low_on_rate_{}, high_off_rate_{};
};

// Whether the pass's 64-byte steps use AVX2; tests turn it off to check the portable loop.
bool VectorLagScanEnabled();
void EnableVectorLagScan(bool enabled);

}  // namespace veskor
