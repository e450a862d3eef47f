// The string scanner written straight from its algorithm, one byte per step: the yardstick
// that the row's search (engine/search/row_search) is tested against. Not used by the run.
#pragma once

#include "engine/decoding/algorithms.h"
#include "engine/search/scan_context.h"

namespace veskor {

void ScanPassReference(const TAlgorithm& algorithm, const SearchFields& fields,
                       TScanContext& context);

}  // namespace veskor
