// GCC 12's AVX-512 headers leave the unused upper lanes of a widening cast
// undefined on purpose, and warn about it where they are inlined.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "equaliser/block_kernel.h"

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "equaliser/kernel_path.h"
#include "equaliser/lane_state.h"
#include "equaliser/lane_types.h"
#include "equaliser/process_steps.h"
#include "equaliser/segment_kernel.h"
#include "equaliser/silence_pass.h"
#include "equaliser/target_region.h"

namespace eq {

namespace {

// Calls shorter than this go frame by frame: a segment's filling and
// draining would cost more than the skew gains.
constexpr int32_t kShortestSegment = 3;

// The poll on a frame the bands take one after another (short calls, ring-
// outs: once in a poll interval), through the bands themselves.
void pollAllBands(Segment& g, int32_t controlIndex) {
    for (int k = 0; k < kBandCount; ++k) {
        BandFilter& band = *g.module->bands[k];
        scatterBand(g.state, k, band);
        pollBand(*g.module, k, g.controls, controlIndex);
        gatherBand(g.state, k, band);
    }
}

// One frame through the five bands one after another (below).
__m128 cascadeFrame(LaneState& s, float left, float right);

// What the sixteen frames from `first` ask for (kFlushes where an input
// is zero, kMaySkip too where both are), one byte each; none past `n`.
// Four frames an instruction wherever four are left, so a short call's
// frames are looked at without a branch each.
inline __m128i zerosOf(const float* in1, const float* in2, int32_t first, int32_t n) {
    const __m128 zero = _mm_setzero_ps();
    const __m128i flushes = _mm_set1_epi32(kFlushes), maySkip = _mm_set1_epi32(kMaySkip);
    __m128i four[4];
    for (int j = 0; j < 4; ++j) {
        const int32_t from = first + 4 * j;
        __m128 left, right;
        if (from >= n) {
            four[j] = _mm_setzero_si128();
            continue;
        }
        if (from + 4 <= n) {
            left = _mm_loadu_ps(in1 + from), right = _mm_loadu_ps(in2 + from);
        } else {
            // One to three frames left; past the last the inputs count as
            // non-zero: nothing asked.
            const int32_t left3 = n - from;
            const auto partial = [from, left3](const float* in) {
                return _mm_setr_ps(in[from], left3 > 1 ? in[from + 1] : 1.0f, left3 > 2 ? in[from + 2] : 1.0f, 1.0f);
            };
            left = partial(in1), right = partial(in2);
        }
        const __m128i leftZero = _mm_castps_si128(_mm_cmpeq_ps(left, zero));
        const __m128i rightZero = _mm_castps_si128(_mm_cmpeq_ps(right, zero));
        four[j] = _mm_or_si128(_mm_and_si128(_mm_or_si128(leftZero, rightZero), flushes),
                               _mm_and_si128(_mm_and_si128(leftZero, rightZero), maySkip));
    }
    return _mm_packus_epi16(_mm_packs_epi32(four[0], four[1]), _mm_packs_epi32(four[2], four[3]));
}

// Bytes `now` moved `kBytes` places on, the last of `before` coming in first.
template <int kBytes>
inline __m128i later(__m128i now, __m128i before) {
    return _mm_or_si128(_mm_slli_si128(now, kBytes), _mm_srli_si128(before, 16 - kBytes));
}

// What each frame's zeros ask for, and the steps at which something besides
// the sections happens, sixteen at a time: every byte is worked out in
// registers and stored once (bytes stored one by one and read back sixteen
// at a time would wait for the stores to reach the cache).
void stageSegment(Segment& g, const float* in1, const float* in2, int32_t n, int32_t counter,
                  int32_t controlIndex) {
    g.n = n;
    g.firstPoll = kPollInterval - counter;
    g.controlIndex = controlIndex;
    g.in1 = in1;
    g.in2 = in2;
    static_assert(kSkew * (kBandCount - 1) <= 16, "the skew reaches back no more than sixteen frames");
    const __m128i flushBit = _mm_set1_epi8(kFlushes), skipBit = _mm_set1_epi8(kMaySkip);
    __m128i before = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(g.zeros), before);
    for (int32_t first = 0; first < n + kLag; first += 16) {
        const __m128i now = first < n ? zerosOf(in1, in2, first, n) : _mm_setzero_si128();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(g.zeros + kLag + first), now);
        const __m128i some = _mm_or_si128(
            _mm_or_si128(now, later<kSkew>(now, before)),
            _mm_or_si128(_mm_or_si128(later<2 * kSkew>(now, before), later<3 * kSkew>(now, before)),
                         later<4 * kSkew>(now, before)));
        const __m128i events = _mm_or_si128(_mm_and_si128(some, flushBit), _mm_and_si128(now, skipBit));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(g.events + first), events);
        before = now;
    }
    for (int32_t poll = g.firstPoll; poll < n; poll += kPollInterval)
        for (int k = 0; k < kBandCount; ++k) g.events[poll + kSkew * k] |= kPolls;
}

