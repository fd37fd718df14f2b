// Long stretches of frames that are filtered: music and noise, zeros inside
// them and silence while the bands still ring. They go through one pipeline
// from start to end, polls and flushes included, in which band k works on
// frame t - 4k at step t. Each band takes
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
#include "equaliser/process_steps.h"

namespace eq {

constexpr int32_t kSkew = 4;                       // frames between neighbouring bands
constexpr int32_t kLag = kSkew * (kBandCount - 1);  // band 5 is this many frames behind band 1
constexpr int32_t kChunk = 128;                     // steps between turns of the signal lines
constexpr int32_t kHistory = 2;                     // a band's two previous inputs
constexpr int32_t kLastChunk = kChunk + kLag;       // the last chunk takes the drain too
constexpr int32_t kSignalLength = kLastChunk + kHistory + kSkew;

// The shortest stretch worth the pipeline's filling and draining.
constexpr int32_t kMinPipelineRun = 24;

// What the steady steps work on. At chunk step u, band k takes its input
// from line(k, u + 2) (its previous two at u + 1 and u) and leaves its
// output, rounded to float and widened again, in line(k + 1, u + 2 + kSkew);
// band 5 leaves its output, both chains side by side, in stage[2u] and
// stage[2u + 1].
//
// A line index holds every band's input side by side, band 1's first, so
// two neighbouring bands take their inputs with one 256-bit load and leave
// their outputs, the inputs of the band after each, with one 256-bit store.
//
// A frame with a zero input flushes every band before the band takes it:
// flush[flushIndex(k, u)] says so for band k's frame at chunk step u, and
// the entry before it for the band's frame before. A frame that may be
// skipped (both inputs zero) is, once every band rests; while band 1 still
// rings it is not: maybeSkip[u] marks band 1's frame.
constexpr int kSlotsPerIndex = kBandCount + 1;  // 96 bytes: pairs of slots stay 32-byte aligned

struct PipelineLanes {
    __m128d b0[kBandCount], b1[kBandCount], b2[kBandCount], a1[kBandCount], a2[kBandCount];
    __m128d y1[kBandCount], y2[kBandCount];
    __m128d offset;  // the flush's denormal offset, on both lanes
    // The AVX steps' coefficients, bands 1 and 2, then 3 and 4, side by side
    // (b0, b1, b2, a1, a2 of the pair), read from memory at every step: held
    // in registers as well, they would crowd out the recursions' state.
    alignas(32) double pairCoefficients[2][5][4];
    // The AVX-512 steps' coefficients, bands 1 to 4 side by side (b0, b1,
    // b2, a1, a2 of the four), read from memory at every step likewise.
    alignas(32) double quadCoefficients[5][8];
    alignas(32) __m128d signal[kSignalLength][kSlotsPerIndex];
    alignas(16) float stage[2 * kLastChunk];
    uint8_t flush[kLastChunk + kLag + 1];  // one more frame before: whether it flushed too
    uint8_t maybeSkip[kLastChunk];
    // Steps at which some band flushes or band 1's frame may be skipped (see
    // the marks below); the steady steps look at nothing else on the way to
    // the next one. Sixteen more, read by the scan for the next and never
    // marked.
    alignas(16) uint8_t marked[kLastChunk + 16];
};

constexpr uint8_t kSomeBandFlushes = 1;
constexpr uint8_t kMaySkip = 2;
// Every band flushes, and flushed its frame before too (silence going on):
// only the newer two of each band's delay values need it.
constexpr uint8_t kAllFlushAgain = 4;

inline int32_t flushIndex(int band, int32_t u) { return u + kLag + 1 - kSkew * band; }

inline __m128d& line(PipelineLanes& lanes, int band, int32_t index) {
    return lanes.signal[index][band];
}
inline const __m128d& line(const PipelineLanes& lanes, int band, int32_t index) {
    return lanes.signal[index][band];
}

// One band's checks and flush on both chains, shared by every path's steps.
inline __m128d magnitude(__m128d v) { return _mm_andnot_pd(_mm_set1_pd(-0.0), v); }

// All four values within the runaway bound, on both lanes (a NaN is not).
inline bool withinBound(__m128d y1, __m128d y2, __m128d x1, __m128d x2) {
    const __m128d limit = _mm_set1_pd(kMaxDelayMagnitude);
    const __m128d ok = _mm_and_pd(_mm_and_pd(_mm_cmple_pd(magnitude(y1), limit),
                                             _mm_cmple_pd(magnitude(y2), limit)),
                                  _mm_and_pd(_mm_cmple_pd(magnitude(x1), limit),
                                             _mm_cmple_pd(magnitude(x2), limit)));
    return _mm_movemask_pd(ok) == 3;
}

inline __m128d flushed(__m128d v, __m128d offset) {
    return _mm_sub_pd(_mm_add_pd(v, offset), offset);
}

// All four values smaller in magnitude than `bound`, on both lanes (a NaN is
// not): the band is at rest (see filtersAtRest).
inline bool resting(__m128d y1, __m128d y2, __m128d x1, __m128d x2, __m128d bound) {
    const __m128d notBelow = _mm_or_pd(
        _mm_or_pd(_mm_cmpnlt_pd(magnitude(y1), bound), _mm_cmpnlt_pd(magnitude(y2), bound)),
        _mm_or_pd(_mm_cmpnlt_pd(magnitude(x1), bound), _mm_cmpnlt_pd(magnitude(x2), bound)));
    return _mm_movemask_pd(notBelow) == 0;
}

// Band 5's output for chunk step u, both chains in one store.
inline void stageFrame(PipelineLanes& lanes, int32_t u, __m128 frame) {
    _mm_storel_pi(reinterpret_cast<__m64*>(lanes.stage + 2 * u), frame);
}

// Band k's section at chunk step u, on its inputs before (x1, x2, flushed
// where the frame asks) and delay values y1, y2: y = b0 x + b1 x1 + b2 x2 -
// a1 y1 - a2 y2, in that order, handed to the band after it (band 5's to the
// stage).
inline void bandStep(PipelineLanes& lanes, int k, int32_t u, __m128d x1, __m128d x2, __m128d& y1,
                     __m128d& y2) {
    __m128d y = _mm_mul_pd(lanes.b0[k], line(lanes, k, u + 2));
    y = _mm_add_pd(y, _mm_mul_pd(lanes.b1[k], x1));
    y = _mm_add_pd(y, _mm_mul_pd(lanes.b2[k], x2));
    y = _mm_sub_pd(y, _mm_mul_pd(lanes.a1[k], y1));
    y = _mm_sub_pd(y, _mm_mul_pd(lanes.a2[k], y2));
    y2 = y1;
    y1 = y;
    if (k == kBandCount - 1)
        stageFrame(lanes, u, _mm_cvtpd_ps(y));
    else
        line(lanes, k + 1, u + kHistory + kSkew) = throughFloat(y);
}

// Band k's step u on 128 bits after the wider steps' bands: flushed first
// where the step's `marks` say its frame asks (silence going on flushes only
// the newer two: the older two were flushed a frame ago, and a flush of a
// flushed value gives it back bit for bit), then its section.
inline void flushedBandStep(PipelineLanes& lanes, int k, int32_t u, int marks, __m128d& y1,
                            __m128d& y2) {
    __m128d x1 = line(lanes, k, u + 1);
    __m128d x2 = line(lanes, k, u);
    const int32_t at = flushIndex(k, u);
    if (__builtin_expect(marks & kAllFlushAgain, 0)) {
        y1 = flushed(y1, lanes.offset);
        x1 = line(lanes, k, u + 1) = flushed(x1, lanes.offset);
    } else if (__builtin_expect(marks & kSomeBandFlushes, 0) && lanes.flush[at]) {
        y1 = flushed(y1, lanes.offset);
        x1 = line(lanes, k, u + 1) = flushed(x1, lanes.offset);
        if (!lanes.flush[at - 1]) {
            y2 = flushed(y2, lanes.offset);
            x2 = flushed(x2, lanes.offset);
        }
    }
    bandStep(lanes, k, u, x1, x2, y1, y2);
}

// The first marked step in [from, end), or end.
inline int32_t firstMarked(const PipelineLanes& lanes, int32_t from, int32_t end) {
    for (int32_t u = from; u < end; u += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes.marked + u));
        const int any = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())) ^ 0xFFFF;
        if (any != 0) {
            const int32_t at = u + __builtin_ctz(static_cast<unsigned>(any));
            return at < end ? at : end;
        }
    }
    return end;
}

