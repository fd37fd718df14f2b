// The steady steps of the loud pipeline on AVX. Two bands share a 256-bit
// register, bands 1 and 2 in one, 3 and 4 in the next, band 5 alone in the
// third (its upper half idles on zeros): three sections a step instead of
// five. Each lane still does exactly the scalar double arithmetic of its
// band and chain, in the same order and with no fused multiply-add, so every
// bit is the one the SSE2 steps give.
//
// Compiled for AVX function by function; nothing here runs unless the
// processor and the operating system support AVX (kernel_path.cpp).
#include <immintrin.h>

#include "equaliser/loud_pipeline.h"
#include "equaliser/process_steps.h"

#define QV_AVX __attribute__((target("avx")))

namespace eq {

namespace {

constexpr int kPairs = 3;

QV_AVX inline __m256d join(__m128d low, __m128d high) {
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(low), high, 1);
}

QV_AVX inline __m128d half(__m256d v, int which) {
    return which == 0 ? _mm256_castpd256_pd128(v) : _mm256_extractf128_pd(v, 1);
}

// Band k's lane pair in pair register p's lower (k even) or upper half.
QV_AVX inline __m256d pairOf(const __m128d* perBand, int p) {
    return 2 * p + 1 < kBandCount ? join(perBand[2 * p], perBand[2 * p + 1])
                                  : join(perBand[2 * p], _mm_setzero_pd());
}

QV_AVX inline __m256d inputsAt(const PipelineLanes& lanes, int p, int32_t index) {
    return 2 * p + 1 < kBandCount ? join(lanes.signal[2 * p][index], lanes.signal[2 * p + 1][index])
                                  : join(lanes.signal[2 * p][index], _mm_setzero_pd());
}

QV_AVX inline __m256d magnitude(__m256d v) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v); }

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
                              const RunawayCheck* checks, int32_t checkCount) {
    __m256d b0[kPairs], b1[kPairs], b2[kPairs], a1[kPairs], a2[kPairs];
    __m256d x1[kPairs], x2[kPairs], y1[kPairs], y2[kPairs];
    for (int p = 0; p < kPairs; ++p) {
        b0[p] = pairOf(lanes.b0, p);
        b1[p] = pairOf(lanes.b1, p);
        b2[p] = pairOf(lanes.b2, p);
        a1[p] = pairOf(lanes.a1, p);
        a2[p] = pairOf(lanes.a2, p);
        y1[p] = pairOf(lanes.y1, p);
        y2[p] = pairOf(lanes.y2, p);
        x1[p] = inputsAt(lanes, p, from + 1);
        x2[p] = inputsAt(lanes, p, from);
    }
    int32_t next = 0;
    int32_t u = from;
    for (; u < to; ++u) {
        if (next < checkCount && checks[next].step == u) {
            const int k = checks[next].band;
            if (!withinBound(y1[k / 2], y2[k / 2], x1[k / 2], x2[k / 2], k % 2)) break;
            ++next;
        }
        __m256d y[kPairs];
#pragma GCC unroll 3
        for (int p = 0; p < kPairs; ++p) {
            const __m256d x = inputsAt(lanes, p, u + kHistory);
            // y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2, in that order, per lane.
            __m256d sum = _mm256_mul_pd(b0[p], x);
            sum = _mm256_add_pd(sum, _mm256_mul_pd(b1[p], x1[p]));
            sum = _mm256_add_pd(sum, _mm256_mul_pd(b2[p], x2[p]));
            sum = _mm256_sub_pd(sum, _mm256_mul_pd(a1[p], y1[p]));
            sum = _mm256_sub_pd(sum, _mm256_mul_pd(a2[p], y2[p]));
            x2[p] = x1[p];
            x1[p] = x;
            y2[p] = y1[p];
            y1[p] = sum;
            y[p] = sum;
        }
        // The signal between bands is a float: round each lane and widen it again.
        const int32_t ahead = u + kHistory + kSkew;
        const __m256d first = _mm256_cvtps_pd(_mm256_cvtpd_ps(y[0]));
        const __m256d second = _mm256_cvtps_pd(_mm256_cvtpd_ps(y[1]));
        lanes.signal[1][ahead] = half(first, 0);
        lanes.signal[2][ahead] = half(first, 1);
        lanes.signal[3][ahead] = half(second, 0);
        lanes.signal[4][ahead] = half(second, 1);
        storeFrame(_mm256_cvtpd_ps(y[2]), lanes.stage1 + u, lanes.stage2 + u);
    }
    for (int p = 0; p < kPairs; ++p)
        for (int which = 0; which < 2 && 2 * p + which < kBandCount; ++which) {
            lanes.y1[2 * p + which] = half(y1[p], which);
            lanes.y2[2 * p + which] = half(y2[p], which);
        }
    return u;
}

}  // namespace eq
