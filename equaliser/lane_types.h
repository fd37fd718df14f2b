// Thin lane types for the block kernel: each is a register of kWidth doubles
// and the handful of operations the kernel needs on it. The kernel is written
// once over these and instantiated per instruction set; every lane does
// exactly the scalar double arithmetic (no fused multiply-add), so every
// width computes the same bits.
//
// The kernel's lanes are a band's left and right chains side by side: band k
// at lanes 2k and 2k + 1 of 16 (lanes 10 to 15 are spare and stay zero).
//
// Each function of the wider types carries its own target attribute. The
// kernel's templates are always inlined into one entry function per type,
// which carries the same attribute: only there may the compiler inline the
// wider types' functions, so the instantiation for a type is compiled for it
// and a processor without it never runs a line of it (kernel_path.cpp). No
// source file is compiled with other -m flags, so no inline function shared
// between targets can end up in a wider copy.
#pragma once

#include <immintrin.h>

#include <cstdint>

#define QV_LANE_INLINE inline __attribute__((always_inline))
#define QV_TARGET_AVX __attribute__((target("avx")))
#define QV_TARGET_AVX512 __attribute__((target("avx512f,avx512dq")))

namespace eq {

// SSE2: one band a register.
struct Sse2Lanes {
    using V = __m128d;
    using Tail = Sse2Lanes;           // band 5
    using ShortSegments = Sse2Lanes;  // see AvxLanes
    static constexpr int kLongSegmentFrom = 16;
    static constexpr int kWidth = 2;

    static QV_LANE_INLINE V load(const double* p) { return _mm_load_pd(p); }
    static QV_LANE_INLINE void store(double* p, V v) { _mm_store_pd(p, v); }
    static QV_LANE_INLINE V set1(double x) { return _mm_set1_pd(x); }
    static QV_LANE_INLINE V add(V a, V b) { return _mm_add_pd(a, b); }
    static QV_LANE_INLINE V sub(V a, V b) { return _mm_sub_pd(a, b); }
    static QV_LANE_INLINE V mul(V a, V b) { return _mm_mul_pd(a, b); }
    // Lanes where `mask` is set from a, the others from b.
    static QV_LANE_INLINE V select(V mask, V a, V b) {
        return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
    }
    // A frame's two inputs (left, right) as doubles in the register's last
    // two lanes.
    static QV_LANE_INLINE V frameAtTop(const float* left, const float* right) {
        return _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(left), _mm_load_ss(right)));
    }
    // `low`'s last two lanes, then `high`'s first kWidth - 2: each band's
    // lanes take the band before it's.
    static QV_LANE_INLINE V shiftIn(V low, V) { return low; }
    // The last two lanes.
    static QV_LANE_INLINE __m128d topPair(V v) { return v; }
    // Each lane rounded to a float and widened again; the first two floats
    // (band 5's outputs in the last register) go to `firstTwo`.
    static QV_LANE_INLINE V throughFloat(V y, __m128& firstTwo) {
        firstTwo = _mm_cvtpd_ps(y);
        return _mm_cvtps_pd(firstTwo);
    }
    // One bit a lane: |v| is not below `bound` (a NaN is not).
    static QV_LANE_INLINE unsigned notBelow(V v, V bound) {
        return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpnlt_pd(magnitude(v), bound)));
    }
    // One bit a lane: |v| is beyond `limit` (a NaN is).
    static QV_LANE_INLINE unsigned beyond(V v, V limit) {
        return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpnle_pd(magnitude(v), limit)));
    }
    static QV_LANE_INLINE void leave() {}

private:
    static QV_LANE_INLINE V magnitude(V v) { return _mm_andnot_pd(_mm_set1_pd(-0.0), v); }
};

// SSE2's lanes where AVX is there: the same, with a one-instruction select.
struct Avx128Lanes : Sse2Lanes {
    static QV_TARGET_AVX inline V select(V mask, V a, V b) { return _mm_blendv_pd(b, a, mask); }
};

// AVX: two bands a register.
struct AvxLanes {
    using Tail = Avx128Lanes;  // band 5
    // Segments shorter than kLongSegmentFrom frames go skewed less and through
    // ShortSegments (block_kernel_body.h). Such a segment, too short to
    // leave its filling and draining steps behind, waits at each step on a
    // band's output reaching the next band; the 128-bit steps move lanes and
    // convert in less time, and there they are the faster.
    using ShortSegments = Avx128Lanes;
    static constexpr int kLongSegmentFrom = 20;
    using V = __m256d;
    static constexpr int kWidth = 4;

