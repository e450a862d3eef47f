// The production string scanner: the same lines, counts and stop behaviour as the reference,
// found by skipping through the mapped bytes instead of judging each byte on its own.
#pragma once

#include <functional>

#include "engine/algorithms.h"
#include "engine/scan_context.h"
#include "text/error.h"

namespace veskor {

// Raised by ScanPass when the input's bytes can no longer be read (the file shrank under the
// mapping). The run turns it into its "cannot read" message and goes on with the next row.
class InputReadError : public Error {
 public:
  InputReadError() : Error("The input file could not be read") {}
};

// One pass over context.Data with one key: a Report for every accepted run, in file order,
// context.Found increased by their number, progress through SetProgress in single-key mode.
// A stop (StopRequested) ends the pass at a byte boundary and drops the open run. Events are
// processed about every 20 ms of scanning. Errors raised by a service pass through unchanged.
void ScanPass(const TAlgorithm& algorithm, const TSearchFields& fields, TScanContext& context);

// ScanPass with a chosen batch size (bytes examined between two looks at the stop flag) and
// event interval, so that tests can place runs across batch boundaries in small files and
// process events after every batch.
void ScanPassWithBatch(const TAlgorithm& algorithm, const TSearchFields& fields,
                       TScanContext& context, uint64_t batch_bytes,
                       std::chrono::nanoseconds event_interval = std::chrono::nanoseconds(0));

// Every key from 1 to 255, in key order: the same Report calls, in the same order, as 255
// ScanPass calls with those keys, found in fewer passes (one pass finds where some key could
// have a run; NONE is scanned once). After each key, `after_key(key)` runs (the row's
// progress) and the search goes on only while it returns true. A stop ends the search after a
// file-order prefix of the current key's lines.
void ScanAllKeys(const TAlgorithm& algorithm, const TSearchFields& fields, TScanContext& context,
                 const std::function<bool(int)>& after_key);

// ScanAllKeys with a chosen batch size, event interval and limit on the regions or strings it
// keeps (past it, one pass per key), for tests.
void ScanAllKeysWithBatch(const TAlgorithm& algorithm, const TSearchFields& fields,
                          TScanContext& context, const std::function<bool(int)>& after_key,
                          uint64_t batch_bytes, std::chrono::nanoseconds event_interval,
                          size_t max_regions);

}  // namespace veskor
