// Input audio as the equaliser takes it: an infinite or NaN sample becomes
// silence (0.0). Such a sample would go on through the bands' feedback into
// the following outputs until the module noticed and restarted the band;
// a host's audio graph can carry one from a broken plug-in upstream, and the
// equaliser had better not pass it on, let alone multiply it.
#pragma once

#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qvlv2 {

// Copies `count` samples, replacing every non-finite one with 0.0. Finite
// audio pays for one addition per four samples beside the copy: the samples
// are summed, and the sum is finite unless a sample is not (or, harmlessly,
// unless finite samples near the float's limit add up beyond it). Only a
// block whose sum is not finite is gone over again. (A plain loop, which
// the compiler leaves scalar, cost a sixth of the plug-in's whole time.)
inline void copyFinite(const float* __restrict from, int32_t count, float* __restrict to) {
    int32_t i = 0;
    float sum = 0.0f;
#if defined(__SSE2__)
    // Four sums, so no addition waits for the one before; written out, as
    // an array of them would live in memory at -O2.
    __m128 sum0 = _mm_setzero_ps(), sum1 = _mm_setzero_ps(), sum2 = _mm_setzero_ps(), sum3 = _mm_setzero_ps();
    for (; i + 16 <= count; i += 16) {
        const __m128 a = _mm_loadu_ps(from + i), b = _mm_loadu_ps(from + i + 4);
        const __m128 c = _mm_loadu_ps(from + i + 8), d = _mm_loadu_ps(from + i + 12);
        _mm_storeu_ps(to + i, a);
        _mm_storeu_ps(to + i + 4, b);
        _mm_storeu_ps(to + i + 8, c);
        _mm_storeu_ps(to + i + 12, d);
        sum0 = _mm_add_ps(sum0, a);
        sum1 = _mm_add_ps(sum1, b);
        sum2 = _mm_add_ps(sum2, c);
        sum3 = _mm_add_ps(sum3, d);
    }
    for (; i + 4 <= count; i += 4) {
        const __m128 a = _mm_loadu_ps(from + i);
        _mm_storeu_ps(to + i, a);
        sum0 = _mm_add_ps(sum0, a);
    }
    float lanes[4];
    _mm_storeu_ps(lanes, _mm_add_ps(_mm_add_ps(sum0, sum1), _mm_add_ps(sum2, sum3)));
    sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
#endif
    for (; i < count; ++i) {
        to[i] = from[i];
        sum += from[i];
    }
    if (std::isfinite(sum)) return;
    for (i = 0; i < count; ++i)
        if (!std::isfinite(to[i])) to[i] = 0.0f;
}

}  // namespace qvlv2
