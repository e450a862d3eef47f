// The strings of one key of a row that has run, found again on demand in the input file with the
// row's algorithm, key and search fields, for a window that shows millions of them without
// holding them: a scan that goes on in slices, and an index of every kIndexStep-th string from
// which any stretch of them is found again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/input/input_check.h"
#include "engine/input/mapped_input.h"
#include "engine/run/row_filter.h"
#include "engine/run/row_line_maker.h"
#include "engine/run/run_search.h"
#include "engine/search/scan_context.h"
#include "engine/search/span_judge.h"

namespace veskor {

struct FoundString {
  uint64_t position = 0;
  uint64_t length = 0;  // in characters
  std::string text;     // Windows-1251, its first kShownBytes bytes
};

class KeyStrings {
 public:
  static constexpr uint64_t kIndexStep = 1024;
  static constexpr size_t kShownBytes = 4096;

  enum class Status { kReady, kChanged, kCannotRead };

  // `filter` (optional) keeps only the strings whose text it accepts.
  KeyStrings(const RunSearch& search, int key,
             std::function<bool(std::string_view)> filter = nullptr);
  ~KeyStrings();

  // Maps the input; kChanged when it is not the file the run read (its stamp differs; change()
  // says how).
  Status Open();
  // What differed when Open found the file changed.
  const StampChange& change() const { return change_; }
  // Scans on over about `bytes` more of the file; true once the whole file is scanned.
  // Each of the reads below checks the file before and after it (CheckInput) and raises
  // InputChangedError when it is not the file the run read: whatever it handed on is not the
  // run's.
  bool Advance(uint64_t bytes);
  bool complete() const { return scanned_ == size_; }
  // The share of the file scanned, 0 to 1.
  double progress() const;
  // The strings found so far.
  uint64_t count() const { return count_; }
  // Strings to tell apart by where they start: as the scan finds a string at one of
  // `positions` (before the first Advance), its place among the strings is kept.
  void Watch(std::vector<uint64_t> positions);
  // The watched strings found so far: (position, place), in the order found.
  const std::vector<std::pair<uint64_t, uint64_t>>& watched() const { return watched_found_; }
  // Strings first .. first + n - 1 (of those found so far), found again from the index.
  std::vector<FoundString> Get(uint64_t first, size_t n);
  // Their lines in the run's report format, each with CR LF, whole however long, to `sink`.
  // May raise the format's error.
  void WriteLines(uint64_t first, uint64_t n, ByteSink& sink);

 private:
  struct Scan;
  using Take = std::function<bool(const Span&, SpanJudge&)>;
  // Scans [begin, end) and hands each accepted string, in order, to `take` until it returns
  // false; returns where it stopped (a string's start), or `end`.
  uint64_t Walk(uint64_t begin, uint64_t end, const Take& take);
  // Strings first .. first + n - 1 to `take`.
  void From(uint64_t first, uint64_t n, const Take& take);

  RunSearch search_;
  int key_;
  std::function<bool(std::string_view)> filter_;
  MappedInput mapped_;
  StampChange change_;
  uint64_t size_ = 0;
  uint64_t scanned_ = 0;  // bytes before this position are scanned
  uint64_t count_ = 0;
  std::vector<uint64_t> index_;  // the start of every kIndexStep-th string
  std::vector<uint64_t> watch_;  // sorted
  std::vector<std::pair<uint64_t, uint64_t>> watched_found_;
  std::unique_ptr<RowLineMaker> lines_;
  std::unique_ptr<RowFilter> expression_;  // the row's; the window's own filter is filter_
  std::unique_ptr<Scan> scan_;
};

}  // namespace veskor
