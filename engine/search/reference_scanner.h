// The string scanner written straight from its algorithm, one byte per step: the yardstick
// that the production scanner is tested against. Not used by the run.
#pragma once

#include "engine/decoding/algorithms.h"
#include "engine/search/scan_context.h"

namespace veskor {

void ScanPassReference(const TAlgorithm& algorithm, const SearchFields& fields,
                       TScanContext& context);

}  // namespace veskor
