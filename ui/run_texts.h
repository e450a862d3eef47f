// The words the window uses for a run's numbers: the status bar's progress while a row runs and
// the Result cell's count.
#pragma once

#include <QString>
#include <cstdint>

namespace veskor {

// A whole number with its digits grouped by commas in threes: 12345 gives "12,345".
QString GroupedNumber(int64_t value);

// "1 string", "12,345 strings".
QString StringCountText(int64_t count);

// The progress of a running row in words, `percent` its share done: over all one-byte keys
// "XOR8: all 255 keys at once, 37% done, 12,345 strings", with one key "XOR8 key 65: 1,204
// strings"; a rotation family's keys as they are typed ("XOR8ROL: key 0x35A of 0x7FF, ..."), an
// ANY row without its key or count ("ANY: every algorithm over all keys, 12% done").
QString RunProgressText(const QString& algorithm, bool single_key, int key, int64_t lines,
                        int percent);

}  // namespace veskor
