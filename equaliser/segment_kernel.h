// The block kernel's segments: what the steps work on (the steps themselves
// are written once over a lane type in block_kernel_body.h).
//
// A segment is a stretch of at most kMaxSegment consecutive frames that are
// all filtered. Its frames run through the five bands skewed in time: at
// step t band k (0-based) takes frame t - S k, its input the output band
// k - 1 gave S steps earlier. The five sections of a step are then
// independent of one another, so all ten chains (five bands, two sides) go
// through one register per kWidth lanes at each step, and the recursions
// overlap instead of waiting for a frame to crawl down the cascade. S steps
// cover the time a band's output takes to become the next band's input
// (rounding to float, widening, moving lanes, and its way through the fixed
// sum). Each band still sees its frames in order with its own delay values,
// so every result is the one the frame-by-frame loop gives.
//
// The first 4 S steps fill the skew and the last 4 S drain it: there the
// lanes of bands without a frame keep their values (the masked steps). Long
// segments go skewed kSkew steps a band, where the steady steps wait least;
// short ones kShortSkew, whose filling and draining take fewer steps.
// Steps at which something besides the sections happens are marked in
// advance: a band flushes before a frame with a zero input, band 1 meets a
// frame that may be skipped, or a band reaches a poll. Only a poll whose
// controls moved or whose band ran away leaves the register loop.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "equaliser/kernel_path.h"
#include "equaliser/lane_state.h"
#include "equaliser/module.h"
#include "equaliser/process_steps.h"

namespace eq {

constexpr int32_t kSkew = 4;
constexpr int32_t kShortSkew = 3;
constexpr int32_t kLag = kSkew * (kBandCount - 1);  // band 5 is this many steps behind band 1
constexpr int32_t kMaxSegment = 1024;
constexpr int32_t kRecentRows = 8;
static_assert(kSkew < kRecentRows && (kRecentRows & (kRecentRows - 1)) == 0, "a ring of steps");
static_assert(kShortSkew <= kSkew, "segments sized for the longer skew");
// Band k polls at step f + kSkew k for a poll on frame f; polls lie further
// apart than the skew is long, so at most one band polls at any step.
static_assert(kLag < kPollInterval, "one band's poll at a step");

// What a frame's zero inputs ask for (Segment::zeros), and what a step asks
// for beyond the sections (Segment::events): the same bits, a step taking
// band 1's frame's and any band's flush.
constexpr uint8_t kFlushes = 1;  // an input is zero (for a step: some band's frame's)
constexpr uint8_t kMaySkip = 2;  // both inputs are zero (for a step: band 1's frame's)
constexpr uint8_t kPolls = 4;    // a step at which a band reaches a poll (pollingBand)

struct Segment {
    // Band 5's outputs: frame f's at 2(f + lag) (the step that makes it;
    // lag is 4 S, kLag at most); the filling steps write their nothing
    // before them.
    alignas(16) float outs[2 * (kMaxSegment + kLag)];
    // Per frame f at f + lag, with lag zero entries on either side (and
    // sixteen more, for the sixteen-at-a-time reads).
    uint8_t zeros[kMaxSegment + 2 * kLag + 16];
    // Per step (and up to fifteen more, written and never read).
    uint8_t events[kMaxSegment + kLag + 16];
    // Bands 1 to 4's outputs of the last steps, rounded through float: step
    // t's in row t mod kRecentRows.
    alignas(64) double recent[kRecentRows][kLanes];
    // Each band's input at the last steps (row t mod kRecentRows): the
    // steady steps keep the sections' x1 and x2 here where the registers
    // cannot hold them (SSE2).
    alignas(64) double inputs[kRecentRows][kLanes];
    LaneState state;

    int32_t n;             // frames it takes: fewer once it stops before one that may be skipped
    int32_t firstPoll;     // the frame of its first poll (kPollInterval - counter)
    int32_t controlIndex;  // where that poll reads the controls
    const float* in1;  // the host's input buffers at the segment's first frame
    const float* in2;
    Module* module;
    float* const* controls;  // Freq1 .. Type5 at the call's positions
};

// A lane type with the skew S its segments run at.
template <class Lanes, int32_t S>
struct Skewed : Lanes {
    static constexpr int32_t kSkew = S;
    static constexpr int32_t kLag = S * (kBandCount - 1);
};

// Bands 1 to 5 (bits 0 to 4) that have a frame at step t of a segment of n
// skewed S steps a band: those that have started (k S <= t) and not yet
// finished (t - k S < n).
template <int32_t S = kSkew>
inline unsigned bandsAtWork(int32_t t, int32_t n) {
    const int32_t started = t / S < kBandCount - 1 ? t / S : kBandCount - 1;
    const int32_t finished = t < n ? 0 : (t - n) / S + 1;
    return ((2u << started) - 1) & ~((1u << finished) - 1);
}

template <int32_t S>
inline unsigned bandsFlushing(const Segment& g, int32_t t) {
    unsigned bands = 0;
#pragma GCC unroll 5
    for (int k = 0; k < kBandCount; ++k) bands |= (g.zeros[t - S * k + S * (kBandCount - 1)] & kFlushes) << k;
    return bands;
}

// The band that reaches a poll at step t, a step marked kPolls: polls lie
// kPollInterval frames apart and band k reaches one kSkew k steps after its
// frame, less than kPollInterval steps (so one band a step).
static_assert((kPollInterval & (kPollInterval - 1)) == 0, "polls a power of two apart");
template <int32_t S>
inline int pollingBand(const Segment& g, int32_t t) {
    return ((t - g.firstPoll) & (kPollInterval - 1)) / S;
}

// Where band k's poll at step t reads the controls.
template <int32_t S>
inline int32_t pollControlIndex(const Segment& g, int band, int32_t t) {
    return g.controlIndex + (t - S * band - g.firstPoll) / kPollInterval * kPollInterval;
}

// Where a run of steps stopped: at step t, with band `polling` to take its
// poll as defined first (-1: none; the segment or the stretch has ended).
struct RunEnd {
    int32_t t;
    int polling;
};

// The steady steps alone, from the first at which every band is at work to
// the segment's end, on `path`, for a segment staged with nothing to look
// at; returns the step it stopped before (g.n). The benchmarks' floor of the
// loop's arithmetic.
int32_t runSteadySteps(Segment& g, KernelPath path);

}  // namespace eq
