// The processing loop's two forms: the fast block kernel, and the loop
// sample by sample exactly as it is defined, which takes the buffer layouts
// the block kernel does not.
#pragma once

#include <cstdint>

#include "equaliser/module.h"

namespace eq {

// Runs `sampleCount` frames from the 24 call positions (already moved by the
// buffer offset), bit for bit as the loop is defined, on the kernel path in
// force (kernel_path.h). The caller has checked that no output buffer partly
// overlaps another pin's buffer.
void processBlock(Module& module, float* const* positions, int32_t sampleCount);

// Sample by sample, exactly as the loop is defined (process.cpp).
void processSampleBySample(Module& module, float* const* positions, int32_t sampleCount);

}  // namespace eq
