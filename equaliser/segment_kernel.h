// The block kernel's steps, written once over a lane type (lane_types.h).
//
// A segment is a stretch of at most kMaxSegment consecutive frames that are
// all filtered. Its frames run through the five bands skewed in time: at
// step t band k (0-based) takes frame t - kSkew k, its input the output band
// k - 1 gave kSkew steps earlier. The five sections of a step are then
// independent of one another, so all ten chains (five bands, two sides) go
// through one register per kWidth lanes at each step, and the recursions
// overlap instead of waiting for a frame to crawl down the cascade. kSkew
// steps cover the time a band's output takes to become the next band's
// input (rounding to float, widening, moving lanes, and its way through the
// fixed sum). Each band still sees its frames in order with its own delay
// values, so every result is the one the frame-by-frame loop gives.
//
// The first kLag steps fill the skew and the last kLag drain it: there the
// lanes of bands without a frame keep their values (the masked steps).
// Steps at which something besides the sections happens are marked in
// advance: a band flushes before a frame with a zero input, band 1 meets a
// frame that may be skipped, or a band reaches a poll. Only a poll whose
// controls moved or whose band ran away leaves the register loop.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "equaliser/kernel_path.h"
#include "equaliser/lane_state.h"
#include "equaliser/lane_types.h"
#include "equaliser/module.h"
#include "equaliser/process_steps.h"

#define QV_KERNEL_INLINE inline __attribute__((always_inline))

namespace eq {

constexpr int32_t kSkew = 3;
constexpr int32_t kLag = kSkew * (kBandCount - 1);  // band 5 is this many steps behind band 1
constexpr int32_t kMaxSegment = 256;
// Band k polls at step f + kSkew k for a poll on frame f; polls lie further
// apart than the skew is long, so at most one band polls at any step.
static_assert(kLag < kPollInterval, "one band's poll at a step");

// What a step asks for beyond the sections (Segment::events).
constexpr uint8_t kStepFlushes = 1;    // some band's frame has a zero input
constexpr uint8_t kStepMaySkip = 2;    // band 1's frame has two zero inputs
constexpr uint8_t kStepPolls = 4;      // a band reaches a poll (Segment::pollingBand)

// A frame's zero inputs (Segment::zeros).
constexpr uint8_t kFrameFlushes = 1;
constexpr uint8_t kFrameMaySkip = 2;

struct Segment {
    // Band 1's inputs as doubles, frame f's left and right at 2f; zeros for
    // the drain's steps.
    alignas(64) double frames[2 * (kMaxSegment + kLag)];
    // Band 5's outputs: frame f's at 2(f + kLag) (the step that makes it);
    // the filling steps write their nothing before them.
    alignas(16) float outs[2 * (kMaxSegment + kLag)];
    // Per frame f at f + kLag, with kLag zero entries on either side.
    uint8_t zeros[kMaxSegment + 2 * kLag];
    // Per step.
    uint8_t events[kMaxSegment + kLag];
    uint8_t pollingBand[kMaxSegment + kLag];
    // Band outputs of the last kSkew steps, rounded through float, oldest first.
    alignas(64) double recent[kSkew][kLanes];
    LaneState state;