    static QV_TARGET_AVX inline V load(const double* p) { return _mm256_load_pd(p); }
    static QV_TARGET_AVX inline void store(double* p, V v) { _mm256_store_pd(p, v); }
    static QV_TARGET_AVX inline V set1(double x) { return _mm256_set1_pd(x); }
    static QV_TARGET_AVX inline V add(V a, V b) { return _mm256_add_pd(a, b); }
    static QV_TARGET_AVX inline V sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static QV_TARGET_AVX inline V mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static QV_TARGET_AVX inline V select(V mask, V a, V b) { return _mm256_blendv_pd(b, a, mask); }
    static QV_TARGET_AVX inline V frameAtTop(const float* left, const float* right) {
        const __m128 pair = _mm_unpacklo_ps(_mm_load_ss(left), _mm_load_ss(right));
        return _mm256_cvtps_pd(_mm_movelh_ps(pair, pair));
    }
    static QV_TARGET_AVX inline V shiftIn(V low, V high) {
        return _mm256_permute2f128_pd(low, high, 0x21);
    }
    static QV_TARGET_AVX inline __m128d topPair(V v) { return _mm256_extractf128_pd(v, 1); }
    static QV_TARGET_AVX inline V throughFloat(V y, __m128& firstTwo) {
        firstTwo = _mm256_cvtpd_ps(y);
        return _mm256_cvtps_pd(firstTwo);
    }
    static QV_TARGET_AVX inline unsigned notBelow(V v, V bound) {
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(magnitude(v), bound, _CMP_NLT_UQ)));
    }
    static QV_TARGET_AVX inline unsigned beyond(V v, V limit) {
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(magnitude(v), limit, _CMP_NLE_UQ)));
    }
    // Back to SSE2 code without the cost of dirty upper halves.
    static QV_TARGET_AVX inline void leave() { _mm256_zeroupper(); }

private:
    static QV_TARGET_AVX inline V magnitude(V v) {
        return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v);
    }
};

// AVX-512: four bands a register, the fifth alone in a second.
struct Avx512Lanes {
    using V = __m512d;
    using Tail = Avx128Lanes;            // band 5
    using ShortSegments = Avx512Lanes;  // one register for bands 1 to 4 waits no longer
    static constexpr int kLongSegmentFrom = 80;
    static constexpr int kWidth = 8;

    static QV_TARGET_AVX512 inline V load(const double* p) { return _mm512_load_pd(p); }
    static QV_TARGET_AVX512 inline void store(double* p, V v) { _mm512_store_pd(p, v); }
    static QV_TARGET_AVX512 inline V set1(double x) { return _mm512_set1_pd(x); }
    static QV_TARGET_AVX512 inline V add(V a, V b) { return _mm512_add_pd(a, b); }
    static QV_TARGET_AVX512 inline V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static QV_TARGET_AVX512 inline V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static QV_TARGET_AVX512 inline V select(V mask, V a, V b) {
        return _mm512_mask_blend_pd(_mm512_movepi64_mask(_mm512_castpd_si512(mask)), b, a);
    }
    static QV_TARGET_AVX512 inline V frameAtTop(const float* left, const float* right) {
        return _mm512_broadcast_f64x2(_mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(left), _mm_load_ss(right))));
    }
    static QV_TARGET_AVX512 inline V shiftIn(V low, V high) {
        return _mm512_castsi512_pd(_mm512_alignr_epi64(_mm512_castpd_si512(high), _mm512_castpd_si512(low), 6));
    }
    static QV_TARGET_AVX512 inline __m128d topPair(V v) { return _mm512_extractf64x2_pd(v, 3); }
    static QV_TARGET_AVX512 inline V throughFloat(V y, __m128& firstTwo) {
        const __m256 f = _mm512_cvtpd_ps(y);
        firstTwo = _mm256_castps256_ps128(f);
        return _mm512_cvtps_pd(f);
    }
    static QV_TARGET_AVX512 inline unsigned notBelow(V v, V bound) {
        return _mm512_cmp_pd_mask(_mm512_abs_pd(v), bound, _CMP_NLT_UQ);
    }
    static QV_TARGET_AVX512 inline unsigned beyond(V v, V limit) {
        return _mm512_cmp_pd_mask(_mm512_abs_pd(v), limit, _CMP_NLE_UQ);
    }
    static QV_TARGET_AVX512 inline void leave() { _mm256_zeroupper(); }
};

}  // namespace eq
