// The steady steps of the loud pipeline on AVX. Two bands share a 256-bit
// register, bands 1 and 2 in one, 3 and 4 in the next, and band 5 goes
// alone on 128 bits: three sections a step instead of five. Each lane still
// does exactly the scalar double arithmetic of its band and chain, in the
// same order and with no fused multiply-add, so every bit is the one the
// SSE2 steps give.
//
// Compiled for AVX function by function; nothing here runs unless the
// processor and the operating system support AVX (kernel_path.cpp). Its own
// loads and stores take no alignment for granted: a 32-bit Windows host
// guarantees the stack less than 32 bytes of it.
#include <immintrin.h>

#include <cmath>

#include "equaliser/loud_pipeline.h"
#include "equaliser/process_steps.h"

#define QV_AVX __attribute__((target("avx")))

namespace eq {

namespace {

constexpr int kPairs = 2;  // bands 1 and 2, bands 3 and 4

// Where there are sixteen vector registers the pairs' inputs before are
// carried from step to step; the 32-bit build's eight hold only the
// recursions' own state, and it reads them from the lines again.
#if defined(__i386__)
constexpr bool kCarryInputs = false;
#else
constexpr bool kCarryInputs = true;
#endif
constexpr int kAlone = kBandCount - 1;

// Band 5's two delay values. With eight registers, two of them on their own
// are one too many: the compiler keeps them on the stack, and band 5's
// recursion then waits on a store and a load at every step. Side by side in
// one 256-bit register they stay in registers, for two shuffles a step.
// Where there are sixteen registers they go on their own.
struct AloneState {
#if defined(__i386__)
    __m256d both;  // y1 low, y2 high
    QV_AVX __m128d y1() const { return _mm256_castpd256_pd128(both); }
    QV_AVX __m128d y2() const { return _mm256_extractf128_pd(both, 1); }
    QV_AVX void set(__m128d y1, __m128d y2) {
        both = _mm256_insertf128_pd(_mm256_castpd128_pd256(y1), y2, 1);
    }
#else
    __m128d first, second;
    QV_AVX __m128d y1() const { return first; }
    QV_AVX __m128d y2() const { return second; }
    QV_AVX void set(__m128d y1, __m128d y2) { first = y1, second = y2; }
#endif
};

QV_AVX inline __m256d join(__m128d low, __m128d high) {
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(low), high, 1);
}

QV_AVX inline __m128d half(__m256d v, int which) {
    return which == 0 ? _mm256_castpd256_pd128(v) : _mm256_extractf128_pd(v, 1);
}

QV_AVX inline __m256d pairOf(const __m128d* perBand, int p) {
    return join(perBand[2 * p], perBand[2 * p + 1]);
}

// Bands 2p and 2p + 1's inputs at one line index; `band` 2p + 1 for the
// slots their outputs go to.
QV_AVX inline double* slots(PipelineLanes& lanes, int band, int32_t index) {
    return reinterpret_cast<double*>(&lanes.signal[index][band]);
}
QV_AVX inline __m256d linesAt(PipelineLanes& lanes, int p, int32_t index) {
    return _mm256_loadu_pd(slots(lanes, 2 * p, index));
}

QV_AVX inline __m256d magnitude(__m256d v) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v); }

// Pair p's input before at line `index`: carried in `values`, or read again.
QV_AVX inline __m256d carried(PipelineLanes& lanes, const __m256d* values, int p, int32_t index) {
    return kCarryInputs ? values[p] : linesAt(lanes, p, index);
}

// Pair p's coefficients side by side, where the steps read them.
QV_AVX inline void storePairCoefficients(PipelineLanes& lanes, int p) {
    double* c = &lanes.pairCoefficients[p][0][0];
    _mm256_storeu_pd(c, pairOf(lanes.b0, p));
    _mm256_storeu_pd(c + 4, pairOf(lanes.b1, p));
    _mm256_storeu_pd(c + 8, pairOf(lanes.b2, p));
    _mm256_storeu_pd(c + 12, pairOf(lanes.a1, p));
    _mm256_storeu_pd(c + 16, pairOf(lanes.a2, p));
}

// Lanes to flush: none, the lower band's, the upper band's, both.
alignas(32) const double kFlushMasks[4][4] = {
    {0.0, 0.0, 0.0, 0.0},
    {-NAN, -NAN, 0.0, 0.0},
    {0.0, 0.0, -NAN, -NAN},
    {-NAN, -NAN, -NAN, -NAN},
};

QV_AVX inline __m256d flushed(__m256d v, __m256d offset) {
    return _mm256_sub_pd(_mm256_add_pd(v, offset), offset);
}

// Band 1 (the lower half of the first pair) at rest.
QV_AVX inline bool lowRests(__m256d y1, __m256d y2, __m256d x1, __m256d x2, __m128d bound) {
    return resting(_mm256_castpd256_pd128(y1), _mm256_castpd256_pd128(y2),
                   _mm256_castpd256_pd128(x1), _mm256_castpd256_pd128(x2), bound);
}

QV_AVX inline bool withinBound(__m256d y1, __m256d y2, __m256d x1, __m256d x2, int which) {
    const __m256d limit = _mm256_set1_pd(kMaxDelayMagnitude);
    const __m256d ok = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(magnitude(y1), limit, _CMP_LE_OQ),
                      _mm256_cmp_pd(magnitude(y2), limit, _CMP_LE_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(magnitude(x1), limit, _CMP_LE_OQ),
                      _mm256_cmp_pd(magnitude(x2), limit, _CMP_LE_OQ)));
    const int mask = _mm256_movemask_pd(ok);
    return ((which == 0 ? mask : mask >> 2) & 3) == 3;
}

}  // namespace

