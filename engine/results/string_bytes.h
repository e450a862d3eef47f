// One string of a row that has run, read again from the input file for a closer look: its whole
// text, and the stored bytes around it as lines of offset, bytes in hex and the bytes decoded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/input/input_check.h"
#include "engine/input/mapped_input.h"
#include "engine/run/run_search.h"

namespace veskor {

// One line of stored bytes: "0000A0F0  1F 3B .. 7E  hg....", Windows-1251, one byte a column.
struct ByteLine {
  uint64_t offset = 0;  // of its first byte
  int bytes = 0;        // kLineBytes, fewer on the file's last line
  std::string text;
  // The string's own bytes on the line as (column, columns) of `text`: their hex, then their
  // decoded text; none when the line holds none of them.
  std::vector<std::pair<int, int>> marks;
};

class StringBytes {
 public:
  static constexpr int kLineBytes = 16;
  // Stored bytes shown before and after a string, at least.
  static constexpr uint64_t kContextBytes = 256;

  enum class Status { kReady, kChanged, kCannotRead };

  // `search` and `key` as the string was found: of an ANY row, the pair's search (PairSearch)
  // and the pair's key.
  StringBytes(const RunSearch& search, int key);
  ~StringBytes();

  // Maps the input; kChanged when it is not the file the run read (its stamp differs; change()
  // says how).
  Status Open();
  const StampChange& change() const { return change_; }

  // The text of the string of `length` characters stored at `position`, decoded as the run
  // decoded it (Windows-1251), its first `max_characters` characters. Raises InputReadError
  // when the file can no longer be read, InputChangedError when it is not the run's file before
  // or after the read.
  std::string Text(uint64_t position, uint64_t length, uint64_t max_characters) const;

  // The lines around that string: from the line that holds the byte `context` before it to the
  // line that holds the byte `context` after its end, or the file's ends; lines start at
  // multiples of kLineBytes. Each byte is decoded alone under the key (a wide algorithm's code
  // units show byte by byte); a byte that is no printable character, or that decodes to no
  // character of the row's alphabet, shows as ".". A wide string's bytes are twice its length.
  // Raises InputReadError when the file can no longer be read, InputChangedError when it is not
  // the run's file before or after the read.
  std::vector<ByteLine> Lines(uint64_t position, uint64_t length,
                              uint64_t context = kContextBytes) const;

 private:
  struct Views;

  RunSearch search_;
  int key_;
  MappedInput mapped_;
  StampChange change_;
  std::unique_ptr<Views> views_;
};

}  // namespace veskor
