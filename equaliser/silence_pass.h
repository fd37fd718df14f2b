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

// From frame 0, four frames a step while all four ask to be skipped (see
// decide()): copies their inputs to the outputs (Output1 first) and returns
// how many frames it passed, a multiple of four no more than `limit`; `last`
// takes the last passed frame's inputs (an output may lie on the other
// side's input, so they cannot be read back afterwards). The AVX form takes
// eight frames a step; only for processors with AVX (kernel_path.h).
int32_t passSilenceSse2(const float* left, const float* right, float* out1, float* out2, int32_t limit,
                        SilentFrame& last);
int32_t passSilenceAvx(const float* left, const float* right, float* out1, float* out2, int32_t limit,
                       SilentFrame& last);

}  // namespace eq
