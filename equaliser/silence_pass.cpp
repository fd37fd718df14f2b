#include "equaliser/silence_pass.h"

#include <immintrin.h>

#include "equaliser/kernel_path.h"
#include "equaliser/process_steps.h"

#define QV_AVX __attribute__((target("avx")))

namespace eq {

namespace {

// Frames [n, n + 4) all ask to be skipped.
inline bool fourSilent(const float* left, const float* right, int32_t n) {
    const __m128 zero = _mm_setzero_ps();
    const __m128 silent = _mm_and_ps(_mm_cmpeq_ps(_mm_loadu_ps(left + n), zero),
                                     _mm_cmpeq_ps(_mm_loadu_ps(right + n), zero));
    return _mm_movemask_ps(silent) == 0xF;
}

// Frames [n, n + 8) all ask to be skipped: both inputs zero.
QV_AVX inline bool eightSilent(const float* left, const float* right, int32_t n) {
    const __m256 zero = _mm256_setzero_ps();
    const __m256 silent = _mm256_and_ps(_mm256_cmp_ps(_mm256_loadu_ps(left + n), zero, _CMP_EQ_OQ),
                                        _mm256_cmp_ps(_mm256_loadu_ps(right + n), zero, _CMP_EQ_OQ));
    return _mm256_movemask_ps(silent) == 0xFF;
}

// The last lane's sample: the last frame passed, as it was read (an output
// place over the other side's input has overwritten it since).
inline float lastLane(__m128 v) { return _mm_cvtss_f32(_mm_shuffle_ps(v, v, 3)); }

// Four frames from n, both inputs of each read before either output is
// written (an output may lie on the other side's input).
inline void passFour(const float* left, const float* right, float* out1, float* out2, int32_t n,
                     __m128& l, __m128& r) {
    l = _mm_loadu_ps(left + n);
    r = _mm_loadu_ps(right + n);
    _mm_storeu_ps(out1 + n, l);
    _mm_storeu_ps(out2 + n, r);
}

int32_t passSilenceSse2(const float* left, const float* right, float* out1, float* out2, int32_t limit,
                        SilentFrame& last) {
    int32_t n = 0;
    __m128 l = _mm_setzero_ps(), r = _mm_setzero_ps();
    for (; n + 4 <= limit && fourSilent(left, right, n); n += 4) passFour(left, right, out1, out2, n, l, r);
    if (n > 0) {
        last.left = lastLane(l);
        last.right = lastLane(r);
    }
    return n;
}

QV_AVX int32_t passSilenceAvx(const float* left, const float* right, float* out1, float* out2,
                              int32_t limit, SilentFrame& last) {
    int32_t n = 0;
    __m256 l = _mm256_setzero_ps(), r = _mm256_setzero_ps();
    for (; n + 8 <= limit && eightSilent(left, right, n); n += 8) {
        l = _mm256_loadu_ps(left + n);
        r = _mm256_loadu_ps(right + n);
        _mm256_storeu_ps(out1 + n, l);
        _mm256_storeu_ps(out2 + n, r);
    }
    __m128 l4 = _mm256_extractf128_ps(l, 1), r4 = _mm256_extractf128_ps(r, 1);
    if (n + 4 <= limit && fourSilent(left, right, n)) {
        passFour(left, right, out1, out2, n, l4, r4);
        n += 4;
    }
    if (n > 0) {
        last.left = lastLane(l4);
        last.right = lastLane(r4);
    }
    // Back to 128-bit code without the penalty of dirty upper halves.
    _mm256_zeroupper();
    return n;
}

}  // namespace

int32_t passSilence(const float* left, const float* right, float* out1, float* out2, int32_t limit,
                    SilentFrame& last) {
    int32_t n = kernelPath() != KernelPath::Sse2 ? passSilenceAvx(left, right, out1, out2, limit, last)
                                                 : passSilenceSse2(left, right, out1, out2, limit, last);
    for (; n < limit && isZero(left[n]) && isZero(right[n]); ++n) {
        last = {left[n], right[n]};
        out1[n] = last.left;
        out2[n] = last.right;
    }
    return n;
}

}  // namespace eq