// Before chunk step `step`, band `band` takes its part of the poll on
// `frame`. When none of its own controls moved (`exact` false) it needs no
// work unless a delay value has reached the runaway bound; otherwise it
// polls as the loop defines.
//
// A redesign depends on the controls and the band's design alone, never on
// its delay values, so where the stretch is sure to reach the poll it is
// made as soon as the poll is looked at (`designed`): the processor works it
// out while the steps before it run, and the band only takes the new
// coefficients at its step, clears its delay values if the type changed
// (`clears`), and restarts if they ran away.
struct BandPollEvent {
    int32_t step;
    int32_t band;
    int32_t frame;
    bool exact;
    bool designed = false;
    bool clears = false;
    double b0 = 0.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};


// Band e.band runs on the coefficients of a design made ahead.
inline void takeCoefficients(PipelineLanes& lanes, const BandPollEvent& e) {
    lanes.b0[e.band] = _mm_set1_pd(e.b0);
    lanes.b1[e.band] = _mm_set1_pd(e.b1);
    lanes.b2[e.band] = _mm_set1_pd(e.b2);
    lanes.a1[e.band] = _mm_set1_pd(e.a1);
    lanes.a2[e.band] = _mm_set1_pd(e.a2);
}


// Where the steady steps from `from` must look next: a marked step or the
// next band poll event's, at most `to`.
// The events from the one a run of steady steps comes to first, in order,
// with their steps counted from `base` steps before the run's chunk step 0.
struct PollEvents {
    const BandPollEvent* at;
    int32_t count;
    int32_t base;
};

