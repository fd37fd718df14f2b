// The steady steps of the loud pipeline on AVX. Two bands share a 256-bit
// register, bands 1 and 2 in one, 3 and 4 in the next, band 5 alone in the
// third (its upper half idles on zeros): three sections a step instead of
// five. Each lane still does exactly the scalar double arithmetic of its
// band and chain, in the same order and with no fused multiply-add, so every
// bit is the one the SSE2 steps give.
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

QV_AVX inline __m256d join(__m128d low, __m128d high) {
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(low), high, 1);
}

QV_AVX inline __m128d half(__m256d v, int which) {
    return which == 0 ? _mm256_castpd256_pd128(v) : _mm256_extractf128_pd(v, 1);
}

// Bands 2p and 2p + 1 side by side (band 5 beside zeros).
QV_AVX inline __m256d pairOf(const __m128d* perBand, int p) {
    return 2 * p + 1 < kBandCount ? join(perBand[2 * p], perBand[2 * p + 1])
                                  : join(perBand[2 * p], _mm_setzero_pd());
}

QV_AVX inline __m256d linesAt(const PipelineLanes& lanes, int p, int32_t index) {
    return _mm256_loadu_pd(reinterpret_cast<const double*>(&lanes.signal[p][index][0]));
}

QV_AVX inline __m256d magnitude(__m256d v) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v); }

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

// Band 1's four values (the lower half of the first pair) all zero.
QV_AVX inline bool lowRests(__m256d y1, __m256d y2, __m256d x1, __m256d x2) {
    const __m128d any = _mm256_castpd256_pd128(_mm256_or_pd(_mm256_or_pd(y1, y2), _mm256_or_pd(x1, x2)));
    const __m128i bits = _mm_castpd_si128(_mm_andnot_pd(_mm_set1_pd(-0.0), any));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(bits, _mm_setzero_si128())) == 0xFFFF;
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

QV_AVX int32_t avxSteadySteps(PipelineLanes& lanes, int32_t from, int32_t to,
                              const BandPollEvent* events, int32_t eventCount) {
    // Only the recursions' own state stays in registers through the loop;
    // inputs come from the lines and the coefficients from memory, which
    // they never leave, so nothing is written back to the stack per step.
    __m256d b0[kPairs], b1[kPairs], b2[kPairs], a1[kPairs], a2[kPairs];
    __m256d y1[kPairs], y2[kPairs];
    for (int p = 0; p < kPairs; ++p) {
        b0[p] = pairOf(lanes.b0, p);
        b1[p] = pairOf(lanes.b1, p);
        b2[p] = pairOf(lanes.b2, p);
        a1[p] = pairOf(lanes.a1, p);
        a2[p] = pairOf(lanes.a2, p);
        y1[p] = pairOf(lanes.y1, p);
        y2[p] = pairOf(lanes.y2, p);
    }
    const __m256d offset = join(lanes.offset, lanes.offset);
    int32_t next = 0;
    int32_t u = from;
    for (; u < to; ++u) {
        if (lanes.maybeSkip[u] &&
            lowRests(y1[0], y2[0], linesAt(lanes, 0, u + 1), linesAt(lanes, 0, u)))
            break;
        if (next < eventCount && events[next].step == u) {
            // The pair is picked by constant indices only: an array indexed
            // at run time would have to live in memory through the loop.
            const BandPollEvent& e = events[next];
            bool quiet = !e.exact;
#pragma GCC unroll 3
            for (int p = 0; p < kPairs; ++p)
                if (p == e.band / 2 && quiet)
                    quiet = withinBound(y1[p], y2[p], linesAt(lanes, p, u + 1), linesAt(lanes, p, u),
                                        e.band % 2);
            if (!quiet) break;  // the band polls as defined, outside the loop
            ++next;
        }
        const int32_t ahead = u + kHistory + kSkew;
#pragma GCC unroll 3
        for (int p = 0; p < kPairs; ++p) {
            __m256d x1 = linesAt(lanes, p, u + 1);
            __m256d x2 = linesAt(lanes, p, u);
            // Band 5's idle neighbour follows band 5: flushing its zeros
            // leaves them zeros.
            const int32_t lowAt = flushIndex(2 * p, u);
            const int32_t highAt = 2 * p + 1 < kBandCount ? flushIndex(2 * p + 1, u) : lowAt;
            const int low = lanes.flush[lowAt];
            const int high = lanes.flush[highAt];
            if (__builtin_expect(low | high, 0)) {
                double* newer = reinterpret_cast<double*>(&lanes.signal[p][u + 1][0]);
                if (low & high & lanes.flush[lowAt - 1] & lanes.flush[highAt - 1]) {
                    // Silence going on: the older two were flushed a frame
                    // ago as the newer two, and a flush of a flushed value
                    // gives it back bit for bit.
                    y1[p] = flushed(y1[p], offset);
                    x1 = flushed(x1, offset);
                } else {
                    // Each band of the pair flushes for its own frame.
                    const __m256d which = _mm256_loadu_pd(kFlushMasks[low | (high << 1)]);
                    y1[p] = _mm256_blendv_pd(y1[p], flushed(y1[p], offset), which);
                    y2[p] = _mm256_blendv_pd(y2[p], flushed(y2[p], offset), which);
                    x1 = _mm256_blendv_pd(x1, flushed(x1, offset), which);
                    x2 = _mm256_blendv_pd(x2, flushed(x2, offset), which);
                }
                _mm256_storeu_pd(newer, x1);
            }
            // y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2, in that order, per lane.
            __m256d y = _mm256_mul_pd(b0[p], linesAt(lanes, p, u + 2));
            y = _mm256_add_pd(y, _mm256_mul_pd(b1[p], x1));
            y = _mm256_add_pd(y, _mm256_mul_pd(b2[p], x2));
            y = _mm256_sub_pd(y, _mm256_mul_pd(a1[p], y1[p]));
            y = _mm256_sub_pd(y, _mm256_mul_pd(a2[p], y2[p]));
            y2[p] = y1[p];
            y1[p] = y;
            if (p == kPairs - 1) {
                storeFrame(_mm256_cvtpd_ps(y), lanes.stage1 + u, lanes.stage2 + u);
            } else {
                // The signal between bands is a float: round each lane and
                // widen it again, for the next band of the pair and the
                // first of the next pair.
                const __m256d out = _mm256_cvtps_pd(_mm256_cvtpd_ps(y));
                lanes.signal[p][ahead][1] = half(out, 0);
                lanes.signal[p + 1][ahead][0] = half(out, 1);
            }
        }
    }
    for (int p = 0; p < kPairs; ++p)
        for (int which = 0; which < 2 && 2 * p + which < kBandCount; ++which) {
            lanes.y1[2 * p + which] = half(y1[p], which);
            lanes.y2[2 * p + which] = half(y2[p], which);
        }
    return u;
}

}  // namespace eq
