// The steady steps of the loud pipeline on AVX-512. Bands 1 to 4 share one
// 512-bit register, both chains of each side by side, and band 5 goes alone
// on 128 bits: two sections a step instead of five. Bands 1 to 4 take their
// inputs from four neighbouring slots of one line index and put their
// outputs in the next four of another, so each is one access. Each lane
// still does exactly the scalar double arithmetic of its band and chain, in
// the same order and with no fused multiply-add, so every bit is the one the
// SSE2 steps give.
//
// Compiled for AVX-512 function by function; nothing here runs unless the
// processor and the operating system support it (kernel_path.cpp). Its own
// loads and stores take no alignment for granted.
// GCC 12's AVX-512 headers leave the unused upper lanes of a widening cast
// undefined on purpose, and warn about it where they are inlined.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include "equaliser/loud_pipeline.h"
#include "equaliser/process_steps.h"

#define QV_AVX512 __attribute__((target("avx512f,avx512dq")))

namespace eq {

namespace {

constexpr int kQuad = 4;  // bands 1 to 4
constexpr int kAlone = kBandCount - 1;

// Where there are thirty-two vector registers the quad's inputs before are
// carried from step to step; the 32-bit build's eight keep only the
// recursions' own state, and it reads them from the lines again.
#if defined(__i386__)
constexpr bool kCarryInputs = false;
#else
constexpr bool kCarryInputs = true;
#endif

QV_AVX512 inline double* slots(PipelineLanes& lanes, int band, int32_t index) {
    return reinterpret_cast<double*>(&lanes.signal[index][band]);
}
QV_AVX512 inline __m512d quadAt(PipelineLanes& lanes, int32_t index) {
    return _mm512_loadu_pd(slots(lanes, 0, index));
}
QV_AVX512 inline __m512d carried(PipelineLanes& lanes, __m512d value, int32_t index) {
    return kCarryInputs ? value : quadAt(lanes, index);
}

QV_AVX512 inline __m512d quadOf(const __m128d* perBand) {
    const __m256d low = _mm256_insertf128_pd(_mm256_castpd128_pd256(perBand[0]), perBand[1], 1);
    const __m256d high = _mm256_insertf128_pd(_mm256_castpd128_pd256(perBand[2]), perBand[3], 1);
    return _mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1);
}

QV_AVX512 inline void storeQuad(__m128d* perBand, __m512d v) {
    double lanesOf[8];
    _mm512_storeu_pd(lanesOf, v);
    for (int k = 0; k < kQuad; ++k) perBand[k] = _mm_loadu_pd(lanesOf + 2 * k);
}

// The quad's coefficients side by side, where the steps read them.
QV_AVX512 inline void storeQuadCoefficients(PipelineLanes& lanes) {
    double* c = &lanes.quadCoefficients[0][0];
    _mm512_storeu_pd(c, quadOf(lanes.b0));
    _mm512_storeu_pd(c + 8, quadOf(lanes.b1));
    _mm512_storeu_pd(c + 16, quadOf(lanes.b2));
    _mm512_storeu_pd(c + 24, quadOf(lanes.a1));
    _mm512_storeu_pd(c + 32, quadOf(lanes.a2));
}

QV_AVX512 inline __m512d flushed(__m512d v, __m512d offset) {
    return _mm512_sub_pd(_mm512_add_pd(v, offset), offset);
}

QV_AVX512 inline __m512d magnitude(__m512d v) {
    return _mm512_andnot_pd(_mm512_set1_pd(-0.0), v);
}

// Band 1 (the lowest two lanes) at rest.
QV_AVX512 inline bool lowRests(__m512d y1, __m512d y2, __m512d x1, __m512d x2, __m128d bound) {
    return resting(_mm512_castpd512_pd128(y1), _mm512_castpd512_pd128(y2),
                   _mm512_castpd512_pd128(x1), _mm512_castpd512_pd128(x2), bound);
}

// Band `band` of the quad has every delay value within the runaway bound.
QV_AVX512 inline bool withinBound(__m512d y1, __m512d y2, __m512d x1, __m512d x2, int band) {
    const __m512d limit = _mm512_set1_pd(kMaxDelayMagnitude);
    const __mmask8 ok = _mm512_cmp_pd_mask(magnitude(y1), limit, _CMP_LE_OQ) &
                        _mm512_cmp_pd_mask(magnitude(y2), limit, _CMP_LE_OQ) &
                        _mm512_cmp_pd_mask(magnitude(x1), limit, _CMP_LE_OQ) &
                        _mm512_cmp_pd_mask(magnitude(x2), limit, _CMP_LE_OQ);
    return ((ok >> (2 * band)) & 3) == 3;
}

}  // namespace

