// What the search asks of the lines of one row: the line of each string it takes. The run
// supplies them (engine/run/row_line_maker); the search only finds.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "text/line_output.h"

namespace veskor {

// One key's lines written in place, their texts decoded straight into them. A batch of lines
// costs one call, so that the search pays no call per line.
class KeyLineWriter {
 public:
  virtual ~KeyLineWriter() = default;
  // The most bytes `lines` lines take, each with its CR LF, whose strings hold `text_bytes`
  // bytes together.
  virtual uint64_t Bound(uint64_t lines, uint64_t text_bytes) const = 0;
  // Writes the lines, each followed by CR LF, at `at`, which has room for their Bound; returns
  // their end. Never fails, allocates nothing and touches nothing but `at` and what `texts`
  // reads (it runs under the fault guard).
  virtual char* Write(char* at, std::span<const InPlaceLine> lines,
                      const TextSource& texts) const = 0;
};

// The workers of a search share one line maker, so every call is const and safe from several
// threads.
class LineMaker {
 public:
  virtual ~LineMaker() = default;
  // Appends the line of an accepted string and its CR LF. May raise the format's error; `out` is
  // then as it was.
  virtual void AppendLine(LineBuffer& out, int32_t key, int32_t width, int64_t position,
                          std::string_view text) const = 0;
  // The same for a long text, streamed into `out`; a failure is raised before anything is
  // written.
  virtual void WriteLine(ByteSink& out, int32_t key, int32_t width, int64_t position,
                         const LongText& text) const = 0;
  // The lines of `key` at `width` written in place, the same bytes as AppendLine makes; null
  // when they are made only by AppendLine.
  virtual std::unique_ptr<const KeyLineWriter> InPlace(int32_t key, int32_t width) const {
    return nullptr;
  }
  // False when no line is made at all (a summary's search): the strings are then only counted.
  virtual bool WritesLines() const { return true; }
};

}  // namespace veskor
