// Key recovery over any bytes: it ends, and its candidates are distinct keys of 2 to 32 bytes at
// their shortest period, no more than asked for, the strongest first, each with some evidence.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/recovery/key_recovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  veskor::RecoveryOptions options;
  options.max_candidates = 4;
  options.batch_bytes = 64;  // a read per step of the pass
  const std::vector<veskor::KeyCandidate> found = veskor::RecoverKeys(data, size, options);
  if (found.size() > options.max_candidates) std::abort();
  for (size_t i = 0; i < found.size(); ++i) {
    const veskor::KeyCandidate& c = found[i];
    const auto again = veskor::XorKey::Of(c.key.bytes());
    if (!again || *again != c.key) std::abort();
    if (c.leak_places + c.text_places == 0 || c.first_offset >= size) std::abort();
    if (i > 0 && (found[i - 1].weight < c.weight || found[i - 1].key == c.key)) std::abort();
    for (size_t j = 0; j < i; ++j) {
      if (found[j].key == c.key) std::abort();
    }
  }
  return 0;
}
