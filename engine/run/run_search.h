// What a row's run searched, kept with its outcome so that its strings can be found again later
// (the Results window's string lists).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/input/mapped_input.h"
#include "engine/score/key_summary.h"
#include "engine/search/scan_context.h"

namespace veskor {

// The row's algorithm that tries every algorithm of the table with every key.
inline constexpr std::string_view kAnyAlgorithmName = "ANY";

struct RunSearch {
  std::string input;  // file-system bytes
  FileStamp stamp;    // the input when the run mapped it
  // The row's algorithm; of an ANY row an entry named "ANY" without a decoder, whose summary
  // holds pairs (RowSummary::PairId), each searched again with PairSearch.
  TAlgorithm algorithm;
  SearchFields fields;
  std::string format;  // the report format of the run's lines
  int32_t width = 0;
  bool any = false;  // an ANY row
  // Of an ANY row: the keys its pairs of XORK are places of (the keys its file gave away).
  std::shared_ptr<const std::vector<XorKey>> xor_keys;
};

// The algorithm a key of the row decodes with: of an ANY row its pair's, XORK with the row's
// keys; of another row its own.
TAlgorithm KeyAlgorithmOf(const RunSearch& search, int key);

// What an ANY row searched for one of its pairs: the pair's algorithm in place of ANY. Of another
// row, the search itself.
RunSearch PairSearch(const RunSearch& search, int pair);
// The key of a pair of an ANY row, else `key` itself.
inline int PairKeyOf(const RunSearch& search, int key) {
  return search.any ? RowSummary::PairKey(key) : key;
}

}  // namespace veskor
