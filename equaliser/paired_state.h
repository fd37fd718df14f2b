// Both chains of a band in one SSE2 register: left in the low lane, right in
// the high lane. The lanes never meet and each does exactly the scalar
// double arithmetic, so results are bit-identical to running the chains one
// after the other. Shared by the paired kernel and its pipelines.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "equaliser/band_filter.h"
#include "equaliser/module.h"

namespace eq {

// One band's coefficients, each broadcast to both lanes, and its delay
// values with left and right side by side.
struct PairedBand {
    __m128d b0, b1, b2, a1, a2;
    __m128d x1, x2, y1, y2;
};

struct PairedState {
    PairedBand band[kBandCount];
};

inline void loadCoefficients(PairedBand& p, const BandFilter& f) {
    p.b0 = _mm_set1_pd(f.b0);
    p.b1 = _mm_set1_pd(f.b1);
    p.b2 = _mm_set1_pd(f.b2);
    p.a1 = _mm_set1_pd(f.a1);
    p.a2 = _mm_set1_pd(f.a2);
}

inline void loadDelays(PairedBand& p, const BandFilter& f) {
    p.x1 = _mm_set_pd(f.rightX1, f.leftX1);
    p.x2 = _mm_set_pd(f.rightX2, f.leftX2);
    p.y1 = _mm_set_pd(f.rightY1, f.leftY1);
    p.y2 = _mm_set_pd(f.rightY2, f.leftY2);
}

inline void storeDelays(const PairedBand& p, BandFilter& f) {
    _mm_storel_pd(&f.leftX1, p.x1);
    _mm_storeh_pd(&f.rightX1, p.x1);
    _mm_storel_pd(&f.leftX2, p.x2);
    _mm_storeh_pd(&f.rightX2, p.x2);
    _mm_storel_pd(&f.leftY1, p.y1);
    _mm_storeh_pd(&f.rightY1, p.y1);
    _mm_storel_pd(&f.leftY2, p.y2);
    _mm_storeh_pd(&f.rightY2, p.y2);
}

inline void load(PairedState& s, const Module& m) {
    for (int k = 0; k < kBandCount; ++k) {
        loadCoefficients(s.band[k], *m.bands[k]);
        loadDelays(s.band[k], *m.bands[k]);
    }
}

inline void storeAllDelays(const PairedState& s, Module& m) {
    for (int k = 0; k < kBandCount; ++k) storeDelays(s.band[k], *m.bands[k]);
}

// y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2, in that order, per lane.
inline __m128d section(PairedBand& p, __m128d x) {
    __m128d y = _mm_mul_pd(p.b0, x);
    y = _mm_add_pd(y, _mm_mul_pd(p.b1, p.x1));
    y = _mm_add_pd(y, _mm_mul_pd(p.b2, p.x2));
    y = _mm_sub_pd(y, _mm_mul_pd(p.a1, p.y1));
    y = _mm_sub_pd(y, _mm_mul_pd(p.a2, p.y2));
    p.x2 = p.x1;
    p.x1 = x;
    p.y2 = p.y1;
    p.y1 = y;
    return y;
}

// The signal between bands is a float: round each lane and widen it again.
inline __m128d throughFloat(__m128d y) { return _mm_cvtps_pd(_mm_cvtpd_ps(y)); }

inline __m128d loadFrame(const float* left, const float* right) {
    return _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(left), _mm_load_ss(right)));
}

inline void storeFrame(__m128 frame, float* left, float* right) {
    _mm_store_ss(left, frame);
    _mm_store_ss(right, _mm_shuffle_ps(frame, frame, _MM_SHUFFLE(1, 1, 1, 1)));
}

// Floats [first, end) from one buffer to another, four at a time.
inline void copyFloats(const float* from, float* to, int32_t first, int32_t end) {
    int32_t j = first;
    for (; j + 4 <= end; j += 4) _mm_storeu_ps(to + j, _mm_loadu_ps(from + j));
    for (; j < end; ++j) to[j] = from[j];
}

// One filtered frame through all five bands; returns the float outputs.
inline __m128 cascade(PairedState& s, __m128d x) {
    x = throughFloat(section(s.band[0], x));
    x = throughFloat(section(s.band[1], x));
    x = throughFloat(section(s.band[2], x));
    x = throughFloat(section(s.band[3], x));
    return _mm_cvtpd_ps(section(s.band[4], x));
}

inline void flushBand(PairedBand& p, __m128d offset) {
    p.x1 = _mm_sub_pd(_mm_add_pd(p.x1, offset), offset);
    p.x2 = _mm_sub_pd(_mm_add_pd(p.x2, offset), offset);
    p.y1 = _mm_sub_pd(_mm_add_pd(p.y1, offset), offset);
    p.y2 = _mm_sub_pd(_mm_add_pd(p.y2, offset), offset);
}

inline void flushAll(PairedState& s, __m128d offset) {
    for (PairedBand& p : s.band) flushBand(p, offset);
}

// Whether band `p`'s four values are not all smaller in magnitude than
// `bound`, on each lane (a NaN is not).
inline __m128d notResting(const PairedBand& p, __m128d bound) {
    const __m128d sign = _mm_set1_pd(-0.0);
    return _mm_or_pd(_mm_or_pd(_mm_cmpnlt_pd(_mm_andnot_pd(sign, p.x1), bound),
                               _mm_cmpnlt_pd(_mm_andnot_pd(sign, p.x2), bound)),
                     _mm_or_pd(_mm_cmpnlt_pd(_mm_andnot_pd(sign, p.y1), bound),
                               _mm_cmpnlt_pd(_mm_andnot_pd(sign, p.y2), bound)));
}

inline bool bandRests(const PairedBand& p, __m128d bound) {
    return _mm_movemask_pd(notResting(p, bound)) == 0;
}

// Every delay value of every band is smaller in magnitude than `bound` (the
// flush's offset): the filters are at rest (see filtersAtRest).
inline bool atRest(const PairedState& s, __m128d bound) {
    __m128d any = _mm_setzero_pd();
    for (const PairedBand& p : s.band) any = _mm_or_pd(any, notResting(p, bound));
    return _mm_movemask_pd(any) == 0;
}

// Every delay value of band `p` lies within +-limit (a NaN does not).
inline bool delaysWithin(const PairedBand& p, __m128d limit) {
    const __m128d magnitude = _mm_set1_pd(-0.0);
    const __m128d ok = _mm_and_pd(
        _mm_and_pd(_mm_cmple_pd(_mm_andnot_pd(magnitude, p.x1), limit),
                   _mm_cmple_pd(_mm_andnot_pd(magnitude, p.x2), limit)),
        _mm_and_pd(_mm_cmple_pd(_mm_andnot_pd(magnitude, p.y1), limit),
                   _mm_cmple_pd(_mm_andnot_pd(magnitude, p.y2), limit)));
    return _mm_movemask_pd(ok) == 3;
}

}  // namespace eq