// The segment's outputs to the host's buffers: Output1 before Output2, so
// that where both share one buffer Output2's sample stays, as when every
// frame is written in turn.
void giveOut(const Segment& g, float* out1, float* out2, int32_t n) {
    const float* outs = g.outs + 2 * kLag;
    int32_t f = 0;
    for (; f + 4 <= n; f += 4) {
        const __m128 low = _mm_load_ps(outs + 2 * f), high = _mm_load_ps(outs + 2 * f + 4);
        _mm_storeu_ps(out1 + f, _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(out2 + f, _mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    for (; f < n; ++f) out1[f] = outs[2 * f], out2[f] = outs[2 * f + 1];
}

}  // namespace

// The kernel for each instruction set: the same source, compiled for each.
namespace sse2 {
#include "equaliser/block_kernel_body.h"
}  // namespace sse2

QV_BEGIN_TARGET("avx")
namespace avx {
#include "equaliser/block_kernel_body.h"
}  // namespace avx
QV_END_TARGET

QV_BEGIN_TARGET("avx512f,avx512dq")
namespace avx512 {
#include "equaliser/block_kernel_body.h"
}  // namespace avx512
QV_END_TARGET

namespace {

// One frame through the five bands one after another, two lanes at a time;
// flushed first where an input is zero. Returns the outputs.
__m128 cascadeFrame(LaneState& s, float left, float right) {
    using L = Sse2Lanes;
    const bool flush = isZero(left) || isZero(right);
    const __m128d offset = _mm_set1_pd(denormalOffset);
    __m128d x = _mm_cvtps_pd(_mm_setr_ps(left, right, 0.0f, 0.0f));
    __m128 out = _mm_setzero_ps();
    for (int lane = 0; lane < 2 * kBandCount; lane += 2) {
        __m128d x1 = L::load(s.x1 + lane), x2 = L::load(s.x2 + lane);
        __m128d y1 = L::load(s.y1 + lane), y2 = L::load(s.y2 + lane);
        if (flush) {
            x1 = sse2::flushed<L>(x1, offset), x2 = sse2::flushed<L>(x2, offset);
            y1 = sse2::flushed<L>(y1, offset), y2 = sse2::flushed<L>(y2, offset);
        }
        const __m128d y = sse2::section<L>(L::load(s.b0 + lane), L::load(s.b1 + lane), L::load(s.b2 + lane),
                                           L::load(s.a1 + lane), L::load(s.a2 + lane), x, x1, x2, y1, y2);
        L::store(s.x2 + lane, x1), L::store(s.x1 + lane, x);
        L::store(s.y2 + lane, y1), L::store(s.y1 + lane, y);
        x = L::throughFloat(y, out);
    }
    return out;
}

void processBlockSse2(Module& m, float* const* positions, int32_t count) {
    sse2::processBlockWith<Sse2Lanes>(m, positions, count);
}

QV_TARGET_AVX void processBlockAvx(Module& m, float* const* positions, int32_t count) {
    avx::processBlockWith<AvxLanes>(m, positions, count);
}

QV_TARGET_AVX512 void processBlockAvx512(Module& m, float* const* positions, int32_t count) {
    avx512::processBlockWith<Avx512Lanes>(m, positions, count);
}

int32_t steadyStepsSse2(Segment& g) { return sse2::runSteps<Sse2Lanes, false>(g, kLag, -1).t; }
QV_TARGET_AVX int32_t steadyStepsAvx(Segment& g) {
    const int32_t end = avx::runSteps<AvxLanes, false>(g, kLag, -1).t;
    AvxLanes::leave();
    return end;
}
QV_TARGET_AVX512 int32_t steadyStepsAvx512(Segment& g) {
    const int32_t end = avx512::runSteps<Avx512Lanes, false>(g, kLag, -1).t;
    Avx512Lanes::leave();
    return end;
}

}  // namespace

int32_t runSteadySteps(Segment& g, KernelPath path) {
    return path == KernelPath::Avx512 ? steadyStepsAvx512(g)
           : path == KernelPath::Avx  ? steadyStepsAvx(g)
                                      : steadyStepsSse2(g);
}

void processBlock(Module& m, float* const* positions, int32_t count) {
    switch (kernelPath()) {
        case KernelPath::Avx512:
            return processBlockAvx512(m, positions, count);
        case KernelPath::Avx:
            return processBlockAvx(m, positions, count);
        case KernelPath::Sse2:
            break;
    }
    processBlockSse2(m, positions, count);
}

}  // namespace eq
