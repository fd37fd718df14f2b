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

#ifndef QV_SKEW
#define QV_SKEW 3
#endif
constexpr int32_t kSkew = QV_SKEW;
constexpr int32_t kLag = kSkew * (kBandCount - 1);  // band 5 is this many steps behind band 1
constexpr int32_t kMaxSegment = 256;
constexpr int32_t kRecentRows = 8;
static_assert(kSkew < kRecentRows && (kRecentRows & (kRecentRows - 1)) == 0, "a ring of steps");
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
static_assert(kFrameFlushes == kStepFlushes && kFrameMaySkip == kStepMaySkip, "a frame's asks become its step's");

struct Segment {
    // Band 5's outputs: frame f's at 2(f + kLag) (the step that makes it);
    // the filling steps write their nothing before them.
    alignas(16) float outs[2 * (kMaxSegment + kLag)];
    // Per frame f at f + kLag, with kLag zero entries on either side (and
    // sixteen more, for the sixteen-at-a-time reads).
    uint8_t zeros[kMaxSegment + 2 * kLag + 16];
    // Per step (and up to fifteen more, written and never read).
    uint8_t events[kMaxSegment + kLag + 16];
    uint8_t pollingBand[kMaxSegment + kLag];
    // Bands 1 to 4's outputs of the last steps, rounded through float: step
    // t's in row t mod kRecentRows.
    alignas(64) double recent[kRecentRows][kLanes];
    LaneState state;

    int32_t n;             // frames it takes: fewer once it stops before one that may be skipped
    int32_t firstPoll;     // the frame of its first poll (kPollInterval - counter)
    int32_t controlIndex;  // where that poll reads the controls
    const float* in1;  // the host's input buffers at the segment's first frame
    const float* in2;
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

// Steps from t with the delay values in registers: the steady steps (every
// band at work) or, Masked, the filling and draining ones. `polledAt`: the
// step whose poll (and skip check) is already done.
//
// Bands 1 to 4 fill kFull registers of the lane type; band 5 goes alone on
// SSE2 lanes (its own register is all a wider one would do useful work in).
// The coefficients are read from memory at every step and the outputs of
// the last kSkew steps wait in a ring there: held in registers as well, they
// would crowd out the recursions' state on the narrower types.
template <class L, bool Masked>
QV_KERNEL_INLINE RunEnd runSteps(Segment& g, int32_t t, int32_t polledAt) {
    using V = typename L::V;
    using T = Sse2Lanes;  // band 5
    using V2 = __m128d;
    constexpr int W = L::kWidth;
    constexpr int F = 2 * (kBandCount - 1) / W;
    constexpr int kTail = 2 * (kBandCount - 1);  // band 5's first lane
    static_assert(F * W == kTail, "bands 1 to 4 fill whole registers");
    LaneState& s = g.state;
    V x1[F], x2[F], y1[F], y2[F];
#pragma GCC unroll 4
    for (int v = 0; v < F; ++v) {
        x1[v] = L::load(s.x1 + W * v), x2[v] = L::load(s.x2 + W * v);
        y1[v] = L::load(s.y1 + W * v), y2[v] = L::load(s.y2 + W * v);
    }
    V2 tx1 = T::load(s.x1 + kTail), tx2 = T::load(s.x2 + kTail);
    V2 ty1 = T::load(s.y1 + kTail), ty2 = T::load(s.y2 + kTail);
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
                    const V2 tailLimit = T::set1(kMaxDelayMagnitude);
                    unsigned runaway = (T::beyond(tx1, tailLimit) | T::beyond(tx2, tailLimit) |
                                        T::beyond(ty1, tailLimit) | T::beyond(ty2, tailLimit))
                                       << kTail;
#pragma GCC unroll 4
                    for (int v = 0; v < F; ++v)
                        runaway |= (L::beyond(x1[v], limit) | L::beyond(x2[v], limit) |
                                    L::beyond(y1[v], limit) | L::beyond(y2[v], limit))
                                   << (W * v);
                    if ((runaway >> (2 * k)) & 3 ||
                        !controlsAsCached(*g.module, k, g.controls, pollControlIndex(g, k, t))) {
                        end.polling = k;
                        break;
                    }
                }
            }
            const unsigned flushing = (events & kStepFlushes) ? bandsFlushing(g, t) & working : 0;
            if (flushing != 0) {
                const V offset = L::set1(denormalOffset);
#pragma GCC unroll 4
                for (int v = 0; v < F; ++v) {
                    const V mask = L::load(kLaneMasks.lanes(flushing, W * v));
                    x1[v] = L::select(mask, flushed<L>(x1[v], offset), x1[v]);
                    x2[v] = L::select(mask, flushed<L>(x2[v], offset), x2[v]);
                    y1[v] = L::select(mask, flushed<L>(y1[v], offset), y1[v]);
                    y2[v] = L::select(mask, flushed<L>(y2[v], offset), y2[v]);
                }
                const V2 mask = T::load(kLaneMasks.lanes(flushing, kTail));
                const V2 tailOffset = T::set1(denormalOffset);
                tx1 = T::select(mask, flushed<T>(tx1, tailOffset), tx1);
                tx2 = T::select(mask, flushed<T>(tx2, tailOffset), tx2);
                ty1 = T::select(mask, flushed<T>(ty1, tailOffset), ty1);
                ty2 = T::select(mask, flushed<T>(ty2, tailOffset), ty2);
            }
        }
        // Band 1 takes frame t (straight from the host's buffers: the outputs
        // reach them only after the segment); band k + 1 the output band k
        // gave kSkew steps ago. The draining steps read the last frame again.
        const int32_t frame = Masked && t >= n ? (n > 0 ? n - 1 : 0) : t;
        const double* given = g.recent[(t - kSkew) & (kRecentRows - 1)];
        double* giving = g.recent[t & (kRecentRows - 1)];
        V x[F];
        x[0] = L::shiftIn(L::frameAtTop(g.in1 + frame, g.in2 + frame), L::load(given));
