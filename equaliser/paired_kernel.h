// The block kernel of the processing loop: both chains in one SSE2 register
// (left in the low lane, right in the high lane). The lanes never meet and
// each lane does exactly the scalar double arithmetic, so the results are
// bit-identical to running the chains one after the other.
#pragma once

#include <cstdint>

#include "equaliser/module.h"

namespace eq {

// Runs `sampleCount` samples from the 24 call positions; the caller has
// checked that no output buffer partly overlaps another pin's buffer.
void processPaired(Module& module, float* const* positions, int32_t sampleCount);

// Sample by sample, exactly as the loop is defined (process.cpp).
void processSampleBySample(Module& module, float* const* positions, int32_t sampleCount);

}  // namespace eq
