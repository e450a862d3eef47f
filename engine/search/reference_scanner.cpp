// One pass, byte by byte: decode, collect maximal spans of alphabet bytes, judge each span.
#include "engine/search/reference_scanner.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/search/line_maker.h"
#include "engine/search/string_filter.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

bool InAlphabet(const std::string& alphabet, uint8_t d) {
  for (char c : alphabet) {
    if (static_cast<uint8_t>(c) == d) return true;
  }
  return false;
}

// Judges a span of characters whose text is `current` and whose first byte is at `start`.
void JudgeAt(const SearchFields& fields, TScanContext& context, const std::string& current,
             uint64_t start) {
  const uint64_t length = current.size();
  if (length < fields.MinLength) return;
  if (fields.MaxLength != 0 && length > fields.MaxLength) return;
  if (!fields.RegExp.empty() && !context.Filter->Matches(current, StopFlag(), [] {})) return;
  LineBuffer line;
  context.Lines->AppendLine(line, context.Key, context.Width, static_cast<int64_t>(start), current);
  context.Services->Write(line.view());
  ++context.Found;
}

void Judge(const SearchFields& fields, TScanContext& context, const std::string& current,
           uint64_t end) {
  JudgeAt(fields, context, current, end - current.size());
}

// A wide algorithm: every byte decoded as its 8-bit twin, then read as UTF-16LE code units at
// every byte offset; a unit is a character when its Windows-1251 form is in the alphabet, a
// string is a maximal span of characters among the units of one parity, and the strings are
// judged in the order of their first bytes.
void ScanWideReference(const TAlgorithm& algorithm, const SearchFields& fields,
                       TScanContext& context) {
  struct OpenSpan {
    uint64_t start;
    std::string text;
  };
  std::vector<OpenSpan> spans;
  for (uint64_t parity = 0; parity < 2; ++parity) {
    bool in_span = false;
    for (uint64_t offset = parity; offset + 1 < context.Size; offset += 2) {
      const char16_t unit =
          static_cast<char16_t>(algorithm.Decode(context.Data[offset], context.Key) |
                                algorithm.Decode(context.Data[offset + 1], context.Key) << 8);
      const std::string form = Utf16ToCp1251(std::u16string(1, unit));
      // A unit without an 8-bit form is no character ("?" is a form only of '?').
      const bool character = (form != "?" || unit == u'?') && InAlphabet(fields.Alphabet, form[0]);
      if (character && in_span) {
        spans.back().text += form;
      } else if (character) {
        spans.push_back({offset, form});
        in_span = true;
      } else {
        in_span = false;
      }
    }
  }
  std::stable_sort(spans.begin(), spans.end(),
                   [](const OpenSpan& a, const OpenSpan& b) { return a.start < b.start; });
  for (const OpenSpan& span : spans) {
    if (StopIsRequested()) return;
    JudgeAt(fields, context, span.text, span.start);
  }
  context.Services->SetProgress(100);
}

}  // namespace

void ScanPassReference(const TAlgorithm& algorithm, const SearchFields& fields,
                       TScanContext& context) {
  if (algorithm.Width == 2) return ScanWideReference(algorithm, fields, context);
  uint64_t position = 0;
  std::string current;
  bool in_span = false;
  int last_progress = 0;
  // A repeating key of many bytes decodes offset i under K[i mod n].
  const XorKey* repeating = algorithm.XorKeyAt(context.Key);
  while (position < context.Size) {
    if (StopIsRequested()) break;
    // A running key moves on by its step at every byte.
    const int key = context.Key + algorithm.Step * static_cast<int>(position & 0xFF);
    const uint8_t d = repeating != nullptr ? context.Data[position] ^ repeating->At(position)
                                           : algorithm.Decode(context.Data[position], key);
    if (InAlphabet(fields.Alphabet, d)) {
      if (in_span) {
        current.push_back(static_cast<char>(d));
      } else {
        current.assign(1, static_cast<char>(d));
        in_span = true;
      }
    } else if (in_span) {
      Judge(fields, context, current, position);
      in_span = false;
    }
    if (context.SingleKey) {
      const int p = ProgressAt(position, context.Size);
      if (p > last_progress) {
        context.Services->SetProgress(p);
        last_progress = p;
      }
    }
    ++position;
    context.Services->Pace(context.Found);
  }
  if (StopIsRequested()) return;  // the open span is dropped
  // A span still open at the end of the file is judged like any other.
  if (in_span) Judge(fields, context, current, position);
  context.Services->SetProgress(100);
}

}  // namespace veskor
