// Key recovery on generated files: a key leaked through zero bytes at every phase and alignment,
// text under a key, alone and beside a table, files that hide nothing, merging, the cap, a stop;
// and the lag pass's vector loop against its portable one.
#include "engine/recovery/key_recovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/recovery/lag_scan.h"
#include "engine/recovery/text_bytes.h"
#include "engine/recovery/text_fit.h"

namespace veskor {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(uint64_t seed, size_t size) {
  std::mt19937_64 rng(seed);
  Bytes bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// A key of n bytes with no zero byte (which would lower its rank) and no shorter period.
XorKey KeyOf(size_t n, uint64_t seed) {
  Bytes bytes = Random(seed, n);
  for (uint8_t& b : bytes) b |= b == 0;
  bytes[0] = static_cast<uint8_t>(bytes[1] == 1 ? 2 : 1);
  return *XorKey::Of(bytes);
}

// Stores `plain` at `offset` of `file`, encoded from its own first byte with `key`.
void Hide(Bytes& file, size_t offset, const std::string& plain, const XorKey& key) {
  for (size_t t = 0; t < plain.size(); ++t) file[offset + t] = plain[t] ^ key.At(t);
}

std::vector<KeyCandidate> Recover(const Bytes& file, RecoveryOptions options = {}) {
  return RecoverKeys(file.data(), file.size(), options);
}

// The place (1 first) of `key` among the candidates, 0 when it is none of them.
size_t PlaceOf(const std::vector<KeyCandidate>& candidates, const XorKey& key) {
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (candidates[i].key == key) return i + 1;
  }
  return 0;
}

// A stretch of zero bytes under a key gives the key away, turned to the file's offsets, at any
// phase and at any alignment to the pass's steps, from the shortest leak it takes on.
TEST(KeyRecovery, LeakOfZeroBytesGivesTheKeyAtAnyPhase) {
  for (const size_t n : {2, 3, 5, 8, 13, 16, 31, 32}) {
    const XorKey key = KeyOf(n, n);
    for (const size_t offset : {size_t{4096}, size_t{4097}, 4096 + n - 1, size_t{5000 + 3 * n},
                                size_t{6143}, size_t{8150}}) {
      // A leak is kLeakRun equalities a period apart: kLeakRun + n zero bytes.
      const size_t zeros = LagScan::kLeakRun + n;
      Bytes file = Random(offset, 12288);
      Hide(file, offset, std::string(zeros, '\0'), key);
      const std::vector<KeyCandidate> found = Recover(file);
      ASSERT_FALSE(found.empty()) << n << " " << offset;
      EXPECT_EQ(found[0].key, key.TurnedTo(offset)) << n << " " << offset;
      EXPECT_EQ(found[0].leak_places, 1u);
      EXPECT_EQ(found[0].leak_bytes, zeros);
      EXPECT_EQ(found[0].first_offset, offset);
      // One zero byte fewer is too short a leak.
      Hide(file, offset + zeros - 1, std::string(1, '\x7F'), key.TurnedTo(zeros - 1));
      EXPECT_EQ(PlaceOf(Recover(file), key.TurnedTo(offset)), 0u) << n << " " << offset;
    }
  }
}

std::string HeldOutText() {
  std::ifstream in(VESKOR_HELD_OUT_TEXT, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Text under a key inside random bytes: its columns give the key; found wherever it lies, and
// not taken for a key when stored plainly.
TEST(KeyRecovery, TextUnderAKeyGivesTheKey) {
  const std::string text = HeldOutText();
  ASSERT_GT(text.size(), 1500u);
  for (const size_t n : {2, 4, 7, 12, 16}) {
    for (const size_t offset : {size_t{0}, size_t{3001}, size_t{20000 - 1700}}) {
      const XorKey key = KeyOf(n, 100 + n);
      Bytes file = Random(n + offset, 20000);
      Hide(file, offset, text, key);
      const std::vector<KeyCandidate> found = Recover(file);
      // Windows of the period's multiples fold to the one key; nothing else reads as text.
      ASSERT_EQ(found.size(), 1u) << n << " " << offset;
      ASSERT_EQ(found[0].key, key.TurnedTo(offset)) << n << " " << offset;
      EXPECT_GE(found[0].text_bytes, text.size() * 9 / 10);
      EXPECT_EQ(found[0].leak_places, 0u);
    }
  }
}

// Text under a key right before a table that repeats with a divisor of the key's period (a
// jump table of 32-bit offsets, most of them one case's): the table repeats at every multiple of
// 4 far more often than the text at the key's period, and a stretch that ran on into it would be
// fitted with the table's columns. The text's stretch ends where the table begins, and its key is
// found.
TEST(LagScan, TextStretchEndsWhereATableOfItsPeriodBegins) {
  const std::string text = HeldOutText();
  const uint64_t window = LagScan::kBlock * LagScan::kWindowBlocks;
  for (const size_t length : {size_t{1300}, size_t{1558}, size_t{2100}}) {
    for (const uint32_t most : {0xFFFF7DBEu, 0x00000240u}) {
      const XorKey key = KeyOf(8, length);
      Bytes file = Random(length, 16384);
      const size_t offset = 4000 + length % 8, table = offset + length;
      Hide(file, offset, text.substr(0, length), key);
      std::mt19937 rng(most);
      for (size_t at = table; at + 4 <= table + 4000; at += 4) {
        const uint32_t value = rng() % 5 ? most : most - 8 * (rng() % 256);
        for (size_t b = 0; b < 4; ++b) file[at + b] = static_cast<uint8_t>(value >> (8 * b));
      }
      LagScan scan(file.data(), file.size());
      scan.Scan(file.size());
      scan.Finish();
      EXPECT_TRUE(std::any_of(scan.windows().begin(), scan.windows().end(),
                              [&](const PeriodicWindow& w) {
                                return w.period % 8 == 0 && w.start <= offset + LagScan::kBlock &&
                                       w.end <= table + window;
                              }))
          << length << " " << most;
      EXPECT_GT(PlaceOf(Recover(file), key.TurnedTo(offset)), 0u) << length << " " << most;
    }
  }
}

// A window of a multiple of the key's period has fewer bytes per column, some of which may fit
// wrongly: the key comes out at its own period all the same.
TEST(TextFit, WindowOfAMultiplePeriodGivesTheKeyAtItsOwnPeriod) {
  const std::string text = HeldOutText();
  PrepareTextBytes();
  const struct {
    size_t n;
    int window_period;
  } cases[] = {{3, 24}, {5, 30}, {4, 32}, {7, 28}, {2, 32}};
  for (const auto& c : cases) {
    const XorKey key = KeyOf(c.n, 7 * c.n);
    Bytes file = Random(c.n, 4000);
    Hide(file, 1000, text, key);
    TextFit fit;
    FitTextKey(file.data(), 1000, 1000 + text.size(), c.window_period, fit);
    ASSERT_EQ(fit.period, static_cast<int>(c.n)) << c.window_period;
    EXPECT_EQ(XorKey::Of({fit.key.data(), c.n}), key.TurnedTo(1000)) << c.window_period;
    EXPECT_GE(fit.end - fit.start, text.size() * 9 / 10);
  }
}

TEST(KeyRecovery, FilesThatHideNothingGiveNoKey) {
  const std::string text = HeldOutText();
  Bytes plain_text(text.begin(), text.end());
  Bytes one_byte_key(4096, 0x41);  // zero bytes under XOR8 0x41: period 1
  Bytes stepped(4096);             // a counting table: no period
  for (size_t i = 0; i < stepped.size(); ++i) stepped[i] = static_cast<uint8_t>(i / 7);
  const struct {
    const char* name;
    Bytes file;
  } cases[] = {{"random", Random(1, 1 << 20)},
               {"plain text", plain_text},
               {"one byte", one_byte_key},
               {"counting", stepped},
               {"empty", {}},
               {"one", {7}}};
  for (const auto& c : cases) EXPECT_TRUE(Recover(c.file).empty()) << c.name;
}

// A key found in several places is one candidate with every place counted; distinct keys are
// ranked by their evidence and capped.
TEST(KeyRecovery, MergesPlacesRanksAndCaps) {
  Bytes file = Random(9, 1 << 18);
  // One payload under one key, with three stretches of zero bytes: the same key aligned to the
  // file at each (their offsets differ by multiples of its size).
  const XorKey repeated = KeyOf(6, 1);
  for (const size_t offset : {1000, 1000 + 6 * 8000, 1000 + 6 * 16001}) {
    Hide(file, offset, std::string(200, '\0'), repeated);
  }
  // Twenty other keys, each leaking once, the later ones longer.
  std::vector<XorKey> others;
  for (size_t k = 0; k < 20; ++k) {
    others.push_back(KeyOf(4 + k % 5, 20 + k));
    Hide(file, 150000 + 5000 * k, std::string(80 + 4 * k, '\0'), others.back());
  }
  RecoveryOptions options;
  options.max_candidates = 5;
  const std::vector<KeyCandidate> found = Recover(file, options);
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(found[0].key, repeated.TurnedTo(1000));
  EXPECT_EQ(found[0].leak_places, 3u);
  EXPECT_EQ(found[0].first_offset, 1000u);
  for (size_t i = 1; i < found.size(); ++i) {
    EXPECT_GE(found[i - 1].weight, found[i].weight);
    EXPECT_EQ(found[i].key, others[20 - i].TurnedTo(150000 + 5000 * (20 - i))) << i;
  }
}

// One payload leaks its key through its zero bytes and, flipped by 0xFF, through its 0xFF bytes:
// one candidate, both places counted.
TEST(KeyRecovery, KeysOneByteApartAreOneFamily) {
  Bytes file = Random(21, 1 << 16);
  const XorKey key = KeyOf(8, 3);
  const std::string plain = std::string(100, '\0') + "gap" + std::string(90, '\xFF');
  Hide(file, 8000, plain, key);
  const std::vector<KeyCandidate> found = Recover(file);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].key, key.TurnedTo(8000));
  EXPECT_EQ(found[0].leak_places, 2u);
  EXPECT_EQ(found[0].leak_bytes, 190u);
}

// The caller's reads see every stretch of the file; when one says to stop, recovery ends with
// what it found before, and an error raised by the guard passes through.
TEST(KeyRecovery, ReadsAreTheCallersToGuardAndStop) {
  Bytes file = Random(3, 1 << 20);
  const XorKey early = KeyOf(4, 5), late = KeyOf(4, 6);
  Hide(file, 1000, std::string(300, '\0'), early);
  Hide(file, (1 << 20) - 1000, std::string(300, '\0'), late);
  RecoveryOptions options;
  options.batch_bytes = 1 << 16;
  int calls = 0;
  const std::vector<KeyCandidate> all =
      RecoverKeys(file.data(), file.size(), options, [&](const std::function<void()>& body) {
        ++calls;
        body();
        return true;
      });
  EXPECT_GE(calls, 16);
  EXPECT_EQ(all.size(), 2u);
  const std::vector<KeyCandidate> stopped =
      RecoverKeys(file.data(), file.size(), options, [&](const std::function<void()>& body) {
        body();
        return false;  // a stop after the first stretch
      });
  ASSERT_EQ(stopped.size(), 1u);
  EXPECT_EQ(stopped[0].key, early.TurnedTo(1000));
  EXPECT_THROW(
      RecoverKeys(file.data(), file.size(), options,
                  [](const std::function<void()>&) -> bool { throw std::runtime_error("x"); }),
      std::runtime_error);
}

// The vector steps, the word steps and any split of the pass into stretches find the same
// leaks and windows.
TEST(LagScan, VectorWordAndSplitPassesAgree) {
  Bytes file = Random(4, 300000);
  const std::string text = HeldOutText();
  for (size_t k = 0; k < 12; ++k) {
    Hide(file, 7000 * k + k, std::string(60 + 9 * k, '\0'), KeyOf(2 + k, k));
    Hide(file, 150000 + 11000 * k, text, KeyOf(3 + k, k));
  }
  auto scan = [&](bool vector, uint64_t stretch) {
    EnableVectorLagScan(vector);
    LagScan pass(file.data(), file.size());
    while (pass.position() < file.size()) pass.Scan(pass.position() + stretch);
    pass.Finish();
    EnableVectorLagScan(true);
    std::ostringstream out;
    for (const LeakStretch& l : pass.leaks())
      out << "L" << l.start << "-" << l.end << "/" << l.period << " ";
    for (const PeriodicWindow& w : pass.windows()) {
      out << "W" << w.start << "-" << w.end << "/" << w.period << ":" << w.strength << " ";
    }
    return out.str();
  };
  const std::string reference = scan(false, file.size());
  EXPECT_NE(reference.find('L'), std::string::npos);
  EXPECT_NE(reference.find('W'), std::string::npos);
  EXPECT_EQ(scan(true, file.size()), reference);
  EXPECT_EQ(scan(true, 64), reference);
  EXPECT_EQ(scan(false, 4096 + 64), reference);
}

}  // namespace
}  // namespace veskor