    int32_t n;             // frames it takes: fewer once it stops before one that may be skipped
    int32_t firstPoll;     // the frame of its first poll (kPollInterval - counter)
    int32_t controlIndex;  // where that poll reads the controls
    Module* module;
    float* const* controls;  // Freq1 .. Type5 at the call's positions
};

// Bands 1 to 5 (bits 0 to 4) that have a frame at step t of a segment of n.
QV_KERNEL_INLINE unsigned bandsAtWork(int32_t t, int32_t n) {
    unsigned bands = 0;
#pragma GCC unroll 5
    for (int k = 0; k < kBandCount; ++k)
        bands |= (static_cast<uint32_t>(t - kSkew * k) < static_cast<uint32_t>(n) ? 1u : 0u) << k;
    return bands;
}

QV_KERNEL_INLINE unsigned bandsFlushing(const Segment& g, int32_t t) {
    unsigned bands = 0;
#pragma GCC unroll 5
    for (int k = 0; k < kBandCount; ++k) bands |= (g.zeros[t - kSkew * k + kLag] & kFrameFlushes) << k;
    return bands;
}

// Where band k's poll at step t reads the controls.
inline int32_t pollControlIndex(const Segment& g, int band, int32_t t) {
    return g.controlIndex + (t - kSkew * band - g.firstPoll) / kPollInterval * kPollInterval;
}

// y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2, summed in that order.
template <class L, class V>
QV_KERNEL_INLINE V section(V b0, V b1, V b2, V a1, V a2, V x, V x1, V x2, V y1, V y2) {
    V y = L::mul(b0, x);
    y = L::add(y, L::mul(b1, x1));
    y = L::add(y, L::mul(b2, x2));
    y = L::sub(y, L::mul(a1, y1));
    return L::sub(y, L::mul(a2, y2));
}

// Adding and removing the offset turns every value below about 9.4e-38
// (denormals included) into exact zero and leaves ordinary values alone.
template <class L, class V>
QV_KERNEL_INLINE V flushed(V v, V offset) {
    return L::sub(L::add(v, offset), offset);
}

// Where a run of steps stopped: at step t, with band `polling` to take its
// poll as defined first (-1: none; the segment or the stretch has ended).
struct RunEnd {
    int32_t t;
    int polling;
};

// Steps from t with the state in registers: the steady steps (every band at
// work) or, Masked, the filling and draining ones. `polledAt`: the step whose
// poll (and skip check) is already done.
template <class L, bool Masked>
QV_KERNEL_INLINE RunEnd runSteps(Segment& g, int32_t t, int32_t polledAt) {
    using V = typename L::V;
    constexpr int W = L::kWidth;
    constexpr int N = (2 * kBandCount + W - 1) / W;
    constexpr unsigned kUsedLanes = (1u << (2 * kBandCount)) - 1;
    LaneState& s = g.state;
    V b0[N], b1[N], b2[N], a1[N], a2[N], x1[N], x2[N], y1[N], y2[N], recent[kSkew][N];
#pragma GCC unroll 8
    for (int v = 0; v < N; ++v) {
        b0[v] = L::load(s.b0 + W * v), b1[v] = L::load(s.b1 + W * v), b2[v] = L::load(s.b2 + W * v);
        a1[v] = L::load(s.a1 + W * v), a2[v] = L::load(s.a2 + W * v);
        x1[v] = L::load(s.x1 + W * v), x2[v] = L::load(s.x2 + W * v);
        y1[v] = L::load(s.y1 + W * v), y2[v] = L::load(s.y2 + W * v);
#pragma GCC unroll 4
        for (int j = 0; j < kSkew; ++j) recent[j][v] = L::load(g.recent[j] + W * v);
    }
    const V offset = L::set1(denormalOffset);
    RunEnd end{t, -1};
    int32_t n = g.n;
    for (;; ++t) {
        if (Masked ? !(t < n + kLag && (t < kLag || t >= n)) : t >= n) break;
        const unsigned events = g.events[t];
        unsigned working = Masked ? bandsAtWork(t, n) : (1u << kBandCount) - 1;
        if (__builtin_expect(events != 0, 0)) {
            if (t != polledAt && (events & kStepMaySkip) && (working & 1)) {
                // Band 1 at rest before a frame that may be skipped: whether
                // every band rests decides it, so the segment ends before it.
                const V bound = L::set1(denormalOffset);
                const unsigned ringing = L::notBelow(x1[0], bound) | L::notBelow(x2[0], bound) |
                                         L::notBelow(y1[0], bound) | L::notBelow(y2[0], bound);
                if ((ringing & 3) == 0) {
                    n = g.n = t;
                    if (!Masked) break;  // the rest of the segment drains, masked
                    working &= ~1u;
                }
            }
            if (t != polledAt && (events & kStepPolls)) {
                const int k = g.pollingBand[t];
                if ((working >> k) & 1) {
                    const V limit = L::set1(kMaxDelayMagnitude);
                    unsigned runaway = 0;
#pragma GCC unroll 8
                    for (int v = 0; v < N; ++v)
                        runaway |= (L::beyond(x1[v], limit) | L::beyond(x2[v], limit) |
                                    L::beyond(y1[v], limit) | L::beyond(y2[v], limit))
                                   << (W * v);
                    if (((runaway & kUsedLanes) >> (2 * k)) & 3 ||
                        !controlsAsCached(*g.module, k, g.controls, pollControlIndex(g, k, t))) {
                        end.polling = k;
                        break;
                    }
                }
            }
            const unsigned flushing = (events & kStepFlushes) ? bandsFlushing(g, t) & working : 0;
            if (flushing != 0) {
#pragma GCC unroll 8
                for (int v = 0; v < N; ++v) {
                    const V mask = L::load(kLaneMasks.lanes(flushing, W * v));
                    x1[v] = L::select(mask, flushed<L>(x1[v], offset), x1[v]);
                    x2[v] = L::select(mask, flushed<L>(x2[v], offset), x2[v]);
                    y1[v] = L::select(mask, flushed<L>(y1[v], offset), y1[v]);
                    y2[v] = L::select(mask, flushed<L>(y2[v], offset), y2[v]);
                }
            }
        }
        // Band 1 takes frame t; band k + 1 the output band k gave kSkew steps ago.
        V x[N];
        x[0] = L::shiftIn(L::frameAtTop(g.frames + 2 * t), recent[0][0]);
#pragma GCC unroll 8
        for (int v = 1; v < N; ++v) x[v] = L::shiftIn(recent[0][v - 1], recent[0][v]);
        __m128 out = _mm_setzero_ps();
#pragma GCC unroll 4
        for (int j = 0; j + 1 < kSkew; ++j)
#pragma GCC unroll 8
            for (int v = 0; v < N; ++v) recent[j][v] = recent[j + 1][v];
#pragma GCC unroll 8
        for (int v = 0; v < N; ++v) {
            const V y = section<L>(b0[v], b1[v], b2[v], a1[v], a2[v], x[v], x1[v], x2[v], y1[v], y2[v]);
            if (Masked) {
                const V mask = L::load(kLaneMasks.lanes(working, W * v));
                x2[v] = L::select(mask, x1[v], x2[v]);
                x1[v] = L::select(mask, x[v], x1[v]);
                y2[v] = L::select(mask, y1[v], y2[v]);
                y1[v] = L::select(mask, y, y1[v]);
            } else {
                x2[v] = x1[v], x1[v] = x[v], y2[v] = y1[v], y1[v] = y;
            }
            recent[kSkew - 1][v] = L::throughFloat(y, out);
        }
        // Band 5's lanes lead the last register: its output for frame t - kLag.
        _mm_storel_pi(reinterpret_cast<__m64*>(g.outs + 2 * t), out);
    }
#pragma GCC unroll 8
    for (int v = 0; v < N; ++v) {
        L::store(s.x1 + W * v, x1[v]), L::store(s.x2 + W * v, x2[v]);
        L::store(s.y1 + W * v, y1[v]), L::store(s.y2 + W * v, y2[v]);
#pragma GCC unroll 4
        for (int j = 0; j < kSkew; ++j) L::store(g.recent[j] + W * v, recent[j][v]);
    }
    end.t = t;
    return end;
}

// Runs the segment staged in g (stageSegment) from its first step to its
// last; returns how many frames it took.
template <class L>
QV_KERNEL_INLINE int32_t runSegment(Segment& g) {
    int32_t t = 0;
    int32_t polledAt = -1;
    while (t < g.n + kLag) {
        const RunEnd end = t >= kLag && t < g.n ? runSteps<L, false>(g, t, polledAt)
                                                : runSteps<L, true>(g, t, polledAt);
        t = end.t;
        if (end.polling >= 0) {
            // The band takes its poll as defined, through the band itself.
            const int k = end.polling;
            BandFilter& band = *g.module->bands[k];
            scatterBand(g.state, k, band);
            pollBand(*g.module, k, g.controls, pollControlIndex(g, k, t));
            gatherBand(g.state, k, band);
            polledAt = t;
        }
    }
    return g.n;
}

// The steady steps alone, from the first at which every band is at work to
// the segment's end, on `path`, for a segment staged with nothing to look
// at; returns the step it stopped before (g.n). The benchmarks' floor of the
// loop's arithmetic.
int32_t runSteadySteps(Segment& g, KernelPath path);

}  // namespace eq