#pragma GCC unroll 4
        for (int v = 1; v < F; ++v) x[v] = L::shiftIn(L::load(given + W * (v - 1)), L::load(given + W * v));
        const V2 tx = T::load(given + kTail - 2);
#pragma GCC unroll 4
        for (int v = 0; v < F; ++v) {
            const int lane = W * v;
            const V y = section<L>(L::load(s.b0 + lane), L::load(s.b1 + lane), L::load(s.b2 + lane),
                                   L::load(s.a1 + lane), L::load(s.a2 + lane), x[v], x1[v], x2[v], y1[v],
                                   y2[v]);
            if (Masked) {
                const V mask = L::load(kLaneMasks.lanes(working, lane));
                x2[v] = L::select(mask, x1[v], x2[v]);
                x1[v] = L::select(mask, x[v], x1[v]);
                y2[v] = L::select(mask, y1[v], y2[v]);
                y1[v] = L::select(mask, y, y1[v]);
            } else {
                x2[v] = x1[v], x1[v] = x[v], y2[v] = y1[v], y1[v] = y;
            }
            __m128 unused;
            L::store(giving + lane, L::throughFloat(y, unused));
        }
        const V2 ty = section<T>(T::load(s.b0 + kTail), T::load(s.b1 + kTail), T::load(s.b2 + kTail),
                                 T::load(s.a1 + kTail), T::load(s.a2 + kTail), tx, tx1, tx2, ty1, ty2);
        if (Masked) {
            const V2 mask = T::load(kLaneMasks.lanes(working, kTail));
            tx2 = T::select(mask, tx1, tx2);
            tx1 = T::select(mask, tx, tx1);
            ty2 = T::select(mask, ty1, ty2);
            ty1 = T::select(mask, ty, ty1);
        } else {
            tx2 = tx1, tx1 = tx, ty2 = ty1, ty1 = ty;
        }
        // Band 5's output for frame t - kLag.
        _mm_storel_pi(reinterpret_cast<__m64*>(g.outs + 2 * t), _mm_cvtpd_ps(ty));
    }
#pragma GCC unroll 4
    for (int v = 0; v < F; ++v) {
        L::store(s.x1 + W * v, x1[v]), L::store(s.x2 + W * v, x2[v]);
        L::store(s.y1 + W * v, y1[v]), L::store(s.y2 + W * v, y2[v]);
    }
    T::store(s.x1 + kTail, tx1), T::store(s.x2 + kTail, tx2);
    T::store(s.y1 + kTail, ty1), T::store(s.y2 + kTail, ty2);
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
