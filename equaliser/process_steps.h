// The steps the processing loop takes per sample and per poll, shared by the
// sample-by-sample loop and the paired block kernel so both treat every
// sample alike.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "equaliser/band_filter.h"
#include "equaliser/module.h"

namespace eq {

enum class Treatment { Filter, FlushAndFilter, Skip };

// The positions of one call, already moved by the buffer offset.
struct CallPositions {
    explicit CallPositions(float* const* positions)
        : input1(positions[PIN_INPUT1]),
          input2(positions[PIN_INPUT2]),
          output1(positions[PIN_OUTPUT1]),
          output2(positions[PIN_OUTPUT2]),
          controls(positions + PIN_FIRST_CONTROL) {}
    const float* input1;
    const float* input2;
    float* output1;
    float* output2;
    float* const* controls;  // Freq1, Gain1, Q1, Type1, ... Type5
};

inline bool isZero(float sample) { return sample == 0.0f; }  // -0.0 is zero, NaN is not

// The treatment the inputs ask for. Skip means the frame may be skipped: it
// is, exactly while every band is at rest (see filtersAtRest); a filter
// still ringing is flushed and filtered instead, so zeros inside the music
// (shared zero crossings, a mono source on both inputs, quiet 16-bit
// passages) never cost the bands a time step. What stands in the output
// places is never read: a host that hands the module back its own buffers
// gets its rung-down silence skipped like any other.
inline Treatment decide(float left, float right) {
    const bool leftZero = isZero(left);
    const bool rightZero = isZero(right);
    if (!leftZero && !rightZero) return Treatment::Filter;
    return leftZero != rightZero ? Treatment::FlushAndFilter : Treatment::Skip;
}

// Every delay value of every band, on both chains, is smaller in magnitude
// than the flush's offset (1e-21), the reach of the flush itself: what a
// silent frame through such bands would give lies some 400 dB below full
// scale, so skipping it loses nothing anyone hears. (Exact zeros are not
// asked for: the flush rounds tiny values to a grid of about 1.9e-37, on
// which a decaying band keeps a limit cycle instead of reaching zero.)
inline bool filtersAtRest(const Module& m) {
    static_assert(offsetof(BandFilter, rightX2) == offsetof(BandFilter, leftY1) + 7 * sizeof(double),
                  "a band's eight delay values lie side by side");
    const __m128d bound = _mm_set1_pd(denormalOffset);
    const __m128d sign = _mm_set1_pd(-0.0);
    __m128d notBelow = _mm_setzero_pd();  // "not less than" holds for a NaN
    for (const BandFilter* band : m.bands) {
        const double* values = &band->leftY1;
        for (int j = 0; j < 8; j += 2)
            notBelow = _mm_or_pd(notBelow,
                                 _mm_cmpnlt_pd(_mm_andnot_pd(sign, _mm_loadu_pd(values + j)), bound));
    }
    return _mm_movemask_pd(notBelow) == 0;
}

// One biquad section on one chain: y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2,
// in double precision and summed in that order; the next band takes the
// result rounded to a float, while y1 keeps it unrounded.
inline float runSection(const BandFilter& f, double& x1, double& x2, double& y1, double& y2,
                        float input) {
    const double x = input;
    const double y = f.b0 * x + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return static_cast<float>(y);
}

// Adding and removing a tiny offset turns every value below about 9.4e-38
// (denormals included) into exact zero and leaves ordinary values alone.
inline double flushed(double value, double offset) { return (value + offset) - offset; }

inline void flushBand(BandFilter& band, double offset) {
    band.leftY1 = flushed(band.leftY1, offset);
    band.leftY2 = flushed(band.leftY2, offset);
    band.leftX1 = flushed(band.leftX1, offset);
    band.leftX2 = flushed(band.leftX2, offset);
    band.rightY1 = flushed(band.rightY1, offset);
    band.rightY2 = flushed(band.rightY2, offset);
    band.rightX1 = flushed(band.rightX1, offset);
    band.rightX2 = flushed(band.rightX2, offset);
}

// Truncation toward zero. A NaN or a value beyond the signed 32-bit range
// becomes INT32_MIN, as the processor's own conversion gives it; that is no
// response type, so such a band passes its input through.
inline int32_t toFilterType(float typeControl) {
    if (typeControl >= -2147483648.0f && typeControl < 2147483648.0f)
        return static_cast<int32_t>(typeControl);
    return INT32_MIN;
}

// Reads the four controls of every band at `controlIndex` and redesigns the
// bands whose values changed. A band whose delay values went non-finite (a
// NaN or infinite input, a NaN design) or grew far beyond any signal restarts
// from silence once its coefficients are finite again.
void poll(Module& module, float* const* controlPins, int32_t controlIndex);

// Band `band`'s four controls at `controlIndex` equal what its last poll
// took up (exact float comparisons: a NaN equals nothing), so a poll there
// would not redesign it.
inline bool controlsAsCached(const Module& m, int band, float* const* controlPins,
                             int32_t controlIndex) {
    float* const* c = controlPins + 4 * band;
    return c[CONTROL_FREQ][controlIndex] == m.cachedFreq[band] &&
           c[CONTROL_GAIN][controlIndex] == m.cachedGain[band] &&
           c[CONTROL_Q][controlIndex] == m.cachedQ[band] &&
           c[CONTROL_TYPE][controlIndex] == m.cachedType[band];
}

// The first half of one band's part of a poll: reads its four controls at
// `controlIndex` and, when they differ from its caches, takes them up and
// redesigns the band (which clears its delay values when the type changed).
// True when it redesigned.
bool redesignBand(Module& module, int band, float* const* controlPins, int32_t controlIndex);

// One band's part of a poll: the same reading and redesign, and the restart
// of a band that ran away, for band `band` alone (bands never depend on each
// other's designs), so a kernel that runs the bands some steps apart can
// poll each band as its turn comes.
void pollBand(Module& module, int band, float* const* controlPins, int32_t controlIndex);

// The largest delay value a band keeps at a poll (see poll.cpp).
constexpr double kMaxDelayMagnitude = 1099511627776.0;  // 2^40

}  // namespace eq
