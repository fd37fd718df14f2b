// How a modular host calls the equaliser: one buffer per pin, reused for
// every call, the module's own output left standing in its output buffers,
// calls of one length from a single frame up. Loud noise, and silence after
// sound once the bands have rung down (outputs as the module left them,
// cleared by the host before each call, or in place over the inputs).
// Beside them, what bounds the loop: the plain scalar cascade called the same
// way (frame by frame, its state in locals, kept between calls) and the
// floor, one band's recursion as a dependent chain of a multiplication and
// two subtractions a frame. Shared by the native benchmark and the 32-bit
// timing program.
#pragma once

#include <cstddef>

namespace hostcalls {

constexpr int kCallLengths[] = {1, 8, 32, 64, 256, 1024};
constexpr int kCallLengthCount = sizeof kCallLengths / sizeof kCallLengths[0];

enum Case { Loud, RungDownAsLeft, RungDownCleared, RungDownInPlace, CaseCount };

inline const char* name(int c) {
    static const char* const names[CaseCount] = {"loud", "rung down, as left", "rung down, cleared",
                                                 "rung down, in place"};
    return names[c];
}

// Silent frames after the loud warm-up before the timing starts: more than
// the benchmark's bands take to come to rest (about 0.15 s at 48 kHz).
constexpr int kRingDownFrames = 48000;
constexpr int kLoudWarmUpFrames = 4096;

// The floor: y = (s - a1 y1) - a2 y2 frame after frame, each frame waiting on
// the one before through one multiplication and two subtractions, as a
// section's recursion does (its first three terms do not wait on it). The
// same double arithmetic, no fused multiply-add. Returns the last y so the
// chain is not optimised away.
struct FloorChain {
    double a1 = -1.8, a2 = 0.81;  // stable, so the chain stays loud and finite
    double y1 = 0.0, y2 = 0.0;

    double run(const float* input, int frames) {
        double p = y1, q = y2;
        for (int i = 0; i < frames; ++i) {
            const double s = static_cast<double>(input[i]) * 0.01;
            const double y = (s - a1 * p) - a2 * q;
            q = p;
            p = y;
        }
        y1 = p, y2 = q;
        return p;
    }
};

}  // namespace hostcalls