inline int32_t nextLook(const PipelineLanes& lanes, int32_t from, int32_t to, const PollEvents& events,
                        int32_t next) {
    const int32_t step = next < events.count ? events.at[next].step - events.base : to;
    return firstMarked(lanes, from, step < to ? step : to);
}

// Chunk steps [from, to), every band at work. Stops early before a step
// whose frame may be skipped while band 1 rests (then the others may rest
// too), or at which a band must poll as defined (the caller takes that step
// band by band); returns the step it stopped before.
int32_t sse2SteadySteps(PipelineLanes& lanes, int32_t from, int32_t to, const PollEvents& events);
int32_t avxSteadySteps(PipelineLanes& lanes, int32_t from, int32_t to, const PollEvents& events);
int32_t avx512SteadySteps(PipelineLanes& lanes, int32_t from, int32_t to, const PollEvents& events);

struct PipelinePlace {
    Module& module;
    PairedState& state;
    float* const* controls;  // Freq1 .. Type5 at this call's positions
    int32_t& controlIndex;   // where the next poll reads the controls
    int32_t& counter;        // filtered frames since the last poll (32: one is due)
};

struct PipelineRun {
    int32_t frames;  // how many frames it took
    __m128 last;     // the last one's outputs
};

// Filters up to `n` consecutive frames from the first, which the caller has
// found is to be filtered, flushing where an input is zero and polling
// wherever the counter says. It stops early before a frame that may be
// skipped while band 1 rests: whether every band rests is then the caller's
// to decide, with the pipeline drained.
PipelineRun runPipeline(PipelinePlace place, const float* in1, const float* in2, float* out1,
                        float* out2, int32_t n);

}  // namespace eq
