// What a row's run searched, kept with its outcome so that its strings can be found again later
// (the Results window's string lists).
#pragma once

#include <cstdint>
#include <string>

#include "engine/decoding/algorithms.h"
#include "engine/run/mapped_input.h"
#include "engine/search/scan_context.h"

namespace veskor {

struct RunSearch {
  std::string input;  // file-system bytes
  FileStamp stamp;    // the input when the run mapped it
  TAlgorithm algorithm;
  SearchFields fields;
  std::string format;  // the report format of the run's lines
  int32_t width = 0;
};

}  // namespace veskor
