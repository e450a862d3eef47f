// The string scanner written straight from its algorithm, one byte per step: the yardstick
// that the production scanner is tested against. Not used by the run.
#pragma once

#include "engine/algorithms.h"
#include "engine/scan_context.h"

namespace veskor {

void ScanPassReference(const TAlgorithm& algorithm, const TSearchFields& fields,
                       TScanContext& context);

}  // namespace veskor