QV_AVX int32_t avxSteadySteps(PipelineLanes& lanes, int32_t from, int32_t to, const PollEvents& events) {
    // Only the recursions' own state stays in registers through the loop;
    // inputs come from the lines and the coefficients from memory, which
    // they never leave, so nothing is written back to the stack per step.
    __m256d y1[kPairs], y2[kPairs];
    for (int p = 0; p < kPairs; ++p) {
        storePairCoefficients(lanes, p);
        y1[p] = pairOf(lanes.y1, p);
        y2[p] = pairOf(lanes.y2, p);
    }
    AloneState z;
    z.set(lanes.y1[kAlone], lanes.y2[kAlone]);
    // The inputs before, carried from step to step: loaded again from the
    // lines, a pair's two halves would come from two different stores.
    __m256d v1[kPairs], v2[kPairs];
    for (int p = 0; p < kPairs; ++p) v1[p] = linesAt(lanes, p, from + 1), v2[p] = linesAt(lanes, p, from);
    const __m256d offset = join(lanes.offset, lanes.offset);
    int32_t next = 0;
    int32_t u = from;
    for (; u < to; ++u) {
        // Most steps are not marked: no band flushes, and band 1's frame
        // may not be skipped.
        const int marks = lanes.marked[u];
        if (__builtin_expect(marks & kMaySkip, 0) && lowRests(y1[0], y2[0], carried(lanes, v1, 0, u + 1), carried(lanes, v2, 0, u), lanes.offset)) break;
        if (next < events.count && events.at[next].step == u + events.base) {
            // The pair is picked by constant indices only: an array indexed
            // at run time would have to live in memory through the loop.
            const BandPollEvent& e = events.at[next];
            // A band whose controls moved (its design made ahead or not)
            // takes its poll outside the loop, as on the SSE2 path: the
            // others only need a look at their delay values.
            bool quiet = !e.exact;
#pragma GCC unroll 2
            for (int p = 0; p < kPairs; ++p)
                if (p == e.band / 2 && quiet)
                    quiet = withinBound(y1[p], y2[p], carried(lanes, v1, p, u + 1), carried(lanes, v2, p, u), e.band % 2);
            if (e.band == kAlone && quiet)
                quiet = withinBound(z.y1(), z.y2(), line(lanes, kAlone, u + 1), line(lanes, kAlone, u));
            if (!quiet) break;
            ++next;
        }
        const int32_t ahead = u + kHistory + kSkew;
#pragma GCC unroll 2
        for (int p = 0; p < kPairs; ++p) {
            __m256d x1 = carried(lanes, v1, p, u + 1);
            __m256d x2 = carried(lanes, v2, p, u);
            if (__builtin_expect(marks & kSomeBandFlushes, 0)) {
                const int32_t lowAt = flushIndex(2 * p, u);
                const int32_t highAt = flushIndex(2 * p + 1, u);
                const int low = lanes.flush[lowAt];
                const int high = lanes.flush[highAt];
                if (marks & kAllFlushAgain) {
                    // Silence going on: the older two were flushed a frame
                    // ago as the newer two, and a flush of a flushed value
                    // gives it back bit for bit.
                    y1[p] = flushed(y1[p], offset);
                    x1 = flushed(x1, offset);
                } else if (low | high) {
                    // Each band of the pair flushes for its own frame.
                    const __m256d which = _mm256_loadu_pd(kFlushMasks[low | (high << 1)]);
                    y1[p] = _mm256_blendv_pd(y1[p], flushed(y1[p], offset), which);
                    y2[p] = _mm256_blendv_pd(y2[p], flushed(y2[p], offset), which);
                    x1 = _mm256_blendv_pd(x1, flushed(x1, offset), which);
                    x2 = _mm256_blendv_pd(x2, flushed(x2, offset), which);
                }
                _mm256_storeu_pd(slots(lanes, 2 * p, u + 1), x1);
            }
            // y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2, in that order, per lane.
            const double* const c = &lanes.pairCoefficients[p][0][0];
            const __m256d x = linesAt(lanes, p, u + 2);
            __m256d y = _mm256_mul_pd(_mm256_loadu_pd(c), x);
            y = _mm256_add_pd(y, _mm256_mul_pd(_mm256_loadu_pd(c + 4), x1));
            y = _mm256_add_pd(y, _mm256_mul_pd(_mm256_loadu_pd(c + 8), x2));
            y = _mm256_sub_pd(y, _mm256_mul_pd(_mm256_loadu_pd(c + 12), y1[p]));
            y = _mm256_sub_pd(y, _mm256_mul_pd(_mm256_loadu_pd(c + 16), y2[p]));
            y2[p] = y1[p];
            y1[p] = y;
            if (kCarryInputs) v2[p] = x1, v1[p] = x;
            // The signal between bands is a float: round each lane and widen
            // it again, for the band after each of the pair.
            _mm256_storeu_pd(slots(lanes, 2 * p + 1, ahead), _mm256_cvtps_pd(_mm256_cvtpd_ps(y)));
        }
        // Band 5, as on SSE2.
        __m128d z1 = z.y1(), z2 = z.y2();
        flushedBandStep(lanes, kAlone, u, marks, z1, z2);
        z.set(z1, z2);
    }
    for (int p = 0; p < kPairs; ++p)
        for (int which = 0; which < 2; ++which) {
            lanes.y1[2 * p + which] = half(y1[p], which);
            lanes.y2[2 * p + which] = half(y2[p], which);
        }
    lanes.y1[kAlone] = z.y1();
    lanes.y2[kAlone] = z.y2();
    return u;
}

}  // namespace eq
