// The JSON Lines record of every string a row finds, written straight into the row's lines: a
// search finds millions of strings, and a JSON document built for each costs many times the search.
#pragma once

#include <memory>
#include <string>

#include "engine/decoding/algorithms.h"
#include "engine/search/line_maker.h"

namespace veskor {

// A row's string records in place of its report lines:
//   {"type":"string","file":F,"algo":A,"key":K,"offset":O,"length":L,"text":T,"score":S}
// `file` is the input's name (file-system bytes: a name that is not UTF-8 is read as
// Windows-1251, and "file_hex" follows "file" with its bytes), `algorithm` the row's algorithm
// (its name 8-bit; K a number, or of XORK the text of the place's key bytes). The bytes are those
// the packaged JSON library writes for the same record.
std::unique_ptr<LineMaker> StringRecords(std::string file, const TAlgorithm& algorithm);

}  // namespace veskor
