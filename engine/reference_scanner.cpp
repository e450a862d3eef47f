// One pass, byte by byte: decode, collect maximal runs of alphabet bytes, judge each run.
#include "engine/reference_scanner.h"

#include <string>

#include "engine/line_maker.h"

namespace veskor {
namespace {

bool InAlphabet(const std::string& alphabet, uint8_t d) {
  for (char c : alphabet) {
    if (static_cast<uint8_t>(c) == d) return true;
  }
  return false;
}

void Judge(const TSearchFields& fields, TScanContext& context, const std::string& current,
           uint64_t end) {
  const uint64_t length = current.size();
  if (length < fields.MinLength) return;
  if (fields.MaxLength != 0 && length > fields.MaxLength) return;
  if (!fields.RegExp.empty() && !context.Lines->Matches(current, StopRequested, [] {})) return;
  LineBuffer line;
  context.Lines->AppendLine(line, context.Key, context.Width, static_cast<int64_t>(end - length),
                            current);
  context.Services->Write(line.view());
  ++context.Found;
}

}  // namespace

void ScanPassReference(const TAlgorithm& algorithm, const TSearchFields& fields,
                       TScanContext& context) {
  uint64_t position = 0;
  std::string current;
  bool in_run = false;
  int last_progress = 0;
  while (position < context.Size) {
    if (StopRequested.load(std::memory_order_relaxed)) break;
    const uint8_t d = algorithm.Decode(context.Data[position], context.Key);
    if (InAlphabet(fields.Alphabet, d)) {
      if (in_run) {
        current.push_back(static_cast<char>(d));
      } else {
        current.assign(1, static_cast<char>(d));
        in_run = true;
      }
    } else if (in_run) {
      Judge(fields, context, current, position);
      in_run = false;
    }
    if (context.SingleKey) {
      const int p = ProgressAt(position, context.Size);
      if (p > last_progress) {
        context.Services->SetProgress(p);
        last_progress = p;
      }
    }
    ++position;
    context.Services->ProcessEvents();
  }
  if (StopRequested.load(std::memory_order_relaxed)) return;  // the open run is dropped
  // A run still open at the end of the file is judged like any other.
  if (in_run) Judge(fields, context, current, position);
  context.Services->SetProgress(100);
}

}  // namespace veskor
