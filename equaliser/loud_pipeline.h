// Long runs of frames in which neither input is zero: the common case of
// music and noise. They go through one pipeline from start to end, polls
// included, in which band k works on frame t - 4k at step t. Each band takes
// its inputs from a signal line that the band before it filled four steps
// earlier, so the five recursions of a step never wait on one another and
// the processor keeps all of them busy. A band takes its part of a poll when
// the pipeline brings it to the polling frame, so the pipeline never drains
// and refills between polls.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "equaliser/module.h"
#include "equaliser/paired_state.h"

namespace eq {

constexpr int32_t kSkew = 4;                       // frames between neighbouring bands
constexpr int32_t kLag = kSkew * (kBandCount - 1);  // band 5 is this many frames behind band 1
constexpr int32_t kChunk = 128;                     // steps between turns of the signal lines
constexpr int32_t kHistory = 2;                     // a band's two previous inputs
constexpr int32_t kSignalLength = kChunk + kHistory + kSkew;

// The shortest run worth the pipeline's filling and draining.
constexpr int32_t kMinLoudRun = 48;

constexpr int kPairs = (kBandCount + 1) / 2;

// What the steady steps work on. At chunk step u, band k takes its input
// from line(k, u + 2) (its previous two at u + 1 and u) and leaves its
// output, rounded to float and widened again, in line(k + 1, u + 2 + kSkew);
// band 5 leaves its output in stage1[u] and stage2[u]. The lines of bands
// 2p and 2p + 1 lie side by side, so one 256-bit load takes both; band 5's
// neighbour is a line of zeros.
struct PipelineLanes {
    __m128d b0[kBandCount], b1[kBandCount], b2[kBandCount], a1[kBandCount], a2[kBandCount];
    __m128d y1[kBandCount], y2[kBandCount];
    alignas(32) __m128d signal[kPairs][kSignalLength][2];
    alignas(16) float stage1[kChunk];
    alignas(16) float stage2[kChunk];
};

inline __m128d& line(PipelineLanes& lanes, int band, int32_t index) {
    return lanes.signal[band >> 1][index][band & 1];
}
inline const __m128d& line(const PipelineLanes& lanes, int band, int32_t index) {
    return lanes.signal[band >> 1][index][band & 1];
}

// Before chunk step `step`, band `band` polls: it needs no work unless a
// delay value has reached the runaway bound.
struct RunawayCheck {
    int32_t step;
    int32_t band;
};

// Chunk steps [from, to), every band at work and none with anything to do
// at a poll but the runaway checks. Stops early, before a step whose check
// finds a delay value out of bounds; returns the step it stopped before.
int32_t sse2SteadySteps(PipelineLanes& lanes, int32_t from, int32_t to, const RunawayCheck* checks,
                        int32_t checkCount);
int32_t avxSteadySteps(PipelineLanes& lanes, int32_t from, int32_t to, const RunawayCheck* checks,
                       int32_t checkCount);

struct LoudRunPlace {
    Module& module;
    PairedState& state;
    float* const* controls;  // Freq1 .. Type5 at this call's positions
    int32_t& controlIndex;   // where the next poll reads the controls
    int32_t& counter;        // filtered frames since the last poll (32: one is due)
};

// Filters `n` (at least kMinLoudRun) consecutive frames, none with a zero
// input, polling wherever the counter says. Returns the last frame's outputs.
__m128 filterLoudRun(LoudRunPlace place, const float* in1, const float* in2, float* out1,
                     float* out2, int32_t n);

}  // namespace eq
