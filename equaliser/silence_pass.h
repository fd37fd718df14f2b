// Silence that the loop lets through: frames whose two inputs are zero,
// while the bands rest. Each such frame only passes its inputs to its
// outputs, so stretches of it go several frames a step.
#pragma once

#include <cstdint>

namespace eq {

// The two inputs of a frame, as read before its outputs were written.
struct SilentFrame {
    float left, right;
};

// From frame 0, every frame (at most `limit`) whose two inputs are zero
// (see decide()): copies its inputs to its outputs, Output1 first, and
// returns how many frames it passed; `last` takes the last passed frame's
// inputs (an output may lie on the other side's input, so they cannot be
// read back afterwards) and is left as it is when none passed. Four frames a
// step on SSE2, eight where the kernel path has AVX (kernel_path.h), then
// one at a time. Only for buffers each of which either is one of the other
// three or lies apart from them over the frames.
int32_t passSilence(const float* left, const float* right, float* out1, float* out2, int32_t limit,
                    SilentFrame& last);

}  // namespace eq