QV_AVX512 int32_t avx512SteadySteps(PipelineLanes& lanes, int32_t from, int32_t to,
                                    const PollEvents& events) {
    storeQuadCoefficients(lanes);
    __m512d y1 = quadOf(lanes.y1);
    __m512d y2 = quadOf(lanes.y2);
    __m128d z1 = lanes.y1[kAlone];
    __m128d z2 = lanes.y2[kAlone];
    // The inputs before, carried from step to step.
    __m512d v1 = quadAt(lanes, from + 1);
    __m512d v2 = quadAt(lanes, from);
    const __m512d offset = _mm512_set1_pd(_mm_cvtsd_f64(lanes.offset));
    const double* const c = &lanes.quadCoefficients[0][0];
    int32_t next = 0;
    int32_t u = from;
    for (; u < to; ++u) {
        // Most steps are not marked: no band flushes, and band 1's frame
        // may not be skipped.
        const int marks = lanes.marked[u];
        if (__builtin_expect(marks & kMaySkip, 0) &&
            lowRests(y1, y2, carried(lanes, v1, u + 1), carried(lanes, v2, u), lanes.offset))
            break;
        if (next < events.count && events.at[next].step == u + events.base) {
            // A band whose controls moved takes its poll outside the loop,
            // as on the other paths: the others only need a look at their
            // delay values.
            const BandPollEvent& e = events.at[next];
            bool quiet = !e.exact;
            if (quiet && e.band < kQuad)
                quiet = withinBound(y1, y2, carried(lanes, v1, u + 1), carried(lanes, v2, u), e.band);
            else if (quiet)
                quiet = withinBound(z1, z2, line(lanes, kAlone, u + 1), line(lanes, kAlone, u));
            if (!quiet) break;
            ++next;
        }
        __m512d x1 = carried(lanes, v1, u + 1);
        __m512d x2 = carried(lanes, v2, u);
        if (__builtin_expect(marks & kSomeBandFlushes, 0)) {
            if (marks & kAllFlushAgain) {
                // Silence going on: the older two were flushed a frame ago
                // as the newer two, and a flush of a flushed value gives it
                // back bit for bit.
                y1 = flushed(y1, offset);
                x1 = flushed(x1, offset);
            } else {
                // Each band flushes for its own frame.
                unsigned which = 0;
                for (int k = 0; k < kQuad; ++k)
                    if (lanes.flush[flushIndex(k, u)]) which |= 3u << (2 * k);
                const __mmask8 m = static_cast<__mmask8>(which);
                y1 = _mm512_mask_blend_pd(m, y1, flushed(y1, offset));
                y2 = _mm512_mask_blend_pd(m, y2, flushed(y2, offset));
                x1 = _mm512_mask_blend_pd(m, x1, flushed(x1, offset));
                x2 = _mm512_mask_blend_pd(m, x2, flushed(x2, offset));
            }
            _mm512_storeu_pd(slots(lanes, 0, u + 1), x1);
        }
        // y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2, in that order, per lane.
        const __m512d x = quadAt(lanes, u + 2);
        __m512d y = _mm512_mul_pd(_mm512_loadu_pd(c), x);
        y = _mm512_add_pd(y, _mm512_mul_pd(_mm512_loadu_pd(c + 8), x1));
        y = _mm512_add_pd(y, _mm512_mul_pd(_mm512_loadu_pd(c + 16), x2));
        y = _mm512_sub_pd(y, _mm512_mul_pd(_mm512_loadu_pd(c + 24), y1));
        y = _mm512_sub_pd(y, _mm512_mul_pd(_mm512_loadu_pd(c + 32), y2));
        y2 = y1;
        y1 = y;
        if (kCarryInputs) v2 = x1, v1 = x;
        // The signal between bands is a float: round each lane and widen it
        // again, for the band after each of the four.
        _mm512_storeu_pd(slots(lanes, 1, u + kHistory + kSkew), _mm512_cvtps_pd(_mm512_cvtpd_ps(y)));

        // Band 5, as on SSE2.
        flushedBandStep(lanes, kAlone, u, marks, z1, z2);
    }
    storeQuad(lanes.y1, y1);
    storeQuad(lanes.y2, y2);
    lanes.y1[kAlone] = z1;
    lanes.y2[kAlone] = z2;
    return u;
}

}  // namespace eq
